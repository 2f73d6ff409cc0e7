// The POSIX stand-in of the device channel: where its sockets live, who may
// reach them, and how a call behaves when the other side misbehaves. The
// peer here is a socket served by the test itself, so it can stall, close or
// answer with garbage, which the simulator never does.

#include "platform/DeviceIo.h"
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
#include <sys/stat.h>
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

} // namespace

class TestPlatform : public QObject
{
    Q_OBJECT

private slots:
    void baseDirectoryIsPrivateAndPathsMapBelowIt();
    void unsafeBaseDirectoryIsRefused();
    void nobodyListeningIsFileNotFound();
    void callsReachThePeerAndRepliesAreCopied();
    void stalledPeerFailsWithinTheReplyLimitAndBreaksTheChannel();
    void malformedOrMissingRepliesFailTheCall();

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

void TestPlatform::nobodyListeningIsFileNotFound()
{
    std::uint32_t error = 0;
    QCOMPARE(openDevice(kBus7, error), kInvalidDeviceHandle);
    QCOMPARE(error, winerror::kFileNotFound);

    const IoControlResult result = deviceIoControl(kInvalidDeviceHandle, 0xFFDC2084, nullptr, 0, nullptr, 0);
    QVERIFY(!result.ok);
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

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
