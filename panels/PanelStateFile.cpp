#include "panels/PanelStateFile.h"

#include "controls/Button.h"
#include "controls/Knob.h"
#include "panels/PanelsLog.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>
#include <cmath>

namespace PanelStateFile {

QSettings* open(QWidget* panel, const QString& fileName)
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir(dir).mkpath(dir);
    return new QSettings(dir + fileName, QSettings::IniFormat, panel);
}

namespace {

// A stored dial value that is no finite number gives the key's default: text
// read as 0 would turn a silent volume up to unity. A number beyond any
// knob's range is bounded before rounding, so it cannot overflow.
int dialValue(const QVariant& stored, int fallback)
{
    bool isNumber = false;
    const double number = stored.toDouble(&isNumber);
    if (!isNumber || !std::isfinite(number))
        return fallback;
    return qRound(std::clamp(number, -1e6, 1e6));
}

} // namespace

void load(QSettings& settings, std::initializer_list<Entry> entries)
{
    for (const Entry& entry : entries) {
        if (entry.button)
            entry.button->setValue(settings.value(entry.key, false).toBool());
        else
            entry.knob->setValue(dialValue(settings.value(entry.key, entry.fallback), entry.fallback));
    }
    qCDebug(lcPanels) << "已从配置文件加载控件状态";
}

bool writeBack(QSettings& settings, std::initializer_list<Entry> entries)
{
    bool written = false;
    for (const Entry& entry : entries) {
        const QVariant state = entry.button ? QVariant(entry.button->status) : QVariant(entry.knob->value);
        // The ini format keeps every value as text.
        if (settings.contains(entry.key) && settings.value(entry.key).toString() == state.toString())
            continue;
        settings.setValue(entry.key, state);
        written = true;
    }
    return written;
}

} // namespace PanelStateFile
