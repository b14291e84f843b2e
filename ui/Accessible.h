// What assistive technology learns of the window beyond what Qt tells it. A track bar's value
// is the number its label or scale shows ("68dB" is 68, "b2" is -2) and its value text that
// label, so that a screen reader reads what a sighted user reads, moving the same way, not the
// bar's raw position. A panel (a frame marked with markAsPanel) is a group, named by its
// caption.
#pragma once

#include <QAccessibleWidget>

#include <cstdint>

class QSlider;

class BarAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    BarAccessible(QSlider *bar, std::uint8_t address);

    void *interface_cast(QAccessible::InterfaceType type) override;
    QString text(QAccessible::Text which) const override;

    QVariant currentValue() const override;
    void setCurrentValue(const QVariant &value) override;
    QVariant maximumValue() const override;
    QVariant minimumValue() const override;
    QVariant minimumStepSize() const override;

private:
    QSlider *bar() const;
    QString shownAt(int position) const;
    double numberAt(int position) const;

    std::uint8_t m_address;
};

/// Makes track bars and panels use these interfaces; once, before any is asked for.
void installAccessibility();
/// Marks a frame as a panel, before anything is put in it.
void markAsPanel(QWidget *frame);
