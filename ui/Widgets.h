// Small widgets of the main window that Qt does not offer as such.
#pragma once

#include <QSpinBox>
#include <QStringList>
#include <QWidget>

class QSlider;

/// A column of captions beside a vertical track bar, each drawn level with one position of
/// the bar (first caption at the top). Several bars of equal size can share one scale.
class ScaleWidget : public QWidget {
    Q_OBJECT
public:
    ScaleWidget(QSlider *bar, const QStringList &captions, QWidget *parent = nullptr);
    const QStringList &captions() const { return m_captions; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QSlider *m_bar = nullptr;
    QStringList m_captions;
};

/// A spin box whose text cannot be typed, pasted or cut: only its arrow buttons and the up
/// and down arrow keys change the value, one step at a time.
class SpinEdit : public QSpinBox {
    Q_OBJECT
public:
    explicit SpinEdit(QWidget *parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
};

/// A vertical track bar as the panel uses them: Min at the top, steps of one, arrow keys and
/// the wheel moving the handle the way they point.
QSlider *makeTrackBar(int min, int max, int initial, bool ticks, QWidget *parent = nullptr);
