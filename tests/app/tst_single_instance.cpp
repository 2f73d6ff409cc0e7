// Only one copy of the panel runs at a time: the real program, started as
// processes, against the real system semaphore and shared memory.

#include "tests/support/SimProcess.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <functional>
#include <grp.h>
#include <sys/types.h>
#include <unistd.h>


namespace {

const QString kAlreadyRunning = QStringLiteral("Kestrum Mixer 已经在运行中。");

// One copy of the panel, with everything it logged so far; prepare sets
// up its process before it starts.
class PanelProcess
{
public:
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

    QString log()
    {
        logged += QString::fromUtf8(process.readAllStandardError());
        return logged;
    }
    // Past the guard once its first detection tick has logged.
    bool reachedDetection() { return log().contains("Device PID:"); }
    bool running() const { return process.state() == QProcess::Running; }
    bool exited() const { return process.state() == QProcess::NotRunning; }

    QProcess process;

private:
    QString logged;
};

} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT

private slots:
    void aSecondCopyExitsAtOnce();
    void twoCopiesStartedTogetherLeaveOne();
    void aStartAfterAKilledCopySucceeds();
    void anotherUserIsNeitherBlockedNorBlocking();
    void logRulesDecideWhatIsWritten_data();
    void logRulesDecideWhatIsWritten();
    void terminationSignalsEndTheProgramInOrder_data();
    void terminationSignalsEndTheProgramInOrder();

private:
    TestEnvironment environment;
};

void TestSingleInstance::aSecondCopyExitsAtOnce()
{
    PanelProcess first;
    QTRY_VERIFY_WITH_TIMEOUT(first.reachedDetection(), 5000);

    PanelProcess second;
    QVERIFY(second.process.waitForFinished(5000));
    QCOMPARE(second.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.process.exitCode(), 0);
    // One line, and nothing else of the program ran.
    const QStringList lines = second.log().trimmed().split('\n');
    QCOMPARE(lines.size(), 1);
    QVERIFY(lines.first().endsWith(kAlreadyRunning));
    QVERIFY(second.process.readAllStandardOutput().isEmpty());
    QVERIFY(first.running());
}

void TestSingleInstance::twoCopiesStartedTogetherLeaveOne()
{
    PanelProcess a;
    PanelProcess b;
    QTRY_VERIFY_WITH_TIMEOUT(a.exited() || b.exited(), 5000);
    PanelProcess& quitter = a.exited() ? a : b;
    PanelProcess& survivor = a.exited() ? b : a;
    QCOMPARE(quitter.process.exitCode(), 0);
    QVERIFY(quitter.log().contains(kAlreadyRunning));
    QTRY_VERIFY_WITH_TIMEOUT(survivor.reachedDetection(), 5000);
    QVERIFY(survivor.running());
}

void TestSingleInstance::aStartAfterAKilledCopySucceeds()
{
    {
        PanelProcess killed;
        QTRY_VERIFY_WITH_TIMEOUT(killed.reachedDetection(), 5000);
    } // SIGKILL: no tear-down, the marker stays behind

    PanelProcess next;
    QTRY_VERIFY_WITH_TIMEOUT(next.reachedDetection(), 5000);
    QVERIFY(next.running());
    QVERIFY(!next.log().contains(kAlreadyRunning));
}

// Run as root, the other copy runs as the unprivileged user "nobody" with
// a runtime directory and home of its own; otherwise as this user with
// another runtime directory, which is all that tells users apart here.
void TestSingleInstance::anotherUserIsNeitherBlockedNorBlocking()
{
    // Both see the machine's shared temporary directory, as users do.
    const auto sharedTemp = [](QProcess& process) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TMPDIR", "/tmp");
        process.setProcessEnvironment(env);
    };
    PanelProcess first(sharedTemp);
    QTRY_VERIFY_WITH_TIMEOUT(first.reachedDetection(), 5000);

    const bool asRoot = ::geteuid() == 0;
    constexpr uid_t kNobody = 65534;
    // Outside this test's own temporary directory, which only this user may enter.
    QTemporaryDir otherUser("/tmp/kestrum-other-user-XXXXXX");
    QVERIFY(otherUser.isValid());
    for (const char* dir : { "run", "home" })
        QVERIFY(QDir(otherUser.path()).mkdir(dir));
    if (asRoot) {
        for (const char* dir : { "", "/run", "/home" })
            QVERIFY(::chown(QFile::encodeName(otherUser.path() + dir).constData(), kNobody, kNobody) == 0);
    }
    QFile::setPermissions(otherUser.path() + "/run", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    PanelProcess other([&](QProcess& process) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", otherUser.path() + "/run");
        env.insert("HOME", otherUser.path() + "/home");
        env.insert("TMPDIR", "/tmp");
        env.remove("XDG_CONFIG_HOME");
        env.remove("XDG_DATA_HOME");
        process.setProcessEnvironment(env);
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

void TestSingleInstance::logRulesDecideWhatIsWritten_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("rules");
    QTest::addColumn<bool>("written");
    QTest::newRow("run directly") << QStringList() << QString() << true;
    QTest::newRow("from the desktop") << QStringList { "--quiet" } << QString() << false;
    QTest::newRow("from the desktop, rules on") << QStringList { "--quiet" } << "kestrum.*.debug=true" << true;
    QTest::newRow("run directly, rules off") << QStringList() << "kestrum.*.debug=false" << false;
}

void TestSingleInstance::logRulesDecideWhatIsWritten()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, rules);
    QFETCH(bool, written);
    SimProcess sim({ "--model", "KX2" });
    QVERIFY(sim.waitUntilReady());
    PanelProcess panel([&](QProcess& process) {
        process.setArguments(arguments);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_LOGGING_RULES", rules);
        process.setProcessEnvironment(env);
    });
    // Detection is over once the firmware was read; the whole log is there
    // once the program has ended.
    QTRY_VERIFY_WITH_TIMEOUT(!sim.calls(0xFFDC20A0).isEmpty(), 5000);
    QVERIFY(::kill(panel.process.processId(), SIGTERM) == 0);
    QVERIFY(panel.process.waitForFinished(5000));
    QCOMPARE(panel.log().contains("Device PID: 2"), written);
    QCOMPARE(panel.log().contains("Adding kx2 widget to layout."), written);
}

void TestSingleInstance::terminationSignalsEndTheProgramInOrder_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGHUP") << SIGHUP;
}

void TestSingleInstance::terminationSignalsEndTheProgramInOrder()
{
    QFETCH(int, signalNumber);
    PanelProcess panel;
    QTRY_VERIFY_WITH_TIMEOUT(panel.reachedDetection(), 5000);
    QVERIFY(::kill(panel.process.processId(), signalNumber) == 0);
    QVERIFY(panel.process.waitForFinished(5000));
    QCOMPARE(panel.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(panel.process.exitCode(), 0);
    // The settings dialog goes last, its listener's pipe with it.
    QVERIFY(panel.log().contains("Settings dialog closed and resources cleaned up."));
    QVERIFY(panel.log().trimmed().endsWith("Pipe closed."));

    PanelProcess next;
    QTRY_VERIFY_WITH_TIMEOUT(next.reachedDetection(), 5000);
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_single_instance.moc"
