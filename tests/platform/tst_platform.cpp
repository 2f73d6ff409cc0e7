// The POSIX stand-in of the OS seam: the pipe contract it shares with the
// Windows half (PipeCases), and what only the stand-in has: where its
// sockets live and who may reach them, a device peer that misbehaves (served
// by the test itself, as the simulator never misbehaves), the one-copy lock,
// the termination signals and the shell call.

#include "platform/DeviceIo.h"
#include "platform/NamedPipe.h"
#include "platform/Shell.h"
#include "platform/WinError.h"
#include "platform/posix/InstanceLock.h"
#include "platform/posix/RuntimeDir.h"
#include "platform/posix/SeqPacketSocket.h"
#include "platform/posix/TerminationSignals.h"
#include "platform/posix/WireFormat.h"
#include "tests/platform/PipeCases.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace platform;
using Bytes = std::vector<unsigned char>;

namespace {

const std::wstring kBus7 = L"\\\\.\\KestrumAudioBus7";

// Serves one connection on a device path. The first request gets the test's
// reply, no answer, or a hang-up; every later one a good two-byte answer.
class PeerDevice
{
public:
    enum Manner { Answer, Silent, HangUp };

    PeerDevice(Manner manner, Bytes firstReply) : m_manner(manner), m_firstReply(std::move(firstReply))
    {
        std::string socketPath;
        std::uint32_t error = 0;
        posix::socketPathFor(kBus7, socketPath, error);
        m_listenFd = posix::listenSeqPacket(socketPath, error);
        m_thread = std::thread([this] { serve(); });
    }

    ~PeerDevice()
    {
        posix::shutdownSocket(m_listenFd);
        posix::shutdownSocket(m_connectionFd);
        m_thread.join();
        posix::closeSocket(m_connectionFd);
        posix::closeSocket(m_listenFd);
    }

    static Bytes goodReply() { return posix::encodeReply({ 1, 0, 2 }, "\x34\x12"); }

private:
    void serve()
    {
        std::uint32_t error = 0;
        m_connectionFd = posix::acceptSeqPacket(m_listenFd, 5000, error);
        unsigned char request[64];
        for (bool first = true;; first = false) {
            posix::ReceivedMessage message;
            if (!posix::receiveMessage(m_connectionFd, request, sizeof request, 5000, message, error))
                return;
            if (first && m_manner == HangUp)
                return posix::shutdownSocket(m_connectionFd);
            const Bytes reply = first ? m_firstReply : goodReply();
            if (!first || m_manner == Answer)
                posix::sendMessage(m_connectionFd, reply.data(), reply.size(), 1000, error);
        }
    }

    Manner m_manner;
    Bytes m_firstReply;
    int m_listenFd = posix::kInvalidSocket;
    std::atomic<int> m_connectionFd { posix::kInvalidSocket };
    std::thread m_thread;
};

unsigned modeOf(const QString& path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 0777 : 0;
}

// Puts a directory in front of PATH for one test.
class PathPrefix
{
public:
    explicit PathPrefix(const QString& dir) : m_saved(qgetenv("PATH"))
    {
        qputenv("PATH", QFile::encodeName(dir) + ":" + m_saved);
    }
    ~PathPrefix() { qputenv("PATH", m_saved); }

private:
    QByteArray m_saved;
};

bool writeProgram(const QString& path, const QByteArray& text, QFile::Permissions permissions)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.setPermissions(permissions);
}

constexpr QFile::Permissions kExecutable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;

} // namespace

class TestPlatform : public QObject
{
    Q_OBJECT

private slots:
    void pipeContract_data();
    void pipeContract();
    void socketsLiveInAPrivateBaseDirectory();
    void windowsPathsMapBelowTheBase_data();
    void windowsPathsMapBelowTheBase();
    void anUnsafeBaseDirectoryIsRefused_data();
    void anUnsafeBaseDirectoryIsRefused();
    void socketPathsLongerThanTheSystemTakesFail_data();
    void socketPathsLongerThanTheSystemTakesFail();
    void errnoValuesMapToWindowsErrors();
    void deviceOpenFailsWhenNobodyListensOrNobodyAccepts();
    void deviceRepliesAreCheckedBeforeUse_data();
    void deviceRepliesAreCheckedBeforeUse();
    void oneInstanceLockAtATime();
    void terminationSignalsArriveThroughThePipe();
    void shellStartsTheProgramFromPathAndDoesNotWait();
    void shellReportsAProgramThatCannotStart();

private:
    TestEnvironment environment;
};

void TestPlatform::pipeContract_data()
{
    QTest::addColumn<int>("index");
    for (std::size_t i = 0; i < pipecases::all().size(); ++i)
        QTest::newRow(pipecases::all()[i].name) << int(i);
}

void TestPlatform::pipeContract()
{
    QFETCH(int, index);
    const pipecases::Case& pipeCase = pipecases::all()[index];
    const std::string failure = pipeCase.run(L"\\\\.\\pipe\\" + QString(pipeCase.name).toStdWString());
    QVERIFY2(failure.empty(), failure.c_str());
}

void TestPlatform::socketsLiveInAPrivateBaseDirectory()
{
    std::string base;
    std::uint32_t error = 0;
    QVERIFY(posix::runtimeBaseDir(base, error));
    QCOMPARE(QString::fromStdString(base), environment.baseDir());
    const PipeHandle server = createNamedPipe(L"\\\\.\\pipe\\Private", error);
    QVERIFY(server != kInvalidPipeHandle);
    QCOMPARE(modeOf(environment.baseDir()), 0700u);
    QCOMPARE(modeOf(environment.baseDir() + "/pipe"), 0700u);
    QCOMPARE(modeOf(environment.baseDir() + "/pipe/Private"), 0600u);
    closePipe(server);

    // Without XDG_RUNTIME_DIR the base is the user's own directory in /tmp.
    const QString fallback = "/tmp/kestrum-" + QString::number(::geteuid());
    const bool existed = QFileInfo::exists(fallback);
    qunsetenv("XDG_RUNTIME_DIR");
    const bool found = posix::runtimeBaseDir(base, error);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(environment.runtimeDir()));
    if (!existed)
        QDir().rmdir(fallback);
    QVERIFY(found);
    QCOMPARE(QString::fromStdString(base), fallback);
}

void TestPlatform::windowsPathsMapBelowTheBase_data()
{
    QTest::addColumn<QString>("windowsPath");
    QTest::addColumn<QString>("below"); // empty: refused with error 123
    QTest::newRow("device") << "\\\\.\\KestrumAudioBus3" << "KestrumAudioBus3";
    QTest::newRow("pipe") << "\\\\.\\pipe\\KestrumASIOToPannel" << "pipe/KestrumASIOToPannel";
    QTest::newRow("one-byte UTF-8") << "\\\\.\\a\u007f" << "a\u007f";
    QTest::newRow("two-byte UTF-8") << "\\\\.\\\u0080\u00e9\u07ff" << "\u0080\u00e9\u07ff";
    QTest::newRow("three-byte UTF-8") << "\\\\.\\\u0800\u4e2d\uffff" << "\u0800\u4e2d\uffff";
    QTest::newRow("four-byte UTF-8") << "\\\\.\\pipe\\\U00010000\U0001F3B5\U0010FFFF" << "pipe/\U00010000\U0001F3B5\U0010FFFF";
    QTest::newRow("no prefix") << "KestrumAudioBus0" << "";
    QTest::newRow("prefix alone") << "\\\\.\\" << "";
    QTest::newRow("parent") << "\\\\.\\..\\etc" << "";
    QTest::newRow("dot") << "\\\\.\\pipe\\." << "";
    QTest::newRow("empty part") << "\\\\.\\pipe\\\\x" << "";
    QTest::newRow("slash") << "\\\\.\\pipe/..\\x" << "";
}

void TestPlatform::windowsPathsMapBelowTheBase()
{
    QFETCH(QString, windowsPath);
    QFETCH(QString, below);
    std::string socketPath;
    std::uint32_t error = 0;
    const bool mapped = posix::socketPathFor(windowsPath.toStdWString(), socketPath, error);
    QCOMPARE(mapped, !below.isEmpty());
    if (mapped)
        QCOMPARE(QString::fromStdString(socketPath), environment.baseDir() + "/" + below);
    else
        QCOMPARE(error, winerror::kInvalidName);
}

void TestPlatform::anUnsafeBaseDirectoryIsRefused_data()
{
    QTest::addColumn<int>("mode"); // 0: given to another user; -1: replaced by a link
    QTest::newRow("others may write") << 0707;
    QTest::newRow("the group may write") << 0770;
    QTest::newRow("another user owns it") << 0;
    QTest::newRow("a link to a private directory") << -1;
}

void TestPlatform::anUnsafeBaseDirectoryIsRefused()
{
    QFETCH(int, mode);
    const QByteArray base = QFile::encodeName(environment.baseDir());
    std::string dir;
    std::uint32_t error = 0;
    QVERIFY(posix::runtimeBaseDir(dir, error));
    if (mode < 0) {
        QVERIFY(::rename(base.constData(), (base + "-real").constData()) == 0);
        QVERIFY(::symlink((base + "-real").constData(), base.constData()) == 0);
    } else if (mode == 0) {
        QVERIFY2(::chown(base.constData(), 65534, 65534) == 0, "this check runs as root, to give the directory away");
    } else {
        QVERIFY(::chmod(base.constData(), mode) == 0);
    }

    const bool opened = openDevice(kBus7, error) != kInvalidDeviceHandle;
    const std::uint32_t deviceError = error;
    const bool served = createNamedPipe(L"\\\\.\\pipe\\Refused", error) != kInvalidPipeHandle;
    // The next test starts from a fresh base directory.
    QVERIFY(::unlink(base.constData()) == 0 || QDir(environment.baseDir()).removeRecursively());
    QDir(environment.baseDir() + "-real").removeRecursively();
    QVERIFY(!opened && !served);
    QCOMPARE(deviceError, winerror::kAccessDenied);
    QCOMPARE(error, winerror::kAccessDenied);
}

void TestPlatform::socketPathsLongerThanTheSystemTakesFail_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("fits");
    constexpr int kLongest = sizeof(sockaddr_un::sun_path) - 1;
    QTest::newRow("the longest that fits") << kLongest << true;
    QTest::newRow("one byte more") << kLongest + 1 << false;
}

void TestPlatform::socketPathsLongerThanTheSystemTakesFail()
{
    QFETCH(int, length);
    QFETCH(bool, fits);
    const std::wstring pipeName(length - (environment.baseDir() + "/pipe/").size(), L'p');
    const std::wstring deviceName(length - (environment.baseDir() + "/").size(), L'd');
    std::uint32_t error = 0;
    const PipeHandle server = createNamedPipe(L"\\\\.\\pipe\\" + pipeName, error);
    QCOMPARE(server != kInvalidPipeHandle, fits);
    QCOMPARE(error, fits ? winerror::kSuccess : winerror::kFilenameTooLong);
    const PipeHandle client = openPipe(L"\\\\.\\pipe\\" + pipeName, error);
    QCOMPARE(client != kInvalidPipeHandle, fits);
    closePipe(client);
    closePipe(server);
    QCOMPARE(openDevice(L"\\\\.\\" + deviceName, error), kInvalidDeviceHandle);
    QCOMPARE(error, fits ? winerror::kFileNotFound : winerror::kFilenameTooLong);
}

void TestPlatform::errnoValuesMapToWindowsErrors()
{
    const std::pair<int, std::uint32_t> numbers[] = {
        { 0, 0 }, { ENOENT, 2 }, { ECONNREFUSED, 2 }, { ENOTDIR, 3 }, { EACCES, 5 }, { EPERM, 5 },
        { ETIMEDOUT, 121 }, { EAGAIN, 121 }, { EMSGSIZE, 234 }, { ENAMETOOLONG, 206 }, { EINVAL, 87 },
        { EPIPE, 1167 }, { ECONNRESET, 1167 }, { ENOTCONN, 1167 }, { EBADF, 1167 }, { ELOOP, 31 },
    };
    for (const auto& [posixError, windowsError] : numbers)
        QVERIFY2(posix::windowsErrorFromErrno(posixError) == windowsError, std::strerror(posixError));
}

void TestPlatform::deviceOpenFailsWhenNobodyListensOrNobodyAccepts()
{
    std::uint32_t error = 0;
    QCOMPARE(openDevice(kBus7, error), kInvalidDeviceHandle);
    QCOMPARE(error, winerror::kFileNotFound);
    const IoControlResult result = deviceIoControl(kInvalidDeviceHandle, 0xFFDC2084, nullptr, 0, nullptr, 0);
    QVERIFY(!result.ok);
    QCOMPARE(result.error, winerror::kInvalidHandle);

    // A driver that listens but never accepts: once its backlog is full, an
    // open gives up instead of holding the caller.
    std::string socketPath;
    posix::socketPathFor(kBus7, socketPath, error);
    const int listener = posix::listenSeqPacket(socketPath, error);
    QVERIFY(listener != posix::kInvalidSocket);
    QVERIFY(::listen(listener, 0) == 0);
    std::vector<DeviceHandle> queued;
    DeviceHandle handle = kInvalidDeviceHandle;
    while (queued.size() < 8 && (handle = openDevice(kBus7, error)) != kInvalidDeviceHandle)
        queued.push_back(handle);
    for (const DeviceHandle each : queued)
        closeDevice(each);
    posix::closeSocket(listener);
    QCOMPARE(handle, kInvalidDeviceHandle);
    QCOMPARE(error, winerror::kSemTimeout);
}

void TestPlatform::deviceRepliesAreCheckedBeforeUse_data()
{
    QTest::addColumn<int>("manner");
    QTest::addColumn<Bytes>("reply");
    QTest::addColumn<std::uint32_t>("error"); // 0: the call succeeds
    QTest::addColumn<bool>("usableAfter");
    const Bytes good = PeerDevice::goodReply();
    QTest::newRow("answer") << int(PeerDevice::Answer) << good << 0u << true;
    QTest::newRow("refused") << int(PeerDevice::Answer) << posix::encodeReply({ 0, 87, 0 }, nullptr) << 87u << true;
    QTest::newRow("short header") << int(PeerDevice::Answer) << Bytes { 1, 0, 0 } << 1167u << false;
    QTest::newRow("more than the output holds")
        << int(PeerDevice::Answer) << posix::encodeReply({ 1, 0, 3 }, "abc") << 1167u << false;
    QTest::newRow("fewer bytes than announced")
        << int(PeerDevice::Answer) << Bytes(good.begin(), good.end() - 1) << 1167u << false;
    QTest::newRow("status neither 0 nor 1")
        << int(PeerDevice::Answer) << posix::encodeReply({ 2, 0, 0 }, nullptr) << 1167u << false;
    QTest::newRow("no answer in time") << int(PeerDevice::Silent) << Bytes() << 121u << false;
    QTest::newRow("hung up") << int(PeerDevice::HangUp) << Bytes() << 1167u << false;
}

void TestPlatform::deviceRepliesAreCheckedBeforeUse()
{
    QFETCH(int, manner);
    QFETCH(Bytes, reply);
    QFETCH(std::uint32_t, error);
    QFETCH(bool, usableAfter);
    PeerDevice peer(PeerDevice::Manner(manner), reply);
    std::uint32_t openError = 0;
    const DeviceHandle handle = openDevice(kBus7, openError);
    QVERIFY(handle != kInvalidDeviceHandle);

    // A failed call leaves the caller's output as it was.
    unsigned char out[2] = { 0xAA, 0xAA };
    IoControlResult result = deviceIoControl(handle, 0xFFDC20B0, nullptr, 0, out, sizeof out);
    QCOMPARE(result.ok, error == 0);
    QCOMPARE(result.error, error);
    QCOMPARE(result.bytesReturned, error == 0 ? 2u : 0u);
    QCOMPARE(QByteArray(reinterpret_cast<char*>(out), 2), error == 0 ? QByteArray("\x34\x12") : QByteArray("\xAA\xAA"));

    // After a lost or garbled reply, a late answer could pair with the wrong
    // call: every later call fails.
    result = deviceIoControl(handle, 0xFFDC20B0, nullptr, 0, out, sizeof out);
    closeDevice(handle);
    QCOMPARE(result.ok, usableAfter);
    QCOMPARE(result.error, usableAfter ? 0u : winerror::kDeviceNotConnected);
}

void TestPlatform::oneInstanceLockAtATime()
{
    std::uint32_t error = 0;
    const int lock = posix::takeInstanceLock("KestrumTestLock", error);
    QVERIFY(lock != posix::kNoInstanceLock);
    QVERIFY(QFileInfo::exists(environment.baseDir() + "/KestrumTestLock.lock"));
    QCOMPARE(posix::takeInstanceLock("KestrumTestLock", error), posix::kNoInstanceLock);
    QCOMPARE(error, winerror::kAlreadyExists);
    posix::releaseInstanceLock(lock);
    const int again = posix::takeInstanceLock("KestrumTestLock", error);
    QVERIFY(again != posix::kNoInstanceLock);
    posix::releaseInstanceLock(again);
}

void TestPlatform::terminationSignalsArriveThroughThePipe()
{
    std::uint32_t error = 0;
    const int watch = posix::watchTerminationSignals(error);
    QVERIFY(watch >= 0);
    QCOMPARE(posix::watchTerminationSignals(error), watch);
    QVERIFY(!posix::takeTerminationSignals(watch));
    for (const int signalNumber : { SIGTERM, SIGINT, SIGHUP }) {
        QVERIFY(::raise(signalNumber) == 0);
        QVERIFY(posix::takeTerminationSignals(watch));
        QVERIFY(!posix::takeTerminationSignals(watch));
    }
}

void TestPlatform::shellStartsTheProgramFromPathAndDoesNotWait()
{
    // The program writes its arguments, then waits for the test's word: it
    // is still running when the call has returned.
    QTemporaryDir dir;
    const QByteArray arguments = QFile::encodeName(dir.filePath("arguments"));
    const QByteArray go = QFile::encodeName(dir.filePath("go"));
    const QByteArray done = QFile::encodeName(dir.filePath("done"));
    const QByteArray script = "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + arguments + ".part'\n"
        "mv '" + arguments + ".part' '" + arguments + "'\n"
        "i=0; while [ ! -e '" + go + "' ] && [ $i -lt 100 ]; do sleep 0.05; i=$((i+1)); done\n"
        "touch '" + done + "'\n";
    QVERIFY(writeProgram(dir.filePath("kestrum-probe"), script, kExecutable));
    PathPrefix path(dir.path());

    QCOMPARE(shellExecute("open", "kestrum-probe", "alpha  beta gamma", kShowNormal), std::intptr_t(42));
    // The middle process is reaped and the program is not our child: no zombie, no child at all.
    errno = 0;
    QCOMPARE(::waitpid(-1, nullptr, WNOHANG), pid_t(-1));
    QCOMPARE(errno, ECHILD);

    QTRY_VERIFY(QFile::exists(arguments));
    QVERIFY(!QFile::exists(done));
    QFile written(arguments);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), QByteArray("alpha\nbeta\ngamma\n"));
    QVERIFY(QFile(go).open(QIODevice::WriteOnly));
    QTRY_VERIFY(QFile::exists(done));
}

void TestPlatform::shellReportsAProgramThatCannotStart()
{
    QTemporaryDir dir;
    QVERIFY(writeProgram(dir.filePath("kestrum-not-executable"), "#!/bin/sh\n", QFile::ReadOwner | QFile::WriteOwner));
    // Found and executable, but the exec itself fails in the started process.
    QVERIFY(writeProgram(dir.filePath("kestrum-no-interpreter"), "#!/nonexistent/sh\n", kExecutable));
    PathPrefix path(dir.path());
    for (const char* program : { "kestrum-no-such-program", "kestrum-not-executable", "kestrum-no-interpreter" })
        QVERIFY2(shellExecute("open", program, "mmsys.cpl", kShowNormal) == 2, program);
}

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
