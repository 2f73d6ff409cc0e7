#pragma once

#include <QObject>
#include <QSet>
#include <QSettings>
#include <QString>

// Whether the program's ini files keep what they are given. Every flush goes
// through sync(); a file that stops saving is announced once, by notKept,
// for the tray to tell the user, and again only after it has saved once more.
class SaveFailureNotice : public QObject
{
    Q_OBJECT

public:
    static SaveFailureNotice& instance();

    // Flushes the file; false when it kept its old content. A QSettings keeps
    // the first error it met for good, so after a failure the next flush goes
    // through a fresh object holding the same values, which tries the whole
    // file again.
    bool sync(QSettings*& settings);

signals:
    void notKept(const QString& fileName, QSettings::Status status);

private:
    SaveFailureNotice() = default;

    QSet<QString> failing;
};
