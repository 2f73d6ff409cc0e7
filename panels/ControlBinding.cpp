#include "panels/ControlBinding.h"

#include "controls/Button.h"
#include "controls/Knob.h"

#include <QSettings>
#include <QSignalBlocker>

#include <algorithm>
#include <cmath>

namespace {

// Text read as 0 would turn a silent volume up to unity. A number beyond
// any knob's range is bounded before rounding, so it cannot overflow.
int dialValue(const QVariant& stored, int fallback)
{
    bool isNumber = false;
    const double number = stored.toDouble(&isNumber);
    if (!isNumber || !std::isfinite(number))
        return fallback;
    return qRound(std::clamp(number, -1e6, 1e6));
}

} // namespace

ControlBinding::ControlBinding(const char* key, int fallback, Knob* knob, Send send)
    : iniKey(key)
    , fallback(fallback)
    , knob(knob)
    , button(nullptr)
    , sendChange(std::move(send))
{
}

ControlBinding::ControlBinding(const char* key, Button* button, Send send)
    : iniKey(key)
    , fallback(0)
    , knob(nullptr)
    , button(button)
    , sendChange(std::move(send))
{
}

QVariant ControlBinding::state() const
{
    return button ? QVariant(button->status) : QVariant(knob->value);
}

int ControlBinding::value() const
{
    return button ? int(button->status) : knob->value;
}

int ControlBinding::minimum() const
{
    return button ? 0 : knob->minValue;
}

int ControlBinding::maximum() const
{
    return button ? 1 : knob->maxValue;
}

void ControlBinding::setValue(int value)
{
    if (button)
        button->setValue(value == 1);
    else
        knob->setValue(value);
}

void ControlBinding::showValue(int value)
{
    const QSignalBlocker quiet(button ? static_cast<QObject*>(button) : knob);
    setValue(value);
}

void ControlBinding::restore(const QSettings& file)
{
    if (button)
        button->setValue(file.value(iniKey, false).toBool());
    else
        knob->setValue(dialValue(file.value(iniKey, fallback), fallback));
}

// The ini format keeps every value as text.
bool ControlBinding::writeBack(QSettings& file) const
{
    if (file.contains(iniKey) && file.value(iniKey).toString() == state().toString())
        return false;
    file.setValue(iniKey, state());
    return true;
}

void ControlBinding::resend()
{
    if (button)
        button->setValue(button->status);
    else
        knob->setValue(knob->value);
}
