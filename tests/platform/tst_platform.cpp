// The POSIX stand-in of the device channel, the named pipes and the shell
// call: where the sockets live, who may reach them, how a call behaves when
// the other side misbehaves, and how a program is started. The peer here is
// served by the test itself, so it can stall, close or answer with garbage,
// which the simulator never does.

#include "platform/DeviceIo.h"
#include "platform/NamedPipe.h"
#include "platform/Shell.h"
#include "platform/WinError.h"
#include "platform/posix/RuntimeDir.h"
#include "platform/posix/SeqPacketSocket.h"
#include "platform/posix/WireFormat.h"
#include "tests/support/TestEnvironment.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <atomic>
#include <functional>
#include <thread>
#include <cerrno>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace platform;

namespace {

// Serves one connection on a device path and answers each request with
// whatever the test's responder returns (no answer when it returns nothing).
class PeerDevice
{
public:
    using Responder = std::function<std::vector<unsigned char>(const posix::RequestHeader&)>;

    PeerDevice(const std::wstring& path, Responder responder)
        : m_responder(std::move(responder))
    {
        std::string socketPath;
        std::uint32_t error = 0;
        posix::socketPathFor(path, socketPath, error);
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

    bool listening() const { return m_listenFd != posix::kInvalidSocket; }

private:
    void serve()
    {
        std::uint32_t error = 0;
        m_connectionFd = posix::acceptSeqPacket(m_listenFd, 5000, error);
        std::vector<unsigned char> buffer(posix::kWireHeaderSize + 70000);
        for (;;) {
            posix::ReceivedMessage message;
            if (!posix::receiveMessage(m_connectionFd, buffer.data(), buffer.size(), 5000, message, error))
                return;
            posix::RequestHeader header;
            posix::decodeRequest(buffer.data(), message.length, header);
            const std::vector<unsigned char> reply = m_responder(header);
            if (!reply.empty())
                posix::sendMessage(m_connectionFd, reply.data(), reply.size(), 1000, error);
        }
    }

    Responder m_responder;
    int m_listenFd = posix::kInvalidSocket;
    std::atomic<int> m_connectionFd { posix::kInvalidSocket };
    std::thread m_thread;
};

std::vector<unsigned char> okReply(std::uint32_t word)
{
    return posix::encodeReply({ 1, 0, 4 }, &word);
}

const std::wstring kBus7 = L"\\\\.\\KestrumAudioBus7";
const std::wstring kTestPipe = L"\\\\.\\pipe\\KestrumTestPipe";

// A server pipe that always gets closed, whatever the test's outcome.
struct ServerPipe {
    ServerPipe() { handle = createNamedPipe(kTestPipe, error); }
    ~ServerPipe() { closePipe(handle); }
    PipeHandle handle;
    std::uint32_t error = 0;
};

// Opens a client, sends one message and closes, as the ASIO driver does.
bool sendAsClient(const std::string& message, std::uint32_t& error)
{
    const PipeHandle client = openPipe(kTestPipe, error);
    if (client == kInvalidPipeHandle)
        return false;
    const bool sent = writePipe(client, message.data(), static_cast<std::uint32_t>(message.size()), error);
    closePipe(client);
    return sent;
}

// Puts a directory in front of PATH for one test.
class PathPrefix
{
public:
    explicit PathPrefix(const QString& dir)
        : m_saved(qgetenv("PATH"))
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
    void baseDirectoryIsPrivateAndPathsMapBelowIt();
    void unsafeBaseDirectoryIsRefused();
    void openFailsWhenNobodyListensOrNobodyAccepts();
    void callsReachThePeerAndRepliesAreCopied();
    void stalledPeerFailsWithinTheReplyLimitAndBreaksTheChannel();
    void malformedOrMissingRepliesFailTheCall();
    void pipeMessagesKeepTheirBoundaries();
    void pipeMessageLongerThanTheReadIsMoreData();
    void pipeClientWithNobodyServingIsFileNotFound();
    void pipeConnectedClientAndVanishedClient();
    void releasedPipeWaitsReturnAtOnceFromThenOn();
    void shellStartsTheProgramFromPathAndDoesNotWait();
    void shellReportsAProgramThatCannotStart();

private:
    TestEnvironment environment;
};

void TestPlatform::baseDirectoryIsPrivateAndPathsMapBelowIt()
{
    std::string base;
    std::uint32_t error = 99;
    QVERIFY(posix::runtimeBaseDir(base, error));
    QCOMPARE(QString::fromStdString(base), environment.baseDir());
    const QFile::Permissions permissions = QFileInfo(environment.baseDir()).permissions();
    const QFile::Permissions owner = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup
        | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    QCOMPARE(permissions & owner, owner);
    QCOMPARE(permissions & others, QFile::Permissions());

    std::string socketPath;
    QVERIFY(posix::socketPathFor(L"\\\\.\\KestrumAudioBus3", socketPath, error));
    QCOMPARE(QString::fromStdString(socketPath), environment.baseDir() + "/KestrumAudioBus3");
    QVERIFY(posix::socketPathFor(L"\\\\.\\pipe\\KestrumASIOToPannel", socketPath, error));
    QCOMPARE(QString::fromStdString(socketPath), environment.baseDir() + "/pipe/KestrumASIOToPannel");

    // Names that are not device paths, or that climb out of the base directory.
    for (const std::wstring& bad : { std::wstring(L"KestrumAudioBus0"), std::wstring(L"\\\\.\\"),
                                     std::wstring(L"\\\\.\\..\\etc"), std::wstring(L"\\\\.\\pipe\\\\x") }) {
        QVERIFY(!posix::socketPathFor(bad, socketPath, error));
        QCOMPARE(error, winerror::kInvalidName);
    }
}

void TestPlatform::unsafeBaseDirectoryIsRefused()
{
    const QByteArray base = QFile::encodeName(environment.baseDir());
    std::uint32_t error = 0;

    QVERIFY(::chmod(base.constData(), 0777) == 0);
    QCOMPARE(openDevice(kBus7, error), kInvalidDeviceHandle);
    QCOMPARE(error, winerror::kAccessDenied);

    QVERIFY(::chmod(base.constData(), 0700) == 0);
    QVERIFY2(::chown(base.constData(), 65534, 65534) == 0, "this check runs as root, to give the directory away");
    error = 0;
    QCOMPARE(openDevice(kBus7, error), kInvalidDeviceHandle);
    QCOMPARE(error, winerror::kAccessDenied);

    QVERIFY(::chown(base.constData(), ::geteuid(), ::getegid()) == 0);
    std::string dir;
    QVERIFY(posix::runtimeBaseDir(dir, error));
}

void TestPlatform::openFailsWhenNobodyListensOrNobodyAccepts()
{
    std::uint32_t error = 0;
    QCOMPARE(openDevice(kBus7, error), kInvalidDeviceHandle);
    QCOMPARE(error, winerror::kFileNotFound);

    const IoControlResult result = deviceIoControl(kInvalidDeviceHandle, 0xFFDC2084, nullptr, 0, nullptr, 0);
    QVERIFY(!result.ok);
    QCOMPARE(result.error, winerror::kInvalidHandle);

    // A driver that listens but never accepts: once its backlog is full an
    // open gives up after the call limit instead of holding the caller.
    std::string socketPath;
    posix::socketPathFor(kBus7, socketPath, error);
    const int listener = posix::listenSeqPacket(socketPath, error);
    QVERIFY(listener != posix::kInvalidSocket);
    QVERIFY(::listen(listener, 0) == 0);
    std::vector<DeviceHandle> queued;
    DeviceHandle handle = kInvalidDeviceHandle;
    while (queued.size() < 8 && (handle = openDevice(kBus7, error)) != kInvalidDeviceHandle)
        queued.push_back(handle);
    QCOMPARE(handle, kInvalidDeviceHandle);
    QCOMPARE(error, winerror::kSemTimeout);
    QVERIFY(!queued.empty());
    for (DeviceHandle handle : queued)
        closeDevice(handle);
    posix::closeSocket(listener);
}

void TestPlatform::callsReachThePeerAndRepliesAreCopied()
{
    std::vector<posix::RequestHeader> seen;
    PeerDevice peer(kBus7, [&seen](const posix::RequestHeader& header) {
        seen.push_back(header);
        if (header.code == 0xFFDC2084)
            return okReply(2);
        return posix::encodeReply({ 0, 87, 0 }, nullptr);
    });
    QVERIFY(peer.listening());

    std::uint32_t error = 0;
    const DeviceHandle handle = openDevice(kBus7, error);
    QVERIFY(handle != kInvalidDeviceHandle);

    std::uint32_t pid = 0;
    IoControlResult result = deviceIoControl(handle, 0xFFDC2084, nullptr, 0, &pid, sizeof pid);
    QVERIFY(result.ok);
    QCOMPARE(result.bytesReturned, 4u);
    QCOMPARE(pid, 2u);

    const std::vector<unsigned char> mixer(66304, 0x3F);
    result = deviceIoControl(handle, 0xFFDC2040, mixer.data(), static_cast<std::uint32_t>(mixer.size()), nullptr, 0);
    QVERIFY(!result.ok);
    QCOMPARE(result.error, 87u);

    closeDevice(handle);
    QCOMPARE(seen.size(), std::size_t(2));
    QCOMPARE(seen[1].code, 0xFFDC2040u);
    QCOMPARE(seen[1].inputLength, 66304u);
    QCOMPARE(seen[1].outputCapacity, 0u);
}

void TestPlatform::stalledPeerFailsWithinTheReplyLimitAndBreaksTheChannel()
{
    int answered = 0;
    PeerDevice peer(kBus7, [&answered](const posix::RequestHeader&) {
        // The first request is never answered; a later answer would pair with the wrong call.
        return answered++ == 0 ? std::vector<unsigned char>() : okReply(2);
    });
    std::uint32_t error = 0;
    const DeviceHandle handle = openDevice(kBus7, error);
    QVERIFY(handle != kInvalidDeviceHandle);

    QElapsedTimer clock;
    clock.start();
    std::uint32_t pid = 0;
    IoControlResult result = deviceIoControl(handle, 0xFFDC2084, nullptr, 0, &pid, sizeof pid);
    const qint64 waited = clock.elapsed();
    QVERIFY(!result.ok);
    QCOMPARE(result.error, winerror::kSemTimeout);
    QVERIFY2(waited >= 1900 && waited < 3000, qPrintable(QString("waited %1 ms").arg(waited)));

    result = deviceIoControl(handle, 0xFFDC2084, nullptr, 0, &pid, sizeof pid);
    QVERIFY(!result.ok);
    QCOMPARE(result.error, winerror::kDeviceNotConnected);
    QCOMPARE(pid, 0u);
    closeDevice(handle);
}

void TestPlatform::malformedOrMissingRepliesFailTheCall()
{
    struct Case {
        const char* name;
        std::vector<unsigned char> reply;
    };
    std::uint32_t word = 7;
    const std::vector<Case> cases = {
        { "short header", { 1, 0, 0 } },
        { "more bytes than the output holds", posix::encodeReply({ 1, 0, 4 }, &word) },
        { "status neither 0 nor 1", posix::encodeReply({ 2, 0, 0 }, nullptr) },
    };
    for (const Case& each : cases) {
        PeerDevice peer(kBus7, [&each](const posix::RequestHeader&) { return each.reply; });
        std::uint32_t error = 0;
        const DeviceHandle handle = openDevice(kBus7, error);
        QVERIFY(handle != kInvalidDeviceHandle);
        unsigned char out[2] = { 0xAA, 0xAA };
        const IoControlResult result = deviceIoControl(handle, 0xFFDC20B0, nullptr, 0, out, sizeof out);
        QVERIFY2(!result.ok, each.name);
        QCOMPARE(result.error, winerror::kDeviceNotConnected);
        QCOMPARE(out[0], 0xAA);
        closeDevice(handle);
    }

    // The peer goes away between the call and its answer.
    {
        std::uint32_t error = 0;
        auto peer = std::make_unique<PeerDevice>(kBus7, [](const posix::RequestHeader&) {
            return std::vector<unsigned char>();
        });
        const DeviceHandle handle = openDevice(kBus7, error);
        QVERIFY(handle != kInvalidDeviceHandle);
        std::thread closer([&peer] { peer.reset(); });
        const IoControlResult result = deviceIoControl(handle, 0xFFDC2078, nullptr, 0, nullptr, 0);
        closer.join();
        QVERIFY(!result.ok);
        QVERIFY(result.error == winerror::kDeviceNotConnected || result.error == winerror::kSemTimeout);
        closeDevice(handle);
    }
}

void TestPlatform::pipeMessagesKeepTheirBoundaries()
{
    ServerPipe server;
    QVERIFY2(server.handle != kInvalidPipeHandle, qPrintable(QString::number(server.error)));
    std::string socketPath;
    std::uint32_t error = 0;
    QVERIFY(posix::socketPathFor(kTestPipe, socketPath, error));
    struct stat info {};
    QVERIFY(::lstat(QFileInfo(QString::fromStdString(socketPath)).path().toLocal8Bit().constData(), &info) == 0);
    QCOMPARE(info.st_mode & 0777, 0700u);

    const PipeHandle client = openPipe(kTestPipe, error);
    QVERIFY(client != kInvalidPipeHandle);
    QVERIFY(writePipe(client, "first", 5, error));
    QVERIFY(writePipe(client, "", 0, error));
    QVERIFY(writePipe(client, "second!", 7, error));

    QVERIFY(connectNamedPipe(server.handle, error));
    char buffer[64];
    std::uint32_t length = 0;
    QVERIFY(readPipe(server.handle, buffer, sizeof buffer, length, error));
    QCOMPARE(std::string(buffer, length), std::string("first"));
    QVERIFY(readPipe(server.handle, buffer, sizeof buffer, length, error));
    QCOMPARE(length, 0u);
    QVERIFY(readPipe(server.handle, buffer, sizeof buffer, length, error));
    QCOMPARE(std::string(buffer, length), std::string("second!"));

    // The server answers on the same connection, one message each way.
    QVERIFY(writePipe(server.handle, "ok", 2, error));
    QVERIFY(readPipe(client, buffer, sizeof buffer, length, error));
    QCOMPARE(std::string(buffer, length), std::string("ok"));
    closePipe(client);

    // A client that wrote and went before the wait: error 232 until the
    // server disconnects, as on Windows, and its message is still there.
    disconnectNamedPipe(server.handle);
    QVERIFY(sendAsClient("third", error));
    for (int attempt = 0; attempt < 2; ++attempt) {
        QVERIFY(!connectNamedPipe(server.handle, error));
        QCOMPARE(error, winerror::kNoData);
    }
    QVERIFY(readPipe(server.handle, buffer, sizeof buffer, length, error));
    QCOMPARE(std::string(buffer, length), std::string("third"));

    // Once dropped, the instance serves the next client normally.
    disconnectNamedPipe(server.handle);
    const PipeHandle next = openPipe(kTestPipe, error);
    QVERIFY(connectNamedPipe(server.handle, error));
    closePipe(next);
}

void TestPlatform::pipeMessageLongerThanTheReadIsMoreData()
{
    ServerPipe server;
    std::uint32_t error = 0;
    QVERIFY(sendAsClient(std::string(2000, 'x'), error));
    QVERIFY(sendAsClient(std::string(1024, 'y'), error));

    // Both clients are gone already, so each connect says 232 (no data).
    char buffer[1024];
    std::uint32_t length = 0;
    QVERIFY(!connectNamedPipe(server.handle, error));
    QVERIFY(!readPipe(server.handle, buffer, sizeof buffer, length, error));
    QCOMPARE(error, winerror::kMoreData);
    disconnectNamedPipe(server.handle);

    // A message of exactly the read's size is whole.
    QVERIFY(!connectNamedPipe(server.handle, error));
    QCOMPARE(error, winerror::kNoData);
    QVERIFY(readPipe(server.handle, buffer, sizeof buffer, length, error));
    QCOMPARE(length, 1024u);
    QCOMPARE(buffer[1023], 'y');
}

void TestPlatform::pipeClientWithNobodyServingIsFileNotFound()
{
    std::uint32_t error = 0;
    QCOMPARE(openPipe(kTestPipe, error), kInvalidPipeHandle);
    QCOMPARE(error, winerror::kFileNotFound);

    // A closed server takes its socket away: clients get the same answer.
    {
        ServerPipe server;
        QVERIFY(server.handle != kInvalidPipeHandle);
    }
    QCOMPARE(openPipe(kTestPipe, error), kInvalidPipeHandle);
    QCOMPARE(error, winerror::kFileNotFound);

    QVERIFY(!connectNamedPipe(kInvalidPipeHandle, error));
    QCOMPARE(error, winerror::kInvalidHandle);
    std::uint32_t length = 0;
    char byte;
    QVERIFY(!readPipe(kInvalidPipeHandle, &byte, 1, length, error));
    QVERIFY(!writePipe(kInvalidPipeHandle, &byte, 1, error));
}

void TestPlatform::pipeConnectedClientAndVanishedClient()
{
    ServerPipe server;
    std::uint32_t error = 0;
    const PipeHandle client = openPipe(kTestPipe, error);
    QVERIFY(connectNamedPipe(server.handle, error));
    // Asking again while a client is connected says so, as Windows does.
    QVERIFY(!connectNamedPipe(server.handle, error));
    QCOMPARE(error, winerror::kPipeConnected);

    // A client that leaves without writing is a broken pipe, not a message.
    closePipe(client);
    char buffer[16];
    std::uint32_t length = 0;
    QVERIFY(!readPipe(server.handle, buffer, sizeof buffer, length, error));
    QCOMPARE(error, winerror::kBrokenPipe);
    disconnectNamedPipe(server.handle);

    QVERIFY(!readPipe(server.handle, buffer, sizeof buffer, length, error));
    QCOMPARE(error, winerror::kPipeNotConnected);
}

void TestPlatform::releasedPipeWaitsReturnAtOnceFromThenOn()
{
    ServerPipe server;
    std::atomic<bool> returned { false };
    std::uint32_t waitError = 0;
    std::thread waiter([&] {
        connectNamedPipe(server.handle, waitError);
        returned = true;
    });
    QTest::qWait(50);
    const bool returnedBeforeRelease = returned;
    cancelPipeWaits(server.handle);
    waiter.join();
    QVERIFY(!returnedBeforeRelease);
    QCOMPARE(waitError, winerror::kOperationAborted);

    // Released for good: a client waiting to be served does not get through.
    std::uint32_t error = 0;
    QVERIFY(sendAsClient("late", error));
    QVERIFY(!connectNamedPipe(server.handle, error));
    QCOMPARE(error, winerror::kOperationAborted);

    // A client that connected but never writes cannot hold the reader either.
    // (The new server takes the path over; the old one leaves it alone.)
    ServerPipe second;
    const PipeHandle silent = openPipe(kTestPipe, error);
    QVERIFY(connectNamedPipe(second.handle, error));
    std::thread reader([&] {
        char buffer[16];
        std::uint32_t length = 0;
        readPipe(second.handle, buffer, sizeof buffer, length, waitError);
    });
    cancelPipeWaits(second.handle);
    reader.join();
    QCOMPARE(waitError, winerror::kOperationAborted);
    closePipe(silent);
}

void TestPlatform::shellStartsTheProgramFromPathAndDoesNotWait()
{
    // The program writes its arguments, then waits for the test's word: it
    // must still be running when the call has returned.
    QTemporaryDir dir;
    const QString arguments = dir.filePath("arguments");
    const QString go = dir.filePath("go");
    const QString done = dir.filePath("done");
    const QByteArray script = "#!/bin/sh\n"
        "printf '%s\\n' \"$@\" > '" + QFile::encodeName(arguments) + ".part'\n"
        "mv '" + QFile::encodeName(arguments) + ".part' '" + QFile::encodeName(arguments) + "'\n"
        "i=0; while [ ! -e '" + QFile::encodeName(go) + "' ] && [ $i -lt 100 ]; do sleep 0.05; i=$((i+1)); done\n"
        "touch '" + QFile::encodeName(done) + "'\n";
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
