// The POSIX stand-in of the OS seam: the pipe contract it shares with the
// Windows half (PipeCases), and what only the stand-in has: where its
// sockets live and who may reach them, device replies that are malformed,
// late or missing (the test plays the driver's end of the connection, as the
// simulator never misbehaves), the one-copy lock and the shell call.

#include "platform/DeviceIo.h"
#include "platform/NamedPipe.h"
#include "platform/Shell.h"
#include "platform/WinError.h"
#include "platform/posix/InstanceLock.h"
#include "platform/posix/RuntimeDir.h"
#include "platform/posix/SeqPacketSocket.h"
#include "platform/posix/WireFormat.h"
#include "tests/platform/PipeCases.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QTest>

#include <algorithm>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace platform;
using Bytes = std::vector<unsigned char>;

namespace {

const std::wstring kBus7 = L"\\\\.\\KestrumAudioBus7";

unsigned modeOf(const QString& path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 0777 : 0;
}

} // namespace

class TestPlatform : public QObject
{
    Q_OBJECT

    TestEnvironment environment;

private slots:
    // Started with standard input closed, as some launchers do, the stand-in
    // gets descriptor 0 for the first thing it opens: every case runs so,
    // and 0 must work like any other descriptor, also when closed.
    void initTestCase() { ::close(STDIN_FILENO); }

    void socketsLiveInAPrivateBaseDirectory()
    {
        std::uint32_t error = 0;
        // Descriptor 0, closed before the first test, serves as well as any other.
        const int zero = posix::listenSeqPacket(QFile::encodeName(environment.root() + "/zero").toStdString(), error);
        posix::closeSocket(zero);
        QCOMPARE(zero, 0);
        const auto openDescriptors = [] { return QDir("/proc/self/fd").count(); };
        const uint descriptorsBefore = openDescriptors();
        const PipeHandle server = createNamedPipe(L"\\\\.\\pipe\\Private", error);
        const unsigned socketMode = modeOf(environment.baseDir() + "/pipe/Private");
        closePipe(server);
        QVERIFY(server != kInvalidPipeHandle);
        QCOMPARE(modeOf(environment.baseDir()), 0700u);
        QCOMPARE(modeOf(environment.baseDir() + "/pipe"), 0700u);
        QCOMPARE(socketMode, 0600u);
        // A closed server leaves neither its socket nor a descriptor behind.
        QVERIFY(!QFile::exists(environment.baseDir() + "/pipe/Private"));
        QCOMPARE(openDescriptors(), descriptorsBefore);

        // Without XDG_RUNTIME_DIR the base is in the user's own home, where no
        // other user can take it first as one can in /tmp, and the sim serves there.
        const QByteArray taken = "/tmp/kestrum-" + QByteArray::number(::geteuid());
        const bool existed = QFile::exists(taken);
        QVERIFY(existed || (::mkdir(taken, 0700) == 0 && ::chown(taken, 65534, 65534) == 0));
        qunsetenv("XDG_RUNTIME_DIR");
        const DeviceHandle device = SimProcess().waitUntilReady() ? openDevice(L"\\\\.\\KestrumAudioBus0", error) : kInvalidDeviceHandle;
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(environment.runtimeDir()));
        closeDevice(device);
        if (!existed)
            ::rmdir(taken);
        QVERIFY(device != kInvalidDeviceHandle);
        QCOMPARE(modeOf(environment.root() + "/home/.cache/kestrum"), 0700u);
    }

    // At the descriptor limit no socket can be made: every helper fails
    // rather than hand back, use and close a descriptor it does not own, such
    // as 0, the listener's here.
    void nothingOpensAtTheDescriptorLimit()
    {
        std::uint32_t error = 0;
        const std::string path = QFile::encodeName(environment.root() + "/limit").toStdString();
        const int listener = posix::listenSeqPacket(path, error);
        rlimit saved {};
        QVERIFY(listener == 0 && ::getrlimit(RLIMIT_NOFILE, &saved) == 0);
        rlimit low = saved;
        low.rlim_cur = QDir("/proc/self/fd").count() + 8;
        QVERIFY(::setrlimit(RLIMIT_NOFILE, &low) == 0);
        std::vector<int> filler;
        for (int fd; (fd = ::dup(STDERR_FILENO)) >= 0;)
            filler.push_back(fd);
        std::vector<std::uint32_t> errors(5, 0);
        const bool opened[] = { posix::listenSeqPacket(path + "2", errors[0]) != posix::kInvalidSocket,
                                posix::connectSeqPacket(path, errors[1]) != posix::kInvalidSocket,
                                createNamedPipe(L"\\\\.\\pipe\\Limit", errors[2]) != kInvalidPipeHandle,
                                openDevice(kBus7, errors[3]) != kInvalidDeviceHandle,
                                openPipe(L"\\\\.\\pipe\\Limit", errors[4]) != kInvalidPipeHandle };
        filler.push_back(listener);
        const bool kept = std::all_of(filler.begin(), filler.end(), [](int fd) { return ::fcntl(fd, F_GETFD) != -1; });
        for (const int fd : filler)
            ::close(fd);
        ::setrlimit(RLIMIT_NOFILE, &saved);
        QVERIFY(kept && filler.size() > 1);
        for (std::size_t i = 0; i < errors.size(); ++i)
            QVERIFY2(!opened[i] && errors[i] != 0, qPrintable(QString::number(i)));
    }

    void pipeContract_data()
    {
        QTest::addColumn<int>("index");
        for (std::size_t i = 0; i < pipecases::all().size(); ++i)
            QTest::newRow(pipecases::all()[i].name) << int(i);
    }

    void pipeContract()
    {
        QFETCH(int, index);
        const pipecases::Case& pipeCase = pipecases::all()[index];
        const std::string failure = pipeCase.run(L"\\\\.\\pipe\\" + QString(pipeCase.name).toStdWString());
        QVERIFY2(failure.empty(), failure.c_str());
    }

    void windowsPathsMapBelowTheBase_data()
    {
        QTest::addColumn<QString>("windowsPath");
        QTest::addColumn<QString>("below"); // empty: refused with error 123
        QTest::newRow("device") << "\\\\.\\KestrumAudioBus3" << "KestrumAudioBus3";
        QTest::newRow("pipe") << "\\\\.\\pipe\\KestrumASIOToPannel" << "pipe/KestrumASIOToPannel";
        QTest::newRow("UTF-8 of one to three bytes") << "\\\\.\\\u007f\u0080\u07ff\u0800\u4e2d\uffff" << "\u007f\u0080\u07ff\u0800\u4e2d\uffff";
        QTest::newRow("UTF-8 of four bytes") << "\\\\.\\pipe\\\U00010000\U0001F3B5\U0010FFFF" << "pipe/\U00010000\U0001F3B5\U0010FFFF";
        QTest::newRow("no prefix") << "KestrumAudioBus0" << "";
        QTest::newRow("parent") << "\\\\.\\..\\etc" << "";
        QTest::newRow("dot") << "\\\\.\\pipe\\." << "";
        QTest::newRow("empty part") << "\\\\.\\pipe\\\\x" << "";
        QTest::newRow("slash") << "\\\\.\\pipe/..\\x" << "";
    }

    void windowsPathsMapBelowTheBase()
    {
        QFETCH(QString, windowsPath);
        QFETCH(QString, below);
        std::string socketPath;
        std::uint32_t error = 0;
        QCOMPARE(posix::socketPathFor(windowsPath.toStdWString(), socketPath, error), !below.isEmpty());
        if (below.isEmpty())
            QCOMPARE(error, winerror::kInvalidName);
        else
            QCOMPARE(QString::fromStdString(socketPath), environment.baseDir() + "/" + below);
    }

    void anUnsafeBaseDirectoryIsRefused_data()
    {
        QTest::addColumn<int>("mode"); // 0: given to another user; -1: replaced by a link to a private one
        QTest::newRow("others may write") << 0707;
        QTest::newRow("the group may write") << 0770;
        QTest::newRow("another user owns it") << 0;
        QTest::newRow("a link") << -1;
    }

    void anUnsafeBaseDirectoryIsRefused()
    {
        QFETCH(int, mode);
        const QByteArray base = QFile::encodeName(environment.baseDir());
        QDir(environment.baseDir()).removeRecursively();
        QVERIFY(QDir().mkpath(environment.baseDir() + "-real") && ::chmod(base + "-real", 0700) == 0);
        if (mode < 0)
            QVERIFY(::symlink(base + "-real", base) == 0);
        else
            QVERIFY(::rename(base + "-real", base) == 0 && (mode ? ::chmod(base, mode) : ::chown(base, 65534, 65534)) == 0);

        std::uint32_t error = 0;
        const bool served = createNamedPipe(L"\\\\.\\pipe\\Refused", error) != kInvalidPipeHandle;
        // Later tests start without a base directory, as a first user does.
        QVERIFY(::unlink(base) == 0 || QDir(environment.baseDir()).removeRecursively());
        QDir(environment.baseDir() + "-real").removeRecursively();
        QVERIFY(!served);
        QCOMPARE(error, winerror::kAccessDenied);
    }

    void socketPathsLongerThanTheSystemTakesFail_data()
    {
        QTest::addColumn<int>("length");
        QTest::newRow("the longest that fits") << int(sizeof(sockaddr_un::sun_path)) - 1;
        QTest::newRow("one byte more") << int(sizeof(sockaddr_un::sun_path));
    }

    void socketPathsLongerThanTheSystemTakesFail()
    {
        QFETCH(int, length);
        const bool fits = length < int(sizeof(sockaddr_un::sun_path));
        const std::wstring pipe = L"\\\\.\\pipe\\" + std::wstring(length - (environment.baseDir() + "/pipe/").size(), L'p');
        std::uint32_t error = 0;
        closePipe(createNamedPipe(pipe, error));
        QCOMPARE(error, fits ? winerror::kSuccess : winerror::kFilenameTooLong);
        QCOMPARE(openDevice(L"\\\\.\\" + std::wstring(length - (environment.baseDir() + "/").size(), L'd'), error),
                 kInvalidDeviceHandle);
        QCOMPARE(error, fits ? winerror::kFileNotFound : winerror::kFilenameTooLong);
    }

    void errnoValuesMapToWindowsErrors()
    {
        const std::pair<int, std::uint32_t> numbers[] = {
            { 0, 0 }, { ENOENT, 2 }, { ECONNREFUSED, 2 }, { ENOTDIR, 3 }, { EACCES, 5 }, { EPERM, 5 },
            { ETIMEDOUT, 121 }, { EAGAIN, 121 }, { EMSGSIZE, 234 }, { ENAMETOOLONG, 206 }, { EINVAL, 87 },
            { EPIPE, 1167 }, { ECONNRESET, 1167 }, { ENOTCONN, 1167 }, { EBADF, 1167 }, { ELOOP, 31 },
        };
        for (const auto& [posixError, windowsError] : numbers)
            QVERIFY2(posix::windowsErrorFromErrno(posixError) == windowsError, qPrintable(QString::number(posixError)));
    }

    void deviceOpenFailsWhenNobodyListensOrNobodyAccepts()
    {
        std::uint32_t error = 0;
        QCOMPARE(deviceIoControl(kInvalidDeviceHandle, 0xFFDC2084, nullptr, 0, nullptr, 0).error, winerror::kInvalidHandle);

        // A driver that listens but never accepts: once its backlog is full, an
        // open gives up instead of holding the caller.
        std::string socketPath;
        posix::socketPathFor(kBus7, socketPath, error);
        const int listener = posix::listenSeqPacket(socketPath, error);
        QVERIFY(listener != posix::kInvalidSocket && ::listen(listener, 0) == 0);
        std::vector<DeviceHandle> queued;
        DeviceHandle handle = kInvalidDeviceHandle;
        while (queued.size() < 8 && (handle = openDevice(kBus7, error)) != kInvalidDeviceHandle)
            queued.push_back(handle);
        for (const DeviceHandle each : queued)
            closeDevice(each);
        posix::closeSocket(listener);
        QCOMPARE(handle, kInvalidDeviceHandle);
        QCOMPARE(error, winerror::kSemTimeout);

        // No client within the limit, or a listener shut down to stop its
        // server's accepting thread: no client either way.
        const int stopped = posix::listenSeqPacket(socketPath, error);
        QCOMPARE(posix::acceptSeqPacket(stopped, 50, error), posix::kInvalidSocket);
        QCOMPARE(error, winerror::kSemTimeout);
        posix::shutdownSocket(stopped);
        const int accepted = posix::acceptSeqPacket(stopped, 1000, error);
        posix::closeSocket(stopped);
        QCOMPARE(accepted, posix::kInvalidSocket);
    }

    void deviceRepliesAreCheckedBeforeUse_data()
    {
        QTest::addColumn<Bytes>("reply"); // empty: none comes
        QTest::addColumn<std::uint32_t>("error"); // 0: the call succeeds
        QTest::addColumn<bool>("usableAfter");
        const Bytes good = posix::encodeReply({ 1, 0, 2 }, "\x34\x12");
        QTest::newRow("answer") << good << 0u << true;
        QTest::newRow("refused") << posix::encodeReply({ 0, 87, 0 }, nullptr) << 87u << true;
        QTest::newRow("short header") << Bytes { 1, 0, 0 } << 1167u << false;
        QTest::newRow("more than the output holds") << posix::encodeReply({ 1, 0, 3 }, "abc") << 1167u << false;
        QTest::newRow("fewer bytes than told") << Bytes(good.begin(), good.end() - 1) << 1167u << false;
        QTest::newRow("status neither 0 nor 1") << posix::encodeReply({ 2, 0, 0 }, nullptr) << 1167u << false;
        QTest::newRow("no answer in time") << Bytes() << 121u << false;
    }

    void deviceRepliesAreCheckedBeforeUse()
    {
        QFETCH(Bytes, reply);
        QFETCH(std::uint32_t, error);
        QFETCH(bool, usableAfter);
        // The driver's end of the connection holds the replies before the calls are made.
        int ends[2];
        QVERIFY(::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, ends) == 0);
        const Bytes good = posix::encodeReply({ 1, 0, 2 }, "\x34\x12");
        if (!reply.empty())
            QVERIFY(::send(ends[1], reply.data(), reply.size(), 0) > 0 && ::send(ends[1], good.data(), good.size(), 0) > 0);

        // A failed call leaves the caller's output as it was.
        unsigned char out[2] = { 0xAA, 0xAA };
        const IoControlResult first = deviceIoControl(ends[0], 0xFFDC20B0, nullptr, 0, out, sizeof out);
        const QByteArray output(reinterpret_cast<char*>(out), 2);
        // After a lost or garbled reply a late answer could pair with the wrong
        // call: every later call fails.
        const IoControlResult second = deviceIoControl(ends[0], 0xFFDC20B0, nullptr, 0, out, sizeof out);
        ::close(ends[1]);
        const IoControlResult hungUp = deviceIoControl(ends[0], 0xFFDC20B0, nullptr, 0, out, sizeof out);
        ::close(ends[0]);
        QCOMPARE(first.ok, error == 0);
        QCOMPARE(first.error, error);
        QCOMPARE(first.bytesReturned, error ? 0u : 2u);
        QCOMPARE(output, error ? QByteArray("\xAA\xAA") : QByteArray("\x34\x12"));
        QCOMPARE(second.ok, usableAfter);
        QCOMPARE(second.error, usableAfter ? 0u : winerror::kDeviceNotConnected);
        QCOMPARE(hungUp.error, winerror::kDeviceNotConnected);
    }

    // The termination signals end the process, so tst_single_instance tries them on the real program.
    void oneInstanceLockAtATime()
    {
        std::uint32_t error = 0;
        std::string cause;
        const int lock = posix::takeInstanceLock("KestrumTestLock", error, cause);
        QVERIFY(lock != posix::kNoInstanceLock && QFile::exists(environment.baseDir() + "/KestrumTestLock.lock"));
        QCOMPARE(posix::takeInstanceLock("KestrumTestLock", error, cause), posix::kNoInstanceLock);
        QCOMPARE(error, winerror::kAlreadyExists);
        posix::releaseInstanceLock(lock);
        const int again = posix::takeInstanceLock("KestrumTestLock", error, cause);
        posix::releaseInstanceLock(again);
        QVERIFY(again != posix::kNoInstanceLock);
        // A lock that cannot be a file is not taken.
        QVERIFY(QDir().mkdir(environment.baseDir() + "/KestrumDirectory.lock"));
        QCOMPARE(posix::takeInstanceLock("KestrumDirectory", error, cause), posix::kNoInstanceLock);
    }

    void shellStartsAProgramAndDoesNotWaitForIt()
    {
        // cp from PATH, with two parameters, copying from a FIFO that nobody
        // writes yet: it can only finish after the call returned.
        QTemporaryDir dir;
        const QByteArray fifo = QFile::encodeName(dir.filePath("fifo"));
        const QByteArray copy = QFile::encodeName(dir.filePath("copy"));
        QVERIFY(::mkfifo(fifo, 0600) == 0);
        QCOMPARE(shellExecute("open", "cp", (fifo + "  " + copy).toStdString(), kShowNormal), std::intptr_t(42));
        // The middle process is reaped and the program is not our child.
        errno = 0;
        QVERIFY(::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD);
        int writer = -1;
        QTRY_VERIFY((writer = ::open(fifo, O_WRONLY | O_NONBLOCK)) >= 0);
        QVERIFY(::write(writer, "mmsys", 5) == 5 && ::close(writer) == 0);
        QTRY_COMPARE(QFile(copy).size(), 5);

        // Not there, not executable, or the exec itself fails in the started process.
        const QString noInterpreter = dir.filePath("no-interpreter");
        QFile script(noInterpreter);
        QVERIFY(script.open(QIODevice::WriteOnly) && script.write("#!/nonexistent/sh\n") > 0);
        script.close();
        QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::ExeOwner));
        for (const QString& program : { QString("kestrum-no-such-program"), QFile::decodeName(copy), noInterpreter })
            QVERIFY2(shellExecute("open", program.toStdString(), "mmsys.cpl", kShowNormal) == 2, qPrintable(program));
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
