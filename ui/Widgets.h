// Small widgets of the main window that Qt does not offer as such.
#pragma once

#include <QSlider>
#include <QSpinBox>
#include <QStringList>
#include <QWidget>
#include <cstdint>

/// A column of captions beside a vertical track bar, each drawn level with one position of
/// the bar (first caption at the top). Several bars of equal size can share one scale.
class ScaleWidget : public QWidget {
    Q_OBJECT
public:
    ScaleWidget(QSlider *bar, const QStringList &captions, QWidget *parent = nullptr);
    const QStringList &captions() const { return m_captions; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }
    /// Where each caption's ink falls, in this widget's coordinates.
    QList<QRect> captionRects() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    /// Where each caption's text starts (its baseline), level with one position of the bar.
    QList<QPoint> captionOrigins() const;
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

/// A vertical track bar as the panel uses them: Min at the top, the arrow keys, the page keys
/// and the wheel moving the handle the way they point, one step.
/// Home and End go to the top and the bottom end at once, except towards the bar's loud end
/// (the larger number: full volume, the strongest boost), where they move a tenth of the
/// range: a single stray key never takes a level to its loudest. Ctrl with a page key is left
/// to the window (it changes pages).
class TrackBar : public QSlider {
    Q_OBJECT
public:
    explicit TrackBar(std::uint8_t address, QWidget *parent = nullptr);
    /// The register the bar shows.
    std::uint8_t address() const { return m_address; }
    /// The end (minimum() or maximum()) whose value shows the larger number.
    void setLoudEnd(int position) { m_loudEnd = position; }
    int loudEnd() const { return m_loudEnd; }

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    std::uint8_t m_address;
    int m_loudEnd = 0;
};

TrackBar *makeTrackBar(std::uint8_t address, int min, int max, int initial, bool ticks,
                       QWidget *parent = nullptr);
