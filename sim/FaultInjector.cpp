#include "sim/FaultInjector.h"

void FaultInjector::failAlways(quint32 code, quint32 error)
{
    m_failures.insert(code, Failure { error, kAlways });
}

void FaultInjector::failTimes(quint32 code, int count, quint32 error)
{
    if (count <= 0)
        clearFailure(code);
    else
        m_failures.insert(code, Failure { error, count });
}

void FaultInjector::clearFailure(quint32 code)
{
    m_failures.remove(code);
}

void FaultInjector::clearFailures()
{
    m_failures.clear();
}

std::optional<quint32> FaultInjector::takeFailure(quint32 code)
{
    const auto it = m_failures.find(code);
    if (it == m_failures.end())
        return std::nullopt;
    const quint32 error = it->error;
    if (it->remaining != kAlways && --it->remaining == 0)
        m_failures.erase(it);
    return error;
}

void FaultInjector::setDelay(int ms)
{
    m_defaultDelay = ms;
    if (ms == 0)
        m_codeDelays.clear();
}

void FaultInjector::setDelay(quint32 code, int ms)
{
    if (ms == 0)
        m_codeDelays.remove(code);
    else
        m_codeDelays.insert(code, ms);
}

int FaultInjector::delayFor(quint32 code) const
{
    return m_codeDelays.value(code, m_defaultDelay);
}
