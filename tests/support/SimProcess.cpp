#include "tests/support/SimProcess.h"

#include "sim/SimControlClient.h"

#include <QDeadlineTimer>
#include <QJsonDocument>

namespace {

constexpr int kReadyLimitMs = 5000;
constexpr int kQuitLimitMs = 2000;
// Bounds each wait for the sim's output, so the control socket is tried again soon.
constexpr int kPollMs = 50;
constexpr int kProbeMs = 500;

QString controlPathIn(const QStringList& arguments)
{
    const qsizetype at = arguments.indexOf(QStringLiteral("--control"));
    if (at >= 0 && at + 1 < arguments.size())
        return arguments.at(at + 1);
    QString error;
    return SimControlClient::defaultControlPath(&error);
}

} // namespace

SimProcess::SimProcess(const QStringList& arguments)
    : m_controlPath(controlPathIn(arguments))
{
    // The sim's complaints belong in the test log.
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral(KESTRUM_SIM_PATH), arguments + QStringList { QStringLiteral("--quiet") });
}

SimProcess::~SimProcess()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    SimControlClient(m_controlPath).send({ QStringLiteral("quit") }, kQuitLimitMs);
    if (!m_process.waitForFinished(kQuitLimitMs)) {
        m_process.kill();
        m_process.waitForFinished(kQuitLimitMs);
    }
}

bool SimProcess::waitUntilReady()
{
    if (!m_process.waitForStarted(kReadyLimitMs)) {
        qWarning("kestrum-sim did not start: %s", qPrintable(m_process.errorString()));
        return false;
    }
    const QDeadlineTimer deadline(kReadyLimitMs);
    while (!deadline.hasExpired()) {
        if (answers())
            return true;
        if (m_process.state() == QProcess::NotRunning) {
            qWarning("kestrum-sim exited with code %d before answering", m_process.exitCode());
            return false;
        }
        m_process.waitForReadyRead(kPollMs);
    }
    qWarning("kestrum-sim did not answer at %s within %d ms", qPrintable(m_controlPath), kReadyLimitMs);
    return false;
}

bool SimProcess::answers()
{
    return SimControlClient(m_controlPath).send({ QStringLiteral("status") }, kProbeMs).ok();
}

bool SimProcess::command(const QStringList& arguments, QByteArray* output)
{
    const SimControlClient::Result result = SimControlClient(m_controlPath).send(arguments);
    if (output)
        *output = result.text.toUtf8();
    return result.ok();
}

QJsonObject SimProcess::report()
{
    QByteArray text;
    if (!command({ QStringLiteral("report") }, &text)) {
        qWarning("kestrum-sim report failed: %s", text.constData());
        return QJsonObject();
    }
    return QJsonDocument::fromJson(text).object();
}

QJsonObject SimProcess::state()
{
    return report()[QStringLiteral("state")].toObject();
}

QJsonArray SimProcess::record()
{
    return report()[QStringLiteral("calls")].toArray();
}

QList<QJsonObject> SimProcess::calls()
{
    QList<QJsonObject> found;
    for (const QJsonValue& entry : record()) {
        if (entry[QStringLiteral("kind")].toString() == QLatin1String("call"))
            found.append(entry.toObject());
    }
    return found;
}

QList<QJsonObject> SimProcess::calls(quint32 code)
{
    QList<QJsonObject> found;
    for (const QJsonObject& entry : calls()) {
        if (entry[QStringLiteral("code")].toInteger() == code)
            found.append(entry);
    }
    return found;
}

void SimProcess::clearRecord()
{
    QByteArray text;
    if (!command({ QStringLiteral("clear") }, &text))
        qWarning("kestrum-sim clear failed: %s", text.constData());
}

bool SimProcess::reset()
{
    QByteArray text;
    const bool ok = command({ QStringLiteral("reset") }, &text);
    if (!ok)
        qWarning("kestrum-sim reset failed: %s", text.constData());
    return ok;
}
