#pragma once

#include <QString>
#include <QTemporaryDir>

// Gives a test suite a private world: its own runtime directory for the
// device and pipe sockets, its own temporary directory (the single-instance
// objects are keyed on files there), and its own home and data directories,
// so no test touches a real user's files or another suite's sockets.
class TestEnvironment
{
public:
    TestEnvironment();

    QString root() const { return m_root.path(); }
    QString runtimeDir() const;
    QString baseDir() const; // the stand-in's socket directory below runtimeDir()

private:
    QTemporaryDir m_root;
};
