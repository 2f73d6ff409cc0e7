#pragma once

#include "panels/ModelPanel.h"

#include <QCoreApplication>
#include <QMap>
#include <QString>
#include <QStringList>

// One preset on disk: an ini file whose [Preset] group holds the model it
// was saved on and each control by name, as a whole number ("mic1.gain=20",
// "headphone.mute=1"). A file copied in from elsewhere reads the same.
class PresetFile
{
    Q_DECLARE_TR_FUNCTIONS(PresetFile)

public:
    explicit PresetFile(const QString& path);

    // False, with error(), when the file cannot be read, is no ini file, has
    // no model or holds a value that is no whole number.
    bool read();
    // Keeps of what was read the controls a panel with these infos has, the
    // rest as skipped(). False, with error(), when a value lies outside its
    // control's range on the model the preset was saved on; on another
    // model such a control is skipped.
    bool fit(const QString& liveModel, const QList<ControlInfo>& infos);
    bool write(const QString& model, const QMap<QString, int>& values);

    const QString& model() const { return savedOn; }
    const QMap<QString, int>& controls() const { return values; }
    const QStringList& skipped() const { return left; }
    const QString& error() const { return fault; }

private:
    bool fail(const QString& what);

    QString path;
    QString savedOn;
    QMap<QString, int> values;
    QStringList left;
    QString fault;
};
