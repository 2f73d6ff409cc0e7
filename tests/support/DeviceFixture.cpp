#include "tests/support/DeviceFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

bool DeviceFixture::startSim(const QStringList& arguments, const QStringList& commands)
{
    // The old device goes first: a new one refuses a bus that is still served.
    m_sim.reset();
    m_sim = std::make_unique<SimProcess>(arguments);
    if (!m_sim->waitUntilReady())
        return false;
    for (const QString& command : commands) {
        QByteArray answer;
        if (!m_sim->command(command.split(QLatin1Char(' ')), &answer)) {
            qWarning("kestrum-sim %s: %s", qPrintable(command), answer.constData());
            return false;
        }
    }
    return true;
}

QString DeviceFixture::iniPath(const QString& fileName)
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QLatin1Char('/') + fileName;
}

void DeviceFixture::removeIni(const QString& fileName)
{
    QFile::remove(iniPath(fileName));
}

QString DeviceFixture::onDisk(const QString& fileName, const QString& key)
{
    QFile file(iniPath(fileName));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    const QString group = QLatin1Char('[') + key.section(QLatin1Char('/'), 0, 0) + QLatin1Char(']');
    const QString assignment = key.section(QLatin1Char('/'), 1) + QLatin1Char('=');
    bool inGroup = false;
    for (const QString& line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1Char('[')))
            inGroup = line == group;
        else if (inGroup && line.startsWith(assignment))
            return line.mid(assignment.size());
    }
    return QString();
}

void DeviceFixture::store(const QString& fileName, const QMap<QString, QVariant>& values)
{
    QDir().mkpath(QFileInfo(iniPath(fileName)).path());
    QSettings file(iniPath(fileName), QSettings::IniFormat);
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        file.setValue(it.key(), it.value());
}

QByteArray DeviceFixture::input(const QJsonObject& call)
{
    return QByteArray::fromHex(call.value(QStringLiteral("in")).toString().toLatin1());
}
