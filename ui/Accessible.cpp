#include "ui/Accessible.h"
#include "ui/QtTexts.h"

#include "model/Encoding.h"
#include "model/RegisterMap.h"
#include "model/Shown.h"
#include "ui/Widgets.h"

#include <QSlider>
#include <cmath>

namespace {
constexpr const char *kPanelProperty = "zevPanel";

QAccessibleInterface *factory(const QString &, QObject *object)
{
    if (auto *bar = qobject_cast<TrackBar *>(object))
        return zev::findRegister(bar->address()) ? new BarAccessible(bar, bar->address()) : nullptr;
    if (object->isWidgetType() && object->property(kPanelProperty).toBool())
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Grouping);
    return nullptr;
}
} // namespace

void installAccessibility()
{
    static const bool installed = (QAccessible::installFactory(factory), true);
    (void)installed;
}

void markAsPanel(QWidget *frame)
{
    frame->setProperty(kPanelProperty, true);
}

BarAccessible::BarAccessible(QSlider *bar, std::uint8_t address)
    : QAccessibleWidget(bar, QAccessible::Slider), m_address(address)
{
}

QSlider *BarAccessible::bar() const
{
    return static_cast<QSlider *>(widget());
}

void *BarAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface *>(this);
    return QAccessibleWidget::interface_cast(type);
}

QString BarAccessible::shownAt(int position) const
{
    const zev::RegisterRow &row = *zev::findRegister(m_address);
    return look::said(zev::shownValue(row, zev::encodePosition(row, position)));
}

double BarAccessible::numberAt(int position) const
{
    if (const auto number = zev::numberShown(shownAt(position).toStdString())) return *number;
    // A text without a number counts by its place from the bottom end, as the handle moves.
    return bar()->maximum() - position;
}

QString BarAccessible::text(QAccessible::Text which) const
{
    if (which == QAccessible::Value) return shownAt(bar()->value());
    return QAccessibleWidget::text(which);
}

QVariant BarAccessible::currentValue() const
{
    return numberAt(bar()->value());
}

// The position whose number is nearest to the one asked for.
void BarAccessible::setCurrentValue(const QVariant &value)
{
    const double wanted = value.toDouble();
    int best = bar()->value();
    for (int position = bar()->minimum(); position <= bar()->maximum(); ++position)
        if (std::abs(numberAt(position) - wanted) < std::abs(numberAt(best) - wanted))
            best = position;
    bar()->setValue(best);
}

QVariant BarAccessible::maximumValue() const
{
    return std::max(numberAt(bar()->minimum()), numberAt(bar()->maximum()));
}

QVariant BarAccessible::minimumValue() const
{
    return std::min(numberAt(bar()->minimum()), numberAt(bar()->maximum()));
}

QVariant BarAccessible::minimumStepSize() const
{
    if (bar()->maximum() == bar()->minimum()) return 0.0;
    return std::abs(numberAt(bar()->minimum() + 1) - numberAt(bar()->minimum()));
}
