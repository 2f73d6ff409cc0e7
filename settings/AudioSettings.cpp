#include "settings/AudioSettings.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>

namespace {

const QString kKeys[] = { "USB/LatencySize", "Audio/BufferSize", "USB/SlowMode", "Audio/SampleRate" };
// What stands for a key the file does not hold.
constexpr unsigned int kDefaults[] = { 8, 192, 0, 44100 };

} // namespace

const QList<unsigned int>& AudioSettings::choices(Setting setting)
{
    static const QList<unsigned int> all[] = { { 8, 16, 24, 32 },
                                               { 48, 64, 96, 128, 192, 256, 512, 1024 },
                                               { 0, 1 },
                                               { 44100, 48000 } };
    return all[setting];
}

QString AudioSettings::text(Setting setting, unsigned int value)
{
    if (setting == SafeMode)
        return value ? QStringLiteral("Enabled") : QStringLiteral("Disabled");
    return QString::number(value);
}

QSettings* AudioSettings::openFile(QObject* parent)
{
    const QString directory = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(directory);
    return new QSettings(directory + "/setting.ini", QSettings::IniFormat, parent);
}

std::optional<unsigned int> AudioSettings::read(const QSettings& file, Setting setting)
{
    const QString stored = file.value(kKeys[setting], text(setting, kDefaults[setting])).toString();
    for (const unsigned int choice : choices(setting))
        if (text(setting, choice) == stored)
            return choice;
    return std::nullopt;
}

bool AudioSettings::isStored(const QSettings& file, Setting setting)
{
    return file.contains(kKeys[setting]);
}

void AudioSettings::write(QSettings& file, Setting setting) const
{
    const QString value = text(setting, values[setting]);
    if (file.value(kKeys[setting]).toString() != value)
        file.setValue(kKeys[setting], value);
}
