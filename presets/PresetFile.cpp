#include "presets/PresetFile.h"

#include <QDir>
#include <QFile>
#include <QSettings>

#include <algorithm>

namespace {

const QString kGroup = QStringLiteral("Preset");
const QString kModelKey = QStringLiteral("model");

// QSettings passes over what it cannot parse; a preset holds nothing of
// the kind. 0 when every line is a group, an entry, a comment or blank.
int firstForeignLine(const QByteArray& text)
{
    const QList<QByteArray> lines = text.split('\n');
    for (int at = 0; at < lines.size(); ++at) {
        const QByteArray line = lines[at].trimmed();
        const bool group = line.startsWith('[') && line.endsWith(']');
        if (!line.isEmpty() && !line.startsWith(';') && !line.startsWith('#') && !group && line.indexOf('=') < 1)
            return at + 1;
    }
    return 0;
}

} // namespace

PresetFile::PresetFile(const QString& path)
    : path(path)
{
}

bool PresetFile::read()
{
    savedOn.clear();
    values.clear();
    left.clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(tr("it cannot be read (%1)").arg(file.errorString()));
    if (const int line = firstForeignLine(file.readAll()))
        return fail(tr("line %1 is not ini").arg(line));
    file.close();
    QSettings ini(path, QSettings::IniFormat);
    ini.beginGroup(kGroup);
    savedOn = ini.value(kModelKey).toString();
    if (savedOn.isEmpty())
        return fail(tr("it has no [Preset] group naming its model"));
    for (const QString& key : ini.childKeys()) {
        if (key == kModelKey)
            continue;
        bool isNumber = false;
        const int value = ini.value(key).toString().toInt(&isNumber);
        if (!isNumber)
            return fail(tr("the value of %1 is not a whole number").arg(key));
        values.insert(key, value);
    }
    return true;
}

bool PresetFile::fit(const QString& liveModel, const QList<ControlInfo>& infos)
{
    QMap<QString, int> taken;
    left.clear();
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        const auto info = std::find_if(infos.cbegin(), infos.cend(), [&](const ControlInfo& each) { return each.name == it.key(); });
        if (info != infos.cend() && info->minimum <= it.value() && it.value() <= info->maximum) {
            taken.insert(it.key(), it.value());
            continue;
        }
        if (info != infos.cend() && savedOn == liveModel)
            return fail(tr("%1=%2 is outside %3 to %4").arg(it.key()).arg(it.value()).arg(info->minimum).arg(info->maximum));
        left << it.key();
    }
    values = taken;
    return true;
}

// Anything the file held before goes: a preset is only what was saved last.
bool PresetFile::write(const QString& model, const QMap<QString, int>& controls)
{
    QSettings ini(path, QSettings::IniFormat);
    ini.clear();
    ini.beginGroup(kGroup);
    ini.setValue(kModelKey, model);
    for (auto it = controls.cbegin(); it != controls.cend(); ++it)
        ini.setValue(it.key(), it.value());
    ini.endGroup();
    ini.sync();
    if (ini.status() != QSettings::NoError)
        return fail(tr("it cannot be written"));
    savedOn = model;
    values = controls;
    return true;
}

bool PresetFile::fail(const QString& what)
{
    fault = tr("Preset file %1: %2.").arg(QDir::toNativeSeparators(path), what);
    return false;
}
