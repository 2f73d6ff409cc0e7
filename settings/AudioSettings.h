#pragma once

#include <QList>
#include <QString>

#include <array>
#include <optional>

class QObject;
class QSettings;

// The four audio settings as numbers: sizes in samples or frames, the rate in
// Hz, safe mode 1 when on. setting.ini keeps them as the texts a user reads
// ("192", "Enabled"), under "Audio/..." and "USB/...".
class AudioSettings
{
public:
    // In the order stored values are applied.
    enum Setting { UsbLatency, BufferSize, SafeMode, SampleRate };

    // What a setting can be, in the order it is offered; a fresh set holds the first.
    static const QList<unsigned int>& choices(Setting setting);
    // The value's text in setting.ini.
    static QString text(Setting setting, unsigned int value);

    // setting.ini in the per-user data directory, which is made if missing.
    static QSettings* openFile(QObject* parent);
    // The stored value, or the default when the key is missing; nothing when
    // the stored text is no choice.
    static std::optional<unsigned int> read(const QSettings& file, Setting setting);
    static bool isStored(const QSettings& file, Setting setting);
    // Writes the setting's text unless the file holds it already.
    void write(QSettings& file, Setting setting) const;

    unsigned int operator[](Setting setting) const { return values[setting]; }
    unsigned int& operator[](Setting setting) { return values[setting]; }

private:
    std::array<unsigned int, 4> values { 8, 48, 0, 44100 };
};
