// Only one copy of the panel runs at a time: the real program, started as
// processes, against the real system semaphore and shared memory.

#include "tests/support/TestEnvironment.h"

#include <QProcess>
#include <QSharedMemory>
#include <QTest>


namespace {

const QString kAlreadyRunning = QStringLiteral("Kestrum Mixer 已经在运行中。");

// One copy of the panel, with everything it logged so far.
class PanelProcess
{
public:
    PanelProcess()
    {
        process.setProgram(KESTRUM_PANEL_PATH);
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
    void cleanup();
    void aSecondCopyExitsAtOnce();
    void twoCopiesStartedTogetherLeaveOne();
    void aStartAfterAKilledCopySucceeds();

private:
    TestEnvironment environment;
};

void TestSingleInstance::cleanup()
{
    // Killed copies leave their marker behind; free it for the next test.
    QSharedMemory stale("KestrumQtDriverSharedMemory");
    if (stale.attach())
        stale.detach();
}

void TestSingleInstance::aSecondCopyExitsAtOnce()
{
    PanelProcess first;
    QTRY_VERIFY_WITH_TIMEOUT(first.reachedDetection(), 5000);

    PanelProcess second;
    QVERIFY(second.process.waitForFinished(5000));
    QCOMPARE(second.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.process.exitCode(), 0);
    QCOMPARE(second.log().trimmed(), kAlreadyRunning);
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

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_single_instance.moc"
