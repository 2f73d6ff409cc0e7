#include "panels/PanelStateFile.h"

#include "controls/Button.h"
#include "controls/Knob.h"

#include <QDebug>
#include <QDir>
#include <QSettings>
#include <QStandardPaths>

namespace PanelStateFile {

QSettings* open(QWidget* panel, const QString& fileName)
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir(dir).mkpath(dir);
    return new QSettings(dir + fileName, QSettings::IniFormat, panel);
}

void load(QSettings& settings, std::initializer_list<Entry> entries)
{
    // All read before any is set: setting one control runs handlers that
    // write other controls' keys (MUTE writes its volume knob's).
    QVariantList stored;
    for (const Entry& entry : entries)
        stored << settings.value(entry.key, entry.button ? QVariant(false) : QVariant(entry.fallback));
    auto value = stored.cbegin();
    for (const Entry& entry : entries) {
        if (entry.button)
            entry.button->setValue(value->toBool());
        else
            entry.knob->setValue(value->toInt());
        ++value;
    }
    qDebug() << "已从配置文件加载控件状态";
}

} // namespace PanelStateFile
