#include "controls/KnobAccessible.h"

#include "controls/Knob.h"

#include <QtMath>

#include <mutex>

KnobAccessible::KnobAccessible(Knob* knob)
    : QAccessibleWidget(knob, QAccessible::Dial)
{
}

void KnobAccessible::install()
{
    static std::once_flag installed;
    std::call_once(installed, [] { QAccessible::installFactory(&KnobAccessible::create); });
}

// Asked for the most derived class first, so any Knob is served here.
QAccessibleInterface* KnobAccessible::create(const QString&, QObject* object)
{
    if (auto* knob = qobject_cast<Knob*>(object))
        return new KnobAccessible(knob);
    return nullptr;
}

Knob* KnobAccessible::knob() const
{
    return static_cast<Knob*>(widget());
}

QString KnobAccessible::text(QAccessible::Text t) const
{
    if (t != QAccessible::Value)
        return QAccessibleWidget::text(t);
    const QString number = knob()->shownNumber();
    return knob()->unit.isEmpty() ? number : number + QLatin1Char(' ') + knob()->unit;
}

void* KnobAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::ValueInterface)
        return static_cast<QAccessibleValueInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

QVariant KnobAccessible::currentValue() const
{
    return knob()->value;
}

// Tools send any number, often a fractional one: it is rounded to a step,
// and bounded first so that a huge one cannot overflow on the way. What is
// no number at all is ignored rather than taken as a bound: a volume must
// not jump to its maximum on a malformed request.
void KnobAccessible::setCurrentValue(const QVariant& value)
{
    bool isNumber = false;
    const double requested = value.toDouble(&isNumber);
    if (!isNumber || !qIsFinite(requested))
        return;
    Knob* target = knob();
    target->setValue(qRound(qBound<double>(target->minValue, requested, target->maxValue)));
}

QVariant KnobAccessible::maximumValue() const
{
    return knob()->maxValue;
}

QVariant KnobAccessible::minimumValue() const
{
    return knob()->minValue;
}

QVariant KnobAccessible::minimumStepSize() const
{
    return 1;
}
