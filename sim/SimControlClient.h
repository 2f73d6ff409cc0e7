#pragma once

#include <QString>
#include <QStringList>

// Sends one command to a running sim over its control socket and waits for
// the answer. Blocking, so the command-line client and the tests can use it
// without an event loop.
class SimControlClient
{
public:
    enum class Outcome {
        Ok,         // the sim did it; text is its answer
        Refused,    // the sim refused the command; text says why
        Unreachable // no sim answered; text says why
    };

    struct Result {
        Outcome outcome = Outcome::Unreachable;
        QString text;
        bool ok() const { return outcome == Outcome::Ok; }
    };

    static constexpr int kDefaultTimeoutMs = 5000;

    explicit SimControlClient(const QString& controlPath);

    Result send(const QStringList& command, int timeoutMs = kDefaultTimeoutMs) const;

    // <runtime dir>/kestrum-sim.ctl; empty with error set when the runtime
    // directory is unusable.
    static QString defaultControlPath(QString* error);

private:
    QString m_controlPath;
};
