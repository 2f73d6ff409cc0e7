#include "sim/FaultInjector.h"

#include "sim/IoCodes.h"

void FaultInjector::fail(quint32 code, int count, quint32 error)
{
    if (count == 0)
        m_failures.remove(code);
    else
        m_failures.insert(code, Failure { error, count });
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

QJsonObject FaultInjector::toJson() const
{
    QJsonObject failures;
    for (auto it = m_failures.cbegin(); it != m_failures.cend(); ++it) {
        const QJsonValue remaining = it->remaining == kAlways ? QJsonValue(QStringLiteral("always")) : QJsonValue(it->remaining);
        failures.insert(iocode::name(it.key()), QJsonObject { { QStringLiteral("error"), static_cast<qint64>(it->error) }, { QStringLiteral("remaining"), remaining } });
    }
    return QJsonObject { { QStringLiteral("failures"), failures }, { QStringLiteral("slowMs"), m_delayMs } };
}
