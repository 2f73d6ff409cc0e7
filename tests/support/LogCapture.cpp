#include "tests/support/LogCapture.h"

#include <QMutex>
#include <QtGlobal>

namespace {

QMutex capturedLock;
QStringList captured;
QtMessageHandler previousHandler = nullptr;

void captureMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    {
        QMutexLocker locker(&capturedLock);
        captured.append(message);
    }
    if (previousHandler)
        previousHandler(type, context, message);
}

} // namespace

LogCapture::LogCapture()
{
    clear();
    previousHandler = qInstallMessageHandler(captureMessage);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(previousHandler);
}

QStringList LogCapture::lines() const
{
    QMutexLocker locker(&capturedLock);
    return captured;
}

void LogCapture::clear()
{
    QMutexLocker locker(&capturedLock);
    captured.clear();
}
