#pragma once

#include <QVariant>

#include <functional>

class Button;
class Knob;
class QSettings;

// A knob or switch, the ini key that keeps its state with the value it has
// before the file holds one, and what a change of it sends to the device.
// The panel runs send and then stores the state, for a hand's change and a
// programme's alike.
class ControlBinding
{
public:
    // True when the device took the change.
    using Send = std::function<bool(int)>;

    ControlBinding(const char* key, int fallback, Knob* knob, Send send);
    ControlBinding(const char* key, Button* button, Send send);

    const char* key() const { return iniKey; }
    // What the file keeps: a switch's status as a bool, a knob's value.
    QVariant state() const;
    bool send(int value) const { return sendChange(value); }

    bool isSwitch() const { return button != nullptr; }
    // The control's own value (a switch's 0 or 1) and range.
    int value() const;
    int minimum() const;
    int maximum() const;
    // Through the control's setter, as a hand's change.
    void setValue(int value);
    // Shows the value without running the control's handler.
    void showValue(int value);

    // Sets the control from the file through its own setter, so its
    // handler sends the stored state. A stored dial value that is no finite
    // number gives the default.
    void restore(const QSettings& file);
    // Writes the state where the file does not hold it yet (a missing key,
    // a value the control clamped). True when anything was written.
    bool writeBack(QSettings& file) const;
    // Sends the state again through the control's setter.
    void resend();

private:
    const char* iniKey;
    int fallback;
    Knob* knob;
    Button* button;
    Send sendChange;
};
