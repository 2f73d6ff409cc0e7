#pragma once

#include <QString>

#include <initializer_list>

class Button;
class Knob;
class QSettings;
class QWidget;

// A panel's ini file: one per model in the per-user application data
// directory, holding the last state of every control.
namespace PanelStateFile {

// One control's key and its value when the file does not have it yet.
struct Entry {
    const char* key;
    Button* button;
    Knob* knob;
    int fallback;
};

inline Entry button(const char* key, Button* control) { return { key, control, nullptr, 0 }; }
inline Entry dial(const char* key, Knob* control, int fallback) { return { key, nullptr, control, fallback }; }

// fileName starts with a slash, e.g. "/kx2.ini"; the settings object is a
// child of the panel.
QSettings* open(QWidget* panel, const QString& fileName);

// Sets each control in the given order through its own setter, so each
// control's handler sends the stored state to the device.
void load(QSettings& settings, std::initializer_list<Entry> entries);

// Writes each control's state where the file does not hold it yet (a
// missing key, a value the control clamped). True when anything was
// written, so the caller flushes once.
bool writeBack(QSettings& settings, std::initializer_list<Entry> entries);

} // namespace PanelStateFile
