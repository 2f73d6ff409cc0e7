#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

// A program that runs until this goes: asked to end (SIGTERM), then killed
// when it has not within stopMs.
struct RunningProgram {
    RunningProgram(const QString& program, const QStringList& arguments,
                   const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(), int stopMs = 3000)
        : stopMs(stopMs)
    {
        process.setProcessEnvironment(env);
        process.start(program, arguments);
    }
    ~RunningProgram()
    {
        process.terminate();
        if (!process.waitForFinished(stopMs))
            process.kill();
        process.waitForFinished();
    }
    QProcess process;
    int stopMs;
};
