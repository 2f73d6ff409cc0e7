#include "tests/support/SimProcess.h"

#include "sim/SimControlClient.h"

#include <QDeadlineTimer>
#include <QJsonDocument>

namespace {

constexpr int kReadyMs = 5000;
constexpr int kQuitMs = 2000;
// Bounds each wait for the sim's output, so the control socket is tried again soon.
constexpr int kPollMs = 50;
constexpr int kProbeMs = 500;

QString controlPathIn(const QStringList& arguments)
{
    const qsizetype at = arguments.indexOf("--control");
    if (at >= 0 && at + 1 < arguments.size())
        return arguments.at(at + 1);
    QString error;
    return SimControlClient::defaultControlPath(&error);
}

// A command of one word; a refusal is worth a warning only.
bool run(SimProcess& sim, const QString& command, QByteArray* answer = nullptr)
{
    QByteArray text;
    const bool ok = sim.command({ command }, &text);
    if (!ok)
        qWarning("kestrum-sim %s failed: %s", qPrintable(command), text.constData());
    if (answer)
        *answer = text;
    return ok;
}

} // namespace

SimProcess::SimProcess(const QStringList& arguments)
    : m_controlPath(controlPathIn(arguments))
{
    // The sim's complaints belong in the test log.
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(KESTRUM_SIM_PATH, arguments + QStringList { "--quiet" });
}

SimProcess::~SimProcess()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    SimControlClient(m_controlPath).send({ "quit" }, kQuitMs);
    if (!m_process.waitForFinished(kQuitMs)) {
        m_process.kill();
        m_process.waitForFinished(kQuitMs);
    }
}

bool SimProcess::waitUntilReady()
{
    if (!m_process.waitForStarted(kReadyMs)) {
        qWarning("kestrum-sim did not start: %s", qPrintable(m_process.errorString()));
        return false;
    }
    const QDeadlineTimer deadline(kReadyMs);
    while (!deadline.hasExpired()) {
        if (answers())
            return true;
        if (m_process.state() == QProcess::NotRunning) {
            qWarning("kestrum-sim exited with code %d before answering", m_process.exitCode());
            return false;
        }
        m_process.waitForReadyRead(kPollMs);
    }
    qWarning("kestrum-sim did not answer at %s within %d ms", qPrintable(m_controlPath), kReadyMs);
    return false;
}

bool SimProcess::answers()
{
    return SimControlClient(m_controlPath).send({ "status" }, kProbeMs).ok();
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
    return run(*this, "report", &text) ? QJsonDocument::fromJson(text).object() : QJsonObject();
}

QJsonObject SimProcess::state()
{
    return report()["state"].toObject();
}

QJsonArray SimProcess::record()
{
    return report()["calls"].toArray();
}

QList<QJsonObject> SimProcess::calls()
{
    QList<QJsonObject> found;
    for (const QJsonValue& entry : record()) {
        if (entry["kind"].toString() == "call")
            found.append(entry.toObject());
    }
    return found;
}

QList<QJsonObject> SimProcess::calls(quint32 code)
{
    QList<QJsonObject> found = calls();
    found.removeIf([code](const QJsonObject& call) { return call["code"].toInteger() != code; });
    return found;
}

void SimProcess::clearRecord()
{
    run(*this, "clear");
}

bool SimProcess::reset()
{
    return run(*this, "reset");
}
