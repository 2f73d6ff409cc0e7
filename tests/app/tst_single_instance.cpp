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
            QCOMPARE(second.log().trimmed().split('\n').size(), 1);
            QVERIFY(second.log().contains(kAlreadyRunning));
            QTRY_VERIFY_WITH_TIMEOUT(first.reachedDetection(), 5000);
            QVERIFY(first.running());
        } // SIGKILL: no tear-down
        PanelProcess next;
        QTRY_VERIFY_WITH_TIMEOUT(next.reachedDetection(), 5000);
    }

    // A runtime directory that others may write to is refused: no marker, no run.
    void aMarkerThatCannotBeMadeEndsTheStart()
    {
        QTemporaryDir runtime;
        QVERIFY(QDir().mkdir(runtime.path() + "/kestrum"));
        QVERIFY(::chmod(QFile::encodeName(runtime.path() + "/kestrum").constData(), 0777) == 0);
        PanelProcess panel([&](QProcess& process) { changeEnvironment(process, { { "XDG_RUNTIME_DIR", runtime.path() } }); });
        QVERIFY(panel.process.waitForFinished(5000));
        QCOMPARE(panel.process.exitCode(), 255);
        QVERIFY(panel.log().contains("无法创建共享内存，程序退出。"));
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

private:
    DeviceFixture fixture;
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_single_instance.moc"
