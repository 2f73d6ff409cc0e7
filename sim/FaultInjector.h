#pragma once

#include <QJsonObject>
#include <QMap>

#include <optional>

// Failures and slow replies asked for over the control socket, so that the
// panel's error paths can be driven on demand.
class FaultInjector
{
public:
    static constexpr quint32 kDefaultError = 31;
    static constexpr int kAlways = -1;

    // The next count calls of code fail with error (kAlways: every call; 0: none).
    void fail(quint32 code, int count, quint32 error);
    void clearFailures() { m_failures.clear(); }
    // The error the next call of code must fail with, if any; uses up one failure.
    std::optional<quint32> takeFailure(quint32 code);

    // Every reply is held back this long.
    void setDelay(int ms) { m_delayMs = ms; }
    int delay() const { return m_delayMs; }

    // {"failures": {name: {"error", "remaining"}}, "slowMs"}
    QJsonObject toJson() const;

private:
    struct Failure {
        quint32 error;
        int remaining;
    };

    QMap<quint32, Failure> m_failures;
    int m_delayMs = 0;
};
