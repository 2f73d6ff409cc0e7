// The real program as a process: one copy per user, and how a run ends.

#include "sim/IoCodes.h"
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

using L = QStringList;
using Env = QMap<QString, QString>;

// One copy of the panel with these variables changed (an empty value
// removes one), and everything it logged so far; started is run in the
// child before the program.
struct Panel {
    explicit Panel(const Env& changes = {}, const L& arguments = {}, const std::function<void()>& started = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (auto it = changes.cbegin(); it != changes.cend(); ++it)
            it.value().isEmpty() ? env.remove(it.key()) : env.insert(it.key(), it.value());
        process.setProcessEnvironment(env);
        if (started)
            process.setChildProcessModifier(started);
        process.start(KESTRUM_PANEL_PATH, arguments);
    }
    ~Panel() { process.kill(); process.waitForFinished(); }
    QString log() { return logged += QString::fromUtf8(process.readAllStandardError()); }
    // Past the guard once its first detection tick has logged.
    bool detects() { return log().contains("Device PID:"); }
    bool running() const { return process.state() != QProcess::NotRunning; }
    bool signal(int number) const { return ::kill(process.processId(), number) == 0; }
    // Ended within ms, as given, with the given code.
    bool ends(int ms, QProcess::ExitStatus status = QProcess::NormalExit, int code = 0)
    {
        return (!running() || process.waitForFinished(ms)) && process.exitStatus() == status && (status == QProcess::CrashExit || process.exitCode() == code);
    }

    QProcess process;
    QString logged;
};

} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT

private slots:
    // Of two copies started together one exits at once, saying only why; a
    // killed copy leaves no marker behind. QT_MESSAGE_PATTERN still shapes
    // the lines when set.
    void secondCopy()
    {
        {
            const Env pattern { { "QT_MESSAGE_PATTERN", "%{category}: %{message}" } };
            Panel a(pattern);
            Panel b(pattern);
            QTRY_VERIFY(!a.running() || !b.running());
            Panel& second = a.running() ? b : a;
            Panel& first = a.running() ? a : b;
            QVERIFY(second.ends(0));
            // The message alone.
            QCOMPARE(second.log().trimmed(), "kestrum.app: Kestrum Mixer 已经在运行中。");
            QTRY_VERIFY(first.detects());
            QVERIFY(first.running());
        } // SIGKILL: no tear-down
        Panel next;
        QTRY_VERIFY(next.detects());
    }

    // No marker, no run; the line after says where and why.
    void noMarker_data()
    {
        // Below a new directory; made as a file unless empty.
        QTest::addColumn<QString>("runtime");
        // Of <runtime>/kestrum, made first unless 0.
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("reason");
        QTest::newRow("others may write to it") << "" << 0777 << "Permission denied";
        QTest::newRow("runtime directory is a file") << "/file" << 0 << "Not a directory";
        QTest::newRow("the lock is a directory") << "" << 0700 << "Is a directory";
    }

    void noMarker()
    {
        QFETCH(QString, runtime);
        QFETCH(int, mode);
        QFETCH(QString, reason);
        QTemporaryDir root;
        const QString base = root.path() + runtime + "/kestrum";
        QVERIFY(runtime.isEmpty() || QFile(root.path() + runtime).open(QIODevice::WriteOnly));
        QVERIFY(mode == 0 || (QDir().mkdir(base) && ::chmod(QFile::encodeName(base).constData(), mode) == 0));
        QVERIFY(mode != 0700 || QDir().mkdir(base + "/KestrumQtDriverSharedMemory.lock"));
        Panel panel({ { "XDG_RUNTIME_DIR", root.path() + runtime } });
        QVERIFY(panel.ends(5000, QProcess::NormalExit, 255));
        const QStringList lines = panel.log().split('\n');
        const qsizetype failed = lines.indexOf("无法创建共享内存，程序退出。");
        QVERIFY(failed >= 0);
        QCOMPARE(lines.value(failed + 1), base + ": " + reason);
    }

    // Run as root, the other copy runs as the user "nobody" with a runtime
    // directory and home of its own; otherwise as this user with another
    // runtime directory, which is all that tells users apart here. Both see
    // the machine's shared temporary directory, as users do.
    void otherUser()
    {
        Panel first({ { "TMPDIR", "/tmp" } });
        QTRY_VERIFY(first.detects());

        const bool asRoot = ::geteuid() == 0;
        constexpr uid_t kNobody = 65534;
        // Outside this test's own temporary directory, which only this user may enter.
        QTemporaryDir otherUser("/tmp/kestrum-other-user-XXXXXX");
        for (const char* dir : { "/run", "/home", "" }) {
            QVERIFY(QDir().mkpath(otherUser.path() + dir));
            QVERIFY(!asRoot || ::chown(QFile::encodeName(otherUser.path() + dir).constData(), kNobody, kNobody) == 0);
        }

        Panel other({ { "XDG_RUNTIME_DIR", otherUser.path() + "/run" }, { "HOME", otherUser.path() + "/home" },
                      { "TMPDIR", "/tmp" }, { "XDG_CONFIG_HOME", "" }, { "XDG_DATA_HOME", "" } },
                    {}, [asRoot] {
                        if (asRoot && (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
                            ::_exit(99);
                    });
        QTRY_VERIFY(other.detects());
        QVERIFY(other.running());
        QVERIFY(first.running());
    }

    // Started from the desktop (--quiet) the program keeps its debug lines
    // back unless the logging rules ask for them.
    void signalEnds_data()
    {
        QTest::addColumn<int>("sig");
        QTest::addColumn<L>("arguments");
        QTest::addColumn<QString>("rules");
        QTest::addColumn<bool>("written");
        QTest::newRow("SIGTERM, run directly") << SIGTERM << L() << "" << true;
        QTest::newRow("SIGINT, from the desktop") << SIGINT << L { "--quiet" } << "" << false;
        QTest::newRow("SIGHUP, from the desktop, rules on") << SIGHUP << L { "--quiet" } << "kestrum.*.debug=true" << true;
    }

    void signalEnds()
    {
        QFETCH(int, sig);
        QFETCH(L, arguments);
        QFETCH(QString, rules);
        QFETCH(bool, written);
        QVERIFY(fixture.startSim({ "--model", "KX2" }));
        Panel panel({ { "QT_LOGGING_RULES", rules } }, arguments);
        // Detection is over once the firmware was read.
        QTRY_VERIFY(!fixture.sim().calls(iocode::kReadUsbControl).isEmpty());
        QVERIFY(panel.signal(sig));
        QVERIFY(panel.ends(5000));
        QCOMPARE(panel.log().contains("Adding kx2 widget to layout."), written);
        // The settings dialog goes last, its listener's pipe with it.
        QCOMPARE(panel.log().trimmed().endsWith("Pipe closed."), written);
    }

    // Ignored at start (nohup's SIGHUP, a background job's SIGINT), a signal
    // stays ignored: detection goes on.
    void ignored_data()
    {
        QTest::addColumn<int>("sig");
        QTest::newRow("SIGHUP") << SIGHUP;
        QTest::newRow("SIGINT") << SIGINT;
    }

    void ignored()
    {
        QFETCH(int, sig);
        fixture.stopSim();
        Panel panel({}, {}, [sig] { ::signal(sig, SIG_IGN); });
        QTRY_VERIFY(panel.detects());
        QVERIFY(panel.signal(sig));
        const int ticks = panel.log().count("Device PID: 0");
        QTRY_VERIFY(panel.log().count("Device PID: 0") > ticks + 1);
    }

    // A GUI thread stuck in a connect (each call answered just within the
    // limit) does not keep the program from ending: a second signal ends it
    // at once (well within the 5 s, allowing for a loaded, sanitized run), a
    // single one after 5 s.
    void stuck_data()
    {
        QTest::addColumn<QList<int>>("sigs");
        // Two of a kind that arrive together are one.
        QTest::newRow("SIGTERM, SIGINT") << QList<int> { SIGTERM, SIGINT };
        QTest::newRow("SIGTERM") << QList<int> { SIGTERM };
    }

    void stuck()
    {
        QFETCH(QList<int>, sigs);
        QVERIFY(fixture.startSim({ "--model", "KX2" }, { "slow 1000" }));
        Panel panel;
        QTRY_VERIFY_WITH_TIMEOUT(panel.log().contains("Device PID: 2"), 10000);
        for (int sig : sigs)
            QVERIFY(panel.signal(sig));
        QVERIFY(panel.ends(sigs.size() > 1 ? 3000 : 7000, QProcess::CrashExit));
    }

private:
    DeviceFixture fixture;
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_single_instance.moc"
