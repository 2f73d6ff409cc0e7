#pragma once

#include <QStringList>

// Collects what the code under test writes to the debug stream, so a test
// can check the exact log lines, while still passing them on to the console.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QStringList lines() const;
    bool contains(const QString& line) const { return lines().contains(line); }
    int count(const QString& line) const { return lines().count(line); }
    void clear();
};
