#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace {

void makeDir(const QString& path, QFile::Permissions permissions)
{
    QDir().mkpath(path);
    QFile::setPermissions(path, permissions);
}

} // namespace

TestEnvironment::TestEnvironment()
{
    const QFile::Permissions owner = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    makeDir(runtimeDir(), owner);
    makeDir(root() + "/tmp", owner);
    makeDir(root() + "/home", owner);
    qputenv("XDG_RUNTIME_DIR", runtimeDir().toLocal8Bit());
    qputenv("TMPDIR", (root() + "/tmp").toLocal8Bit());
    qputenv("HOME", (root() + "/home").toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (root() + "/home/.config").toLocal8Bit());
    qputenv("XDG_DATA_HOME", (root() + "/home/.local/share").toLocal8Bit());
    QStandardPaths::setTestModeEnabled(true);
}

QString TestEnvironment::runtimeDir() const
{
    return root() + "/run";
}

QString TestEnvironment::baseDir() const
{
    return runtimeDir() + "/kestrum";
}
