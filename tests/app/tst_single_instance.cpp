// The real program as a process: one copy per user, and how a run ends.

#include "tests/support/DeviceFixture.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <functional>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kAlreadyRunning = QStringLiteral("Kestrum Mixer 已经在运行中。");

// One copy of the panel, with everything it logged so far; prepare sets
// up its process before it starts.
struct PanelProcess {
    explicit PanelProcess(const std::function<void(QProcess&)>& prepare = {})
    {
        process.setProgram(KESTRUM_PANEL_PATH);
        if (prepare)
            prepare(process);
        process.start();
    }
    ~PanelProcess()
    {
        process.kill();
        process.waitForFinished();
    }
    QString log() { return logged += QString::fromUtf8(process.readAllStandardError()); }
    // Past the guard once its first detection tick has logged.
    bool reachedDetection() { return log().contains("Device PID:"); }
    bool running() const { return process.state() != QProcess::NotRunning; }

    QProcess process;
    QString logged;
};

// The process's environment with these variables changed; an empty value removes one.
void changeEnvironment(QProcess& process, const QMap<QString, QString>& changes)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (auto it = changes.cbegin(); it != changes.cend(); ++it) {
        if (it.value().isEmpty())
            env.remove(it.key());
        else
            env.insert(it.key(), it.value());
    }
    process.setProcessEnvironment(env);
}

} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT

private slots:
    // Of two copies started together one exits at once, saying only why; a
    // killed copy leaves no marker behind.
    void aSecondCopyExitsAtOnceAndAKilledOneLeavesNoMarker()
    {
        {
            PanelProcess a;
            PanelProcess b;
            QTRY_VERIFY_WITH_TIMEOUT(!a.running() || !b.running(), 5000);
            PanelProcess& second = a.running() ? b : a;
            PanelProcess& first = a.running() ? a : b;
            QCOMPARE(second.process.exitStatus(), QProcess::NormalExit);
            QCOMPARE(second.process.exitCode(), 0);
            QCOMPARE(second.log().trimmed(), kAlreadyRunning); // the message alone
            QTRY_VERIFY_WITH_TIMEOUT(first.reachedDetection(), 5000);
            QVERIFY(first.running());
        } // SIGKILL: no tear-down
        PanelProcess next;
        QTRY_VERIFY_WITH_TIMEOUT(next.reachedDetection(), 5000);
    }

    // No marker, no run; the line after says where and why. QT_MESSAGE_PATTERN
    // still shapes the lines when set.
    void aMarkerThatCannotBeMadeEndsTheStart_data()
    {
        QTest::addColumn<QString>("runtime"); // below a new directory; made as a file unless empty
        QTest::addColumn<int>("mode");        // of <runtime>/kestrum, made first unless 0
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("pattern");
        QTest::newRow("others may write to it") << "" << 0777 << "Permission denied" << "";
        QTest::newRow("runtime directory is a file") << "/file" << 0 << "Not a directory" << "";
        QTest::newRow("the lock is a directory") << "" << 0700 << "Is a directory" << "%{category}: %{message}";
    }

    void aMarkerThatCannotBeMadeEndsTheStart()
    {
        QFETCH(QString, runtime);
        QFETCH(int, mode);
        QFETCH(QString, reason);
        QFETCH(QString, pattern);
        QTemporaryDir root;
        const QString base = root.path() + runtime + "/kestrum";
        QVERIFY(runtime.isEmpty() || QFile(root.path() + runtime).open(QIODevice::WriteOnly));
        QVERIFY(mode == 0 || (QDir().mkdir(base) && ::chmod(QFile::encodeName(base).constData(), mode) == 0));
        QVERIFY(mode != 0700 || QDir().mkdir(base + "/KestrumQtDriverSharedMemory.lock"));
        PanelProcess panel([&](QProcess& process) {
            changeEnvironment(process, { { "XDG_RUNTIME_DIR", root.path() + runtime }, { "QT_MESSAGE_PATTERN", pattern } });
        });
        QVERIFY(panel.process.waitForFinished(5000));
        QCOMPARE(panel.process.exitCode(), 255);
        const QString prefix = pattern.isEmpty() ? "" : "kestrum.app: ";
        const QStringList lines = panel.log().split('\n');
        const qsizetype failed = lines.indexOf(prefix + "无法创建共享内存，程序退出。");
        QVERIFY(failed >= 0);
        QCOMPARE(lines.value(failed + 1), prefix + base + ": " + reason);
    }

    // Run as root, the other copy runs as the user "nobody" with a runtime
    // directory and home of its own; otherwise as this user with another
    // runtime directory, which is all that tells users apart here. Both see
    // the machine's shared temporary directory, as users do.
    void anotherUserIsNeitherBlockedNorBlocking()
    {
        PanelProcess first([](QProcess& process) { changeEnvironment(process, { { "TMPDIR", "/tmp" } }); });
        QTRY_VERIFY_WITH_TIMEOUT(first.reachedDetection(), 5000);

        const bool asRoot = ::geteuid() == 0;
        constexpr uid_t kNobody = 65534;
        // Outside this test's own temporary directory, which only this user may enter.
        QTemporaryDir otherUser("/tmp/kestrum-other-user-XXXXXX");
        for (const char* dir : { "/run", "/home", "" }) {
            QVERIFY(QDir().mkpath(otherUser.path() + dir));
            QVERIFY(!asRoot || ::chown(QFile::encodeName(otherUser.path() + dir).constData(), kNobody, kNobody) == 0);
        }

        PanelProcess other([&](QProcess& process) {
            changeEnvironment(process, { { "XDG_RUNTIME_DIR", otherUser.path() + "/run" }, { "HOME", otherUser.path() + "/home" },
                                         { "TMPDIR", "/tmp" }, { "XDG_CONFIG_HOME", "" }, { "XDG_DATA_HOME", "" } });
            if (asRoot) {
                process.setChildProcessModifier([] {
                    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
                        ::_exit(99);
                });
            }
        });
        QTRY_VERIFY_WITH_TIMEOUT(other.reachedDetection(), 5000);
        QVERIFY(other.running());
        QVERIFY(first.running());
    }

    // Started from the desktop (--quiet) the program keeps its debug lines
    // back unless the logging rules ask for them.
    void aSignalEndsTheProgramInOrder_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("rules");
        QTest::addColumn<bool>("written");
        QTest::newRow("SIGTERM, run directly") << SIGTERM << QStringList() << QString() << true;
        QTest::newRow("SIGINT, from the desktop") << SIGINT << QStringList { "--quiet" } << QString() << false;
        QTest::newRow("SIGHUP, from the desktop, rules on") << SIGHUP << QStringList { "--quiet" } << "kestrum.*.debug=true" << true;
    }

    void aSignalEndsTheProgramInOrder()
    {
        QFETCH(int, signalNumber);
        QFETCH(QStringList, arguments);
        QFETCH(QString, rules);
        QFETCH(bool, written);
        QVERIFY(fixture.startSim({ "--model", "KX2" }));
        PanelProcess panel([&](QProcess& process) {
            process.setArguments(arguments);
            changeEnvironment(process, { { "QT_LOGGING_RULES", rules } });
        });
        // Detection is over once the firmware was read.
        QTRY_VERIFY_WITH_TIMEOUT(!fixture.sim().calls(0xFFDC20A0).isEmpty(), 5000);
        QVERIFY(::kill(panel.process.processId(), signalNumber) == 0);
        QVERIFY(panel.process.waitForFinished(5000));
        QCOMPARE(panel.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(panel.process.exitCode(), 0);
        QCOMPARE(panel.log().contains("Adding kx2 widget to layout."), written);
        // The settings dialog goes last, its listener's pipe with it.
        QCOMPARE(panel.log().trimmed().endsWith("Pipe closed."), written);
    }

    // Ignored at start (nohup's SIGHUP, a background job's SIGINT), a signal
    // stays ignored: detection goes on.
    void aSignalIgnoredAtStartStaysIgnored_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGHUP") << SIGHUP;
        QTest::newRow("SIGINT") << SIGINT;
    }

    void aSignalIgnoredAtStartStaysIgnored()
    {
        QFETCH(int, signalNumber);
        fixture.stopSim();
        PanelProcess panel([=](QProcess& process) { process.setChildProcessModifier([=] { ::signal(signalNumber, SIG_IGN); }); });
        QTRY_VERIFY_WITH_TIMEOUT(panel.reachedDetection(), 5000);
        QVERIFY(::kill(panel.process.processId(), signalNumber) == 0);
        const int ticks = panel.log().count("Device PID: 0");
        QTRY_VERIFY_WITH_TIMEOUT(panel.log().count("Device PID: 0") > ticks + 1, 5000);
    }

    // A GUI thread stuck in a connect (each call answered just within the
    // limit) does not keep the program from ending: a second signal ends it
    // at once, a single one after 5 s.
    void aStuckProgramStillEnds_data()
    {
        QTest::addColumn<QList<int>>("signalNumbers");
        // Two of a kind that arrive together are one.
        QTest::newRow("SIGTERM, SIGINT") << QList<int> { SIGTERM, SIGINT };
        QTest::newRow("SIGTERM") << QList<int> { SIGTERM };
    }

    void aStuckProgramStillEnds()
    {
        QFETCH(QList<int>, signalNumbers);
        QVERIFY(fixture.startSim({ "--model", "KX2" }, { "slow 1000" }));
        PanelProcess panel;
        QTRY_VERIFY_WITH_TIMEOUT(panel.log().contains("Device PID: 2"), 10000);
        for (int signalNumber : signalNumbers)
            QVERIFY(::kill(panel.process.processId(), signalNumber) == 0);
        QVERIFY(panel.process.waitForFinished(signalNumbers.size() > 1 ? 1000 : 7000));
        QCOMPARE(panel.process.exitStatus(), QProcess::CrashExit);
    }

private:
    DeviceFixture fixture;
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_single_instance.moc"
