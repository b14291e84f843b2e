#include "ui/Widgets.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <algorithm>

ScaleWidget::ScaleWidget(QSlider *bar, const QStringList &captions, QWidget *parent)
    : QWidget(parent), m_bar(bar), m_captions(captions)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
}

QSize ScaleWidget::sizeHint() const
{
    int width = 0;
    for (const QString &caption : m_captions)
        width = std::max(width, fontMetrics().horizontalAdvance(caption));
    return {width + 4, fontMetrics().height() * 2};
}

QList<QPoint> ScaleWidget::captionOrigins() const
{
    QList<QPoint> origins;
    if (m_captions.isEmpty()) return origins;
    QStyleOptionSlider option;
    option.initFrom(m_bar);
    option.orientation = Qt::Vertical;
    option.minimum = m_bar->minimum();
    option.maximum = m_bar->maximum();
    const int handle = m_bar->style()->pixelMetric(QStyle::PM_SliderLength, &option, m_bar);
    const int span = m_bar->height() - handle;
    // The bar's top edge in this widget's coordinates; both usually share a row.
    const int top = mapFromGlobal(m_bar->mapToGlobal(QPoint(0, 0))).y() + handle / 2;
    const int count = static_cast<int>(m_captions.size());
    const int ascent = fontMetrics().ascent() - fontMetrics().descent();
    for (int i = 0; i < count; ++i) {
        const int y = count == 1 ? top : top + span * i / (count - 1);
        origins << QPoint(2, y + ascent / 2);
    }
    return origins;
}

QList<QRect> ScaleWidget::captionRects() const
{
    QList<QRect> rects;
    const QList<QPoint> origins = captionOrigins();
    for (qsizetype i = 0; i < origins.size(); ++i) // the ink, not the font's (taller) line
        rects << fontMetrics().tightBoundingRect(m_captions[i]).translated(origins[i]);
    return rects;
}

void ScaleWidget::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QList<QPoint> origins = captionOrigins();
    for (qsizetype i = 0; i < origins.size(); ++i)
        painter.drawText(origins[i], m_captions[i]);
}

SpinEdit::SpinEdit(QWidget *parent) : QSpinBox(parent)
{
    lineEdit()->setReadOnly(true);
    setContextMenuPolicy(Qt::NoContextMenu);
    setFocusPolicy(Qt::StrongFocus);
}

void SpinEdit::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) {
        QSpinBox::keyPressEvent(event);
        return;
    }
    // Page keys would jump ten steps; every other key would edit the text.
    event->ignore();
}

void SpinEdit::wheelEvent(QWheelEvent *event)
{
    event->ignore();
}

void SpinEdit::contextMenuEvent(QContextMenuEvent *event)
{
    event->ignore();
}

TrackBar::TrackBar(std::uint8_t address, QWidget *parent)
    : QSlider(Qt::Vertical, parent), m_address(address)
{
}

void TrackBar::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key();
    if ((event->modifiers() & Qt::ControlModifier) &&
        (key == Qt::Key_PageUp || key == Qt::Key_PageDown)) {
        event->ignore();
        return;
    }
    if (key == Qt::Key_Home || key == Qt::Key_End) {
        const bool top = key == Qt::Key_Home;
        const int end = top ? minimum() : maximum();
        if (end == m_loudEnd) {
            const int tenth = std::max(1, (maximum() - minimum() + 5) / 10);
            setValue(top ? value() - tenth : value() + tenth);
        } else
            triggerAction(top ? SliderToMinimum : SliderToMaximum);
        event->accept();
        return;
    }
    QSlider::keyPressEvent(event);
}

TrackBar *makeTrackBar(std::uint8_t address, int min, int max, int initial, bool ticks,
                       QWidget *parent)
{
    auto *bar = new TrackBar(address, parent);
    bar->setRange(min, max);
    bar->setSingleStep(1);
    bar->setPageStep(1);
    // Qt draws a vertical slider's minimum at the bottom; the panel's bars have it on top,
    // and Up must then move the handle up, towards Min.
    bar->setInvertedAppearance(true);
    bar->setInvertedControls(true);
    bar->setTickPosition(ticks ? QSlider::TicksBothSides : QSlider::NoTicks);
    bar->setTickInterval(1);
    bar->setValue(initial);
    return bar;
}
