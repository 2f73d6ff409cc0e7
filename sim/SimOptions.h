#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The command line. With a command as first positional argument the program
// is a client of a running sim; without one it serves a device.
class SimOptions
{
public:
    static constexpr int kBusCount = 16;

    // False with errorText() when the arguments make no sense.
    bool parse(const QStringList& arguments);

    QString errorText() const { return m_error; }
    bool helpRequested() const { return m_help; }
    static QString helpText();

    bool isClient() const { return !m_command.isEmpty(); }
    QStringList command() const { return m_command; }

    quint32 pid() const { return m_pid; }
    int bus() const { return m_bus; }
    QByteArray firmware() const { return m_firmware; }
    bool quiet() const { return m_quiet; }
    QString controlPath() const { return m_controlPath; }

private:
    bool fail(const QString& error);

    QString m_error;
    bool m_help = false;
    QStringList m_command;
    quint32 m_pid = 0;
    int m_bus = 0;
    QByteArray m_firmware;
    bool m_quiet = false;
    QString m_controlPath;
};
