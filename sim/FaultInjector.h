#pragma once

#include <QMap>
#include <QtGlobal>

#include <optional>

// Failures and slow replies asked for over the control socket, so that the
// panel's error paths can be driven on demand.
class FaultInjector
{
public:
    static constexpr quint32 kDefaultError = 31;
    static constexpr int kAlways = -1;

    struct Failure {
        quint32 error = kDefaultError;
        int remaining = kAlways; // calls still to fail, or kAlways
    };

    void failAlways(quint32 code, quint32 error);
    void failTimes(quint32 code, int count, quint32 error);
    void clearFailure(quint32 code);
    void clearFailures();
    // The error the next call of code must fail with, if any; uses up one failure.
    std::optional<quint32> takeFailure(quint32 code);
    const QMap<quint32, Failure>& failures() const { return m_failures; }

    // A delay for every code; 0 also drops the per-code delays.
    void setDelay(int ms);
    void setDelay(quint32 code, int ms);
    int delayFor(quint32 code) const;
    int defaultDelay() const { return m_defaultDelay; }
    const QMap<quint32, int>& codeDelays() const { return m_codeDelays; }

private:
    QMap<quint32, Failure> m_failures;
    QMap<quint32, int> m_codeDelays;
    int m_defaultDelay = 0;
};
