#include "ui/FocusStyle.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QPainter>
#include <QSlider>
#include <QStyleOption>
#include <QTabBar>

namespace {
constexpr int kMarkWidth = 2;

void drawMark(QPainter *painter, const QRect &rect)
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setPen(
        QPen(FocusStyle::markColor(), kMarkWidth, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(
        rect.adjusted(kMarkWidth / 2, kMarkWidth / 2, -kMarkWidth / 2, -kMarkWidth / 2));
    painter->restore();
}
} // namespace

QColor FocusStyle::markColor()
{
    return {0, 0, 96};
}

void FocusStyle::drawPrimitive(PrimitiveElement element, const QStyleOption *option,
                               QPainter *painter, const QWidget *widget) const
{
    if (element == PE_FrameFocusRect) {
        drawMark(painter, option->rect);
        return;
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
}

void FocusStyle::drawControl(ControlElement element, const QStyleOption *option,
                             QPainter *painter, const QWidget *widget) const
{
    QProxyStyle::drawControl(element, option, painter, widget);
    // A push button's own focus look and a tab's tint are faint: the mark goes all round them.
    if ((element == CE_PushButton || element == CE_TabBarTab) && (option->state & State_HasFocus))
        drawMark(painter, option->rect);
}

void FocusStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex *option,
                                    QPainter *painter, const QWidget *widget) const
{
    QProxyStyle::drawComplexControl(control, option, painter, widget);
    if (control == CC_Slider && (option->state & State_HasFocus)) drawMark(painter, option->rect);
}

void useFocusStyle(QWidget *root)
{
    static FocusStyle *const style = [] {
        auto *made = new FocusStyle;
        made->setParent(qApp);
        return made;
    }();
    for (QWidget *widget : root->findChildren<QWidget *>())
        if (qobject_cast<QAbstractButton *>(widget) || qobject_cast<QSlider *>(widget) ||
            qobject_cast<QTabBar *>(widget))
            widget->setStyle(style);
}
