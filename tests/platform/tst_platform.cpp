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
using namespace platform::posix;
using namespace platform::winerror;
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

    TestEnvironment env;
    std::uint32_t error = 0;

    QString base() const { return env.baseDir(); }
    std::string rootPath(const char* name) const { return QFile::encodeName(env.root() + name).toStdString(); }

private slots:
    // Started with standard input closed, as some launchers do, the stand-in
    // gets descriptor 0 for the first thing it opens: every case runs so,
    // and 0 must work like any other descriptor, also when closed.
    void initTestCase() { ::close(STDIN_FILENO); }

    void privateBase()
    {
        // Descriptor 0, closed before the first test, serves as well as any other.
        const int zero = listenSeqPacket(rootPath("/zero"), error);
        closeSocket(zero);
        QCOMPARE(zero, 0);
        const auto fds = []() -> uint { return QDir("/proc/self/fd").count(); };
        const uint before = fds();
        const PipeHandle server = createNamedPipe(L"\\\\.\\pipe\\Private", error);
        const uint socketMode = modeOf(base() + "/pipe/Private");
        closePipe(server);
        QVERIFY(server != kInvalidPipeHandle);
        // A closed server leaves neither its socket nor a descriptor behind.
        const QList<uint> seen { modeOf(base()), modeOf(base() + "/pipe"), socketMode, QFile::exists(base() + "/pipe/Private"), fds() };
        QCOMPARE(seen, QList<uint>({ 0700, 0700, 0600, 0, before }));

        // Without XDG_RUNTIME_DIR the base is in the user's own home, where no
        // other user can take it first as one can in /tmp, and the sim serves there.
        const QByteArray taken = "/tmp/kestrum-" + QByteArray::number(::geteuid());
        const bool existed = QFile::exists(taken);
        QVERIFY(existed || (::mkdir(taken, 0700) == 0 && ::chown(taken, 65534, 65534) == 0));
        qunsetenv("XDG_RUNTIME_DIR");
        const DeviceHandle device = SimProcess().waitUntilReady() ? openDevice(L"\\\\.\\KestrumAudioBus0", error) : kInvalidDeviceHandle;
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(env.runtimeDir()));
        closeDevice(device);
        if (!existed)
            ::rmdir(taken);
        QVERIFY(device != kInvalidDeviceHandle);
        QCOMPARE(modeOf(env.root() + "/home/.cache/kestrum"), 0700u);
    }

    // At the descriptor limit no socket can be made: every helper fails
    // rather than hand back, use and close a descriptor it does not own, such
    // as 0, the listener's here.
    void descriptorLimit()
    {
        const std::string path = rootPath("/limit");
        const int listener = listenSeqPacket(path, error);
        rlimit saved {};
        QVERIFY(listener == 0 && ::getrlimit(RLIMIT_NOFILE, &saved) == 0);
        rlimit low = saved;
        low.rlim_cur = QDir("/proc/self/fd").count() + 8;
        QVERIFY(::setrlimit(RLIMIT_NOFILE, &low) == 0);
        std::vector<int> filler;
        for (int fd; (fd = ::dup(STDERR_FILENO)) >= 0;)
            filler.push_back(fd);
        std::uint32_t e[5] = {};
        const bool opened[] = { listenSeqPacket(path + "2", e[0]) != kInvalidSocket,
                                connectSeqPacket(path, e[1]) != kInvalidSocket,
                                createNamedPipe(L"\\\\.\\pipe\\Limit", e[2]) != kInvalidPipeHandle,
                                openDevice(kBus7, e[3]) != kInvalidDeviceHandle,
                                openPipe(L"\\\\.\\pipe\\Limit", e[4]) != kInvalidPipeHandle };
        filler.push_back(listener);
        const bool kept = std::all_of(filler.begin(), filler.end(), [](int fd) { return ::fcntl(fd, F_GETFD) != -1; });
        for (const int fd : filler)
            ::close(fd);
        ::setrlimit(RLIMIT_NOFILE, &saved);
        QVERIFY(kept && filler.size() > 1);
        for (int i = 0; i < 5; ++i)
            QVERIFY2(!opened[i] && e[i] != 0, qPrintable(QString::number(i)));
    }

    void pipeContract_data()
    {
        QTest::addColumn<int>("i");
        for (std::size_t i = 0; i < pipecases::all().size(); ++i)
            QTest::newRow(pipecases::all()[i].name) << int(i);
    }

    void pipeContract()
    {
        QFETCH(int, i);
        const pipecases::Case& c = pipecases::all()[i];
        const std::string failure = c.run(L"\\\\.\\pipe\\" + QString(c.name).toStdWString());
        QVERIFY2(failure.empty(), failure.c_str());
    }

    void pathMapping_data()
    {
        QTest::addColumn<QString>("path");
        // An empty `below`: refused with error 123.
        QTest::addColumn<QString>("below");
        const auto add = [](const char* path, const char* below = "") { QTest::newRow(path) << QString(path) << QString(below); };
        add("\\\\.\\KestrumAudioBus3", "KestrumAudioBus3");
        add("\\\\.\\pipe\\KestrumASIOToPannel", "pipe/KestrumASIOToPannel");
        // UTF-8 of 1 to 4 bytes.
        add("\\\\.\\\u007f\u0080\u07ff\u0800\u4e2d\uffff", "\u007f\u0080\u07ff\u0800\u4e2d\uffff");
        add("\\\\.\\pipe\\\U00010000\U0001F3B5\U0010FFFF", "pipe/\U00010000\U0001F3B5\U0010FFFF");
        for (const char* refused : { "KestrumAudioBus0", "\\\\.\\..\\etc", "\\\\.\\pipe\\.", "\\\\.\\pipe\\\\x", "\\\\.\\pipe/..\\x" })
            add(refused);
    }

    void pathMapping()
    {
        QFETCH(QString, path);
        QFETCH(QString, below);
        std::string socket;
        QCOMPARE(socketPathFor(path.toStdWString(), socket, error), !below.isEmpty());
        if (below.isEmpty())
            QCOMPARE(error, kInvalidName);
        else
            QCOMPARE(QString::fromStdString(socket), base() + "/" + below);
    }

    void unsafeBase_data()
    {
        // Mode 0: given to another user; -1: replaced by a link to a private one.
        QTest::addColumn<int>("mode");
        QTest::newRow("others write") << 0707;
        QTest::newRow("group writes") << 0770;
        QTest::newRow("other owner") << 0;
        QTest::newRow("link") << -1;
    }

    void unsafeBase()
    {
        QFETCH(int, mode);
        const QByteArray dir = QFile::encodeName(base());
        QDir(base()).removeRecursively();
        QVERIFY(QDir().mkpath(base() + "-real") && ::chmod(dir + "-real", 0700) == 0);
        if (mode < 0)
            QVERIFY(::symlink(dir + "-real", dir) == 0);
        else
            QVERIFY(::rename(dir + "-real", dir) == 0 && (mode ? ::chmod(dir, mode) : ::chown(dir, 65534, 65534)) == 0);

        const bool served = createNamedPipe(L"\\\\.\\pipe\\Refused", error) != kInvalidPipeHandle;
        // Later tests start without a base directory, as a first user does.
        QVERIFY(::unlink(dir) == 0 || QDir(base()).removeRecursively());
        QDir(base() + "-real").removeRecursively();
        QVERIFY(!served);
        QCOMPARE(error, kAccessDenied);
    }

    void longPaths_data()
    {
        QTest::addColumn<int>("length");
        QTest::newRow("longest that fits") << int(sizeof(sockaddr_un::sun_path)) - 1;
        QTest::newRow("one more") << int(sizeof(sockaddr_un::sun_path));
    }

    void longPaths()
    {
        QFETCH(int, length);
        const bool fits = length < int(sizeof(sockaddr_un::sun_path));
        closePipe(createNamedPipe(L"\\\\.\\pipe\\" + std::wstring(length - (base() + "/pipe/").size(), L'p'), error));
        QCOMPARE(error, fits ? kSuccess : kFilenameTooLong);
        QCOMPARE(openDevice(L"\\\\.\\" + std::wstring(length - (base() + "/").size(), L'd'), error), kInvalidDeviceHandle);
        QCOMPARE(error, fits ? kFileNotFound : kFilenameTooLong);
    }

    void errnoMapping()
    {
        const std::pair<int, std::uint32_t> numbers[] = {
            { 0, 0 }, { ENOENT, 2 }, { ECONNREFUSED, 2 }, { ENOTDIR, 3 }, { EACCES, 5 }, { EPERM, 5 },
            { ETIMEDOUT, 121 }, { EAGAIN, 121 }, { EMSGSIZE, 234 }, { ENAMETOOLONG, 206 }, { EINVAL, 87 },
            { EPIPE, 1167 }, { ECONNRESET, 1167 }, { ENOTCONN, 1167 }, { EBADF, 1167 }, { ELOOP, 31 },
        };
        for (const auto& [posixError, windowsError] : numbers)
            QVERIFY2(windowsErrorFromErrno(posixError) == windowsError, qPrintable(QString::number(posixError)));
    }

    void nobodyAccepts()
    {
        QCOMPARE(deviceIoControl(kInvalidDeviceHandle, 0xFFDC2084, nullptr, 0, nullptr, 0).error, kInvalidHandle);

        // A driver that listens but never accepts: once its backlog is full, an
        // open gives up instead of holding the caller.
        std::string path;
        socketPathFor(kBus7, path, error);
        const int listener = listenSeqPacket(path, error);
        QVERIFY(listener != kInvalidSocket && ::listen(listener, 0) == 0);
        std::vector<DeviceHandle> queued;
        DeviceHandle handle = kInvalidDeviceHandle;
        while (queued.size() < 8 && (handle = openDevice(kBus7, error)) != kInvalidDeviceHandle)
            queued.push_back(handle);
        std::for_each(queued.begin(), queued.end(), closeDevice);
        closeSocket(listener);
        QCOMPARE(handle, kInvalidDeviceHandle);
        QCOMPARE(error, kSemTimeout);

        // No client within the limit, or a listener shut down to stop its
        // server's accepting thread: no client either way.
        const int stopped = listenSeqPacket(path, error);
        QCOMPARE(acceptSeqPacket(stopped, 50, error), kInvalidSocket);
        QCOMPARE(error, kSemTimeout);
        shutdownSocket(stopped);
        const int accepted = acceptSeqPacket(stopped, 1000, error);
        closeSocket(stopped);
        QCOMPARE(accepted, kInvalidSocket);
    }

    void replies_data()
    {
        // No reply comes when it is empty; an error of 0 means success; usable:
        // the next call succeeds too.
        QTest::addColumn<Bytes>("reply");
        QTest::addColumn<std::uint32_t>("err");
        QTest::addColumn<bool>("usable");
        const Bytes good = encodeReply({ 1, 0, 2 }, "\x34\x12");
        QTest::newRow("answer") << good << 0u << true;
        QTest::newRow("refused") << encodeReply({ 0, 87, 0 }, nullptr) << 87u << true;
        QTest::newRow("short header") << Bytes { 1, 0, 0 } << 1167u << false;
        QTest::newRow("over output") << encodeReply({ 1, 0, 3 }, "abc") << 1167u << false;
        QTest::newRow("fewer than told") << Bytes(good.begin(), good.end() - 1) << 1167u << false;
        QTest::newRow("status 2") << encodeReply({ 2, 0, 0 }, nullptr) << 1167u << false;
        QTest::newRow("none in time") << Bytes() << 121u << false;
    }

    void replies()
    {
        QFETCH(Bytes, reply);
        QFETCH(std::uint32_t, err);
        QFETCH(bool, usable);
        // The driver's end of the connection holds the replies before the calls are made.
        int ends[2];
        QVERIFY(::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, ends) == 0);
        const Bytes good = encodeReply({ 1, 0, 2 }, "\x34\x12");
        if (!reply.empty())
            QVERIFY(::send(ends[1], reply.data(), reply.size(), 0) > 0 && ::send(ends[1], good.data(), good.size(), 0) > 0);

        // A failed call leaves the caller's output as it was.
        unsigned char out[2] = { 0xAA, 0xAA };
        const auto ask = [&] { return deviceIoControl(ends[0], 0xFFDC20B0, nullptr, 0, out, sizeof out); };
        const IoControlResult first = ask();
        const QByteArray output(reinterpret_cast<char*>(out), 2);
        // After a lost or garbled reply a late answer could pair with the wrong
        // call: every later call fails.
        const IoControlResult second = ask();
        ::close(ends[1]);
        const IoControlResult hungUp = ask();
        ::close(ends[0]);
        const QList<std::uint32_t> seen { first.ok, first.error, first.bytesReturned, second.ok, second.error, hungUp.error };
        QCOMPARE(seen, QList<std::uint32_t>({ err == 0, err, err ? 0u : 2u, usable, usable ? 0u : kDeviceNotConnected, kDeviceNotConnected }));
        QCOMPARE(output, err ? QByteArray("\xAA\xAA") : QByteArray("\x34\x12"));
    }

    // The termination signals end the process, so tst_single_instance tries them on the real program.
    void lock()
    {
        std::string cause;
        const auto take = [&](const char* name) { return takeInstanceLock(name, error, cause); };
        const int lock = take("T");
        QVERIFY(lock != kNoInstanceLock && QFile::exists(base() + "/T.lock"));
        QCOMPARE(take("T"), kNoInstanceLock);
        QCOMPARE(error, kAlreadyExists);
        releaseInstanceLock(lock);
        const int again = take("T");
        releaseInstanceLock(again);
        QVERIFY(again != kNoInstanceLock);
        // A lock that cannot be a file is not taken.
        QVERIFY(QDir().mkdir(base() + "/D.lock"));
        QCOMPARE(take("D"), kNoInstanceLock);
    }

    void shell()
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
        const QString noShell = dir.filePath("no-interpreter");
        QFile script(noShell);
        QVERIFY(script.open(QIODevice::WriteOnly) && script.write("#!/nonexistent/sh\n") > 0);
        script.close();
        QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::ExeOwner));
        for (const QString& program : { QString("kestrum-no-such-program"), QFile::decodeName(copy), noShell })
            QVERIFY2(shellExecute("open", program.toStdString(), "mmsys.cpl", kShowNormal) == 2, qPrintable(program));
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
