#include "settings/SaveFailureNotice.h"

namespace {

QSettings* renewed(QSettings* old)
{
    auto* fresh = new QSettings(old->fileName(), old->format(), old->parent());
    for (const QString& key : old->allKeys())
        fresh->setValue(key, old->value(key));
    delete old;
    return fresh;
}

} // namespace

SaveFailureNotice& SaveFailureNotice::instance()
{
    static SaveFailureNotice notice;
    return notice;
}

bool SaveFailureNotice::sync(QSettings*& settings)
{
    const QString fileName = settings->fileName();
    if (failing.contains(fileName))
        settings = renewed(settings);
    settings->sync();
    const QSettings::Status status = settings->status();
    if (status == QSettings::NoError) {
        failing.remove(fileName);
        return true;
    }
    if (!failing.contains(fileName)) {
        failing.insert(fileName);
        emit notKept(fileName, status);
    }
    return false;
}
