#include "platform/DeviceIo.h"
#include "platform/WinError.h"
#include "platform/posix/RuntimeDir.h"
#include "platform/posix/SeqPacketSocket.h"
#include "sim/IoCodes.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TestEnvironment.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QtEndian>
#include <QtTest/QtTest>

#include <cstring>
#include <memory>
#include <optional>

namespace {

using platform::DeviceHandle;
using platform::IoControlResult;

std::wstring busPath(int bus)
{
    return QStringLiteral("\\\\.\\KestrumAudioBus%1").arg(bus).toStdWString();
}

// A device handle that is closed when the test leaves its scope.
class OpenDevice
{
public:
    explicit OpenDevice(int bus = 0)
        : m_handle(platform::openDevice(busPath(bus), m_error))
    {
    }
    ~OpenDevice() { close(); }
    OpenDevice(const OpenDevice&) = delete;
    OpenDevice& operator=(const OpenDevice&) = delete;

    bool isOpen() const { return m_handle != platform::kInvalidDeviceHandle; }
    std::uint32_t openError() const { return m_error; }
    void close()
    {
        platform::closeDevice(m_handle);
        m_handle = platform::kInvalidDeviceHandle;
    }

    IoControlResult call(quint32 code, const QByteArray& input = {}, quint32 capacity = 0, QByteArray* output = nullptr)
    {
        QByteArray buffer(static_cast<qsizetype>(capacity), '\0');
        const IoControlResult result = platform::deviceIoControl(m_handle, code, input.constData(),
                                                                 static_cast<std::uint32_t>(input.size()),
                                                                 buffer.data(), capacity);
        if (output)
            *output = buffer.left(result.bytesReturned);
        return result;
    }

    // Reads a value of `size` little-endian bytes; -1 when the call fails.
    qint64 read(quint32 code, quint32 size)
    {
        QByteArray output;
        if (!call(code, {}, size, &output).ok || output.size() != static_cast<qsizetype>(size))
            return -1;
        quint64 value = 0;
        for (quint32 i = 0; i < size; ++i)
            value |= static_cast<quint64>(static_cast<quint8>(output[i])) << (8 * i);
        return static_cast<qint64>(value);
    }

private:
    std::uint32_t m_error = 0;
    DeviceHandle m_handle;
};

QByteArray littleEndian(quint64 value, int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(value >> (8 * i));
    return bytes;
}

QByteArray usbPacket(quint8 command, quint8 third, quint8 channel = 0, quint16 value = 0, quint8 marker = 0x01)
{
    QByteArray packet(37, '\0');
    packet[0] = static_cast<char>(marker);
    packet[1] = static_cast<char>(command);
    packet[3] = static_cast<char>(third);
    packet[4] = static_cast<char>(channel);
    qToLittleEndian<quint16>(value, packet.data() + 5);
    return packet;
}

void putDouble(QByteArray& record, int offset, double value)
{
    quint64 bits;
    std::memcpy(&bits, &value, sizeof bits);
    qToLittleEndian<quint64>(bits, record.data() + offset);
}

QByteArray mixerRecord()
{
    QByteArray record(66304, '\0');
    putDouble(record, 8 * (32 * 64 + 0), 1.0);
    putDouble(record, 8 * (32 * 3 + 31), 0.25);
    putDouble(record, 65536 + 8 * 4, 0.501);
    putDouble(record, 65536 + 8 * 5, 0.501);
    return record;
}

// A client of a pipe socket, as the panel opens the ASIO driver's notice pipe.
class PipeClient
{
public:
    explicit PipeClient(const QString& socketPath)
        : m_fd(platform::posix::connectSeqPacket(socketPath.toStdString(), m_error))
    {
    }
    ~PipeClient() { platform::posix::closeSocket(m_fd); }
    PipeClient(const PipeClient&) = delete;
    PipeClient& operator=(const PipeClient&) = delete;

    bool isOpen() const { return m_fd != platform::posix::kInvalidSocket; }
    std::uint32_t openError() const { return m_error; }

    bool send(const QByteArray& message)
    {
        return platform::posix::sendMessage(m_fd, message.constData(), static_cast<std::size_t>(message.size()), 2000, m_error);
    }

    // True when the server hangs up within two seconds.
    bool closedByServer()
    {
        char byte;
        platform::posix::ReceivedMessage received;
        return !platform::posix::receiveMessage(m_fd, &byte, 1, 2000, received, m_error) && received.closed;
    }

private:
    std::uint32_t m_error = 0;
    int m_fd;
};

// Sends one message on a connection of its own, as the panel sends its reset notice.
bool sendOnce(const QString& socketPath, const QByteArray& message)
{
    PipeClient client(socketPath);
    return client.isOpen() && client.send(message);
}

// The panel's end of its request pipe: one message per connection.
class RequestPipeServer
{
public:
    struct Connection {
        QByteArray message;
        bool truncated = true;
        bool closedAfter = false; // nothing followed the message
    };

    explicit RequestPipeServer(const QString& baseDir)
        : m_path(baseDir + "/pipe/KestrumASIOToPannel")
    {
        std::uint32_t error = 0;
        if (platform::posix::ensurePrivateDir((baseDir + "/pipe").toStdString(), error))
            m_fd = platform::posix::listenSeqPacket(m_path.toStdString(), error);
    }
    ~RequestPipeServer()
    {
        platform::posix::closeSocket(m_fd);
        QFile::remove(m_path);
    }
    RequestPipeServer(const RequestPipeServer&) = delete;
    RequestPipeServer& operator=(const RequestPipeServer&) = delete;

    bool isListening() const { return m_fd != platform::posix::kInvalidSocket; }

    // The next connection and what it carried; none when no client came within two seconds.
    std::optional<Connection> take()
    {
        std::uint32_t error = 0;
        const int fd = platform::posix::acceptSeqPacket(m_fd, 2000, error);
        if (fd == platform::posix::kInvalidSocket)
            return std::nullopt;
        // Larger than any message, so that a longer or a merged one shows.
        QByteArray buffer(2 * 65536, '\0');
        Connection connection;
        platform::posix::ReceivedMessage received;
        if (platform::posix::receiveMessage(fd, buffer.data(), static_cast<std::size_t>(buffer.size()), 2000, received, error) && !received.closed) {
            connection.message = buffer.left(static_cast<qsizetype>(received.length));
            connection.truncated = received.truncated;
            connection.closedAfter = !platform::posix::receiveMessage(fd, buffer.data(), 1, 2000, received, error) && received.closed;
        }
        platform::posix::closeSocket(fd);
        return connection;
    }

private:
    QString m_path;
    int m_fd = platform::posix::kInvalidSocket;
};

QJsonObject asioOf(SimProcess& sim)
{
    return sim.state()["asio"].toObject();
}

struct CliRun {
    int exitCode = -1;
    QString out;
    QString err;
};

CliRun runCli(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral(KESTRUM_SIM_PATH), arguments);
    CliRun run;
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

} // namespace

class TestSim : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void refusesMalformedCalls();
    void roundTripsState_data();
    void roundTripsState();
    void storesMixerRecord();
    void decodesUsbPackets();
    void reportsFirmwareBytes();
    void injectsFailures();
    void slowReplyMakesCallerGiveUp();
    void unplugDropsConnectionsAndPlugRestores();
    void reportsMeterLevels();
    void resetRestoresPowerOnDefaults();
    void recordsCallsAndConnectionsInOrder();
    void runsSideBySideOnOtherBuses();
    void commandLineClient();
    void printsOneLinePerCall();
    void countsResetNotices();
    void asioServeOffLeavesNoticePipeUnserved();
    void sendsOpenWindowRequests();
    void sendsRequestsOfAnyLength();
    void secondSimDoesNotStealNoticePipe();
    void printsOneLinePerAsioMessage();

private:
    QString noticePipe() const { return m_environment.baseDir() + "/pipe/KestrumPannelToASIO"; }
    QJsonObject asioState() { return asioOf(*m_sim); }
    QList<QJsonObject> recordOf(SimProcess& sim, const QString& kind);

    TestEnvironment m_environment;
    std::unique_ptr<SimProcess> m_sim;
};

void TestSim::init()
{
    m_sim = std::make_unique<SimProcess>();
    QVERIFY(m_sim->waitUntilReady());
}

void TestSim::cleanup()
{
    m_sim.reset();
}

QList<QJsonObject> TestSim::recordOf(SimProcess& sim, const QString& kind)
{
    QList<QJsonObject> found;
    for (const QJsonValue& entry : sim.record()) {
        if (entry["kind"].toString() == kind)
            found.append(entry.toObject());
    }
    return found;
}

void TestSim::refusesMalformedCalls()
{
    OpenDevice device;
    QVERIFY(device.isOpen());

    IoControlResult result = device.call(0xFFDC2FFC);
    QCOMPARE(result.ok, false);
    QCOMPARE(result.error, platform::winerror::kInvalidFunction);

    result = device.call(iocode::kSetSampleRate, littleEndian(44100, 3));
    QCOMPARE(result.error, platform::winerror::kInvalidParameter);
    QCOMPARE(device.read(iocode::kGetSampleRate, 4), 48000);

    result = device.call(iocode::kGetSampleRate, {}, 3);
    QCOMPARE(result.ok, false);
    QCOMPARE(result.error, platform::winerror::kInsufficientBuffer);

    result = device.call(iocode::kGetSampleRate, {}, 64);
    QVERIFY(result.ok);
    QCOMPARE(result.bytesReturned, 4u);

    result = device.call(iocode::kStopAllAudio, {}, 16);
    QVERIFY(result.ok);
    QCOMPARE(result.bytesReturned, 0u);

    // A packet with a bad marker or an unknown command is refused, yet recorded.
    QCOMPARE(device.call(iocode::kWriteUsbControl, usbPacket(0x07, 0x02, 1, 112, 0x02)).error, platform::winerror::kInvalidParameter);
    QCOMPARE(device.call(iocode::kWriteUsbControl, usbPacket(0x99, 0x01, 1)).error, platform::winerror::kInvalidParameter);
    const QList<QJsonObject> writes = m_sim->calls(iocode::kWriteUsbControl);
    QCOMPARE(writes.size(), 2);
    QCOMPARE(writes[1]["status"].toInt(), 0);
    QCOMPARE(writes[1]["error"].toInt(), 87);

    const QJsonObject state = m_sim->state();
    QCOMPARE(state["micGain"].toObject().size(), 0);
    QCOMPARE(state["audioRunning"].toBool(), false);
}

void TestSim::roundTripsState_data()
{
    QTest::addColumn<quint32>("setCode");
    QTest::addColumn<quint32>("getCode");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QString>("stateKey");

    QTest::newRow("sample rate") << iocode::kSetSampleRate << iocode::kGetSampleRate << littleEndian(96000, 4) << "sampleRate";
    QTest::newRow("buffer size") << iocode::kSetBufferSize << iocode::kGetBufferSize << littleEndian(64, 4) << "bufferSize";
    QTest::newRow("usb latency") << iocode::kSetUsbBufferSize << iocode::kGetUsbBufferSize << littleEndian(4, 4) << "usbLatency";
    QTest::newRow("wdm") << iocode::kSetWdmNum << iocode::kGetWdmNum << littleEndian(8, 4) << "wdmCount";
    QTest::newRow("master volume") << iocode::kSetMasterVolume << iocode::kGetMasterVolume << littleEndian(0x8001, 2) << "masterVolume";
    QTest::newRow("master mute") << iocode::kSetMasterMute << iocode::kGetMasterMute << littleEndian(1, 1) << "masterMute";
}

void TestSim::roundTripsState()
{
    QFETCH(quint32, setCode);
    QFETCH(quint32, getCode);
    QFETCH(QByteArray, value);
    QFETCH(QString, stateKey);

    OpenDevice device;
    QVERIFY(device.call(setCode, value).ok);
    QByteArray output;
    QVERIFY(device.call(getCode, {}, static_cast<quint32>(value.size()), &output).ok);
    QCOMPARE(output, value);

    const qint64 expected = device.read(getCode, static_cast<quint32>(value.size()));
    const QJsonValue inState = m_sim->state()[stateKey];
    QCOMPARE(inState.isBool() ? qint64(inState.toBool()) : inState.toInteger(), expected);
}

void TestSim::storesMixerRecord()
{
    OpenDevice device;
    QVERIFY(!m_sim->state()["mixer"].toObject()["present"].toBool());
    QVERIFY(device.call(iocode::kSetMixer, mixerRecord()).ok);

    const QJsonObject mixer = m_sim->state()["mixer"].toObject();
    QVERIFY(mixer["present"].toBool());
    const QJsonArray gains = mixer["outputGains"].toArray();
    QCOMPARE(gains.size(), 96);
    QCOMPARE(gains[4].toDouble(), 0.501);
    QCOMPARE(gains[5].toDouble(), 0.501);
    QCOMPARE(gains[6].toDouble(), 0.0);
    const QJsonArray cells = mixer["cells"].toArray();
    QCOMPARE(cells.size(), 2);
    QCOMPARE(cells[0].toObject(), (QJsonObject { { "row", 3 }, { "col", 31 }, { "value", 0.25 } }));
    QCOMPARE(cells[1].toObject(), (QJsonObject { { "row", 64 }, { "col", 0 }, { "value", 1.0 } }));
}

void TestSim::decodesUsbPackets()
{
    OpenDevice device;
    const QList<QByteArray> packets {
        usbPacket(0x07, 0x02, 1, 112),
        usbPacket(0x5B, 1, 1),
        usbPacket(0x5A, 1, 2),
        usbPacket(0x5A, 0, 3),
        usbPacket(0x64, 1, 0),
        usbPacket(0x03, 0x02, 3, 0x1234),
        usbPacket(0x5E, 0),
        usbPacket(0x68, 0),
    };
    for (const QByteArray& packet : packets)
        QVERIFY(device.call(iocode::kWriteUsbControl, packet).ok);

    const QJsonObject state = m_sim->state();
    QCOMPARE(state["micGain"].toObject(), (QJsonObject { { "1", 112 } }));
    QCOMPARE(state["phantom48v"].toObject(), (QJsonObject { { "1", true } }));
    QCOMPARE(state["pad20db"].toObject(), (QJsonObject { { "2", true }, { "3", false } }));
    QCOMPARE(state["instrument"].toObject(), (QJsonObject { { "0", true } }));
    QCOMPARE(state["outVolume"].toObject(), (QJsonObject { { "3", 0x1234 } }));
    QCOMPARE(state["phoneChip"].toBool(), false);
    QCOMPARE(state["feedbackClosed"].toBool(), true);

    QVERIFY(device.call(iocode::kWriteUsbControl, usbPacket(0x5F, 0)).ok);
    QCOMPARE(m_sim->state()["phoneChip"].toBool(), true);

    const QList<QJsonObject> writes = m_sim->calls(iocode::kWriteUsbControl);
    QCOMPARE(QByteArray::fromHex(writes.first()["in"].toString().toLatin1()),
             QByteArray::fromHex("01070002017000") + QByteArray(30, '\0'));
}

void TestSim::reportsFirmwareBytes()
{
    OpenDevice device;
    QByteArray output;
    QVERIFY(device.call(iocode::kReadUsbControl, usbPacket(0x65, 0), 32, &output).ok);
    QCOMPARE(output, QByteArray("K2.06.0915") + QByteArray(22, '\0'));

    QVERIFY(device.call(iocode::kReadUsbControl, usbPacket(0x10, 0), 32, &output).ok);
    QCOMPARE(output, QByteArray(32, '\0'));

    QVERIFY(m_sim->command({ "firmware", "--hex", "4b3200302e30363039ff" }));
    QVERIFY(device.call(iocode::kReadUsbControl, usbPacket(0x65, 0), 32, &output).ok);
    QCOMPARE(output.left(10), QByteArray::fromHex("4b3200302e30363039ff"));
    QCOMPARE(m_sim->state()["firmwareHex"].toString(), QString("4b3200302e30363039ff"));

    QVERIFY(m_sim->command({ "firmware", "K1" }));
    QVERIFY(device.call(iocode::kReadUsbControl, usbPacket(0x65, 0), 32, &output).ok);
    QCOMPARE(output.left(10), QByteArray("K1") + QByteArray(8, '\0'));

    QVERIFY(!m_sim->command({ "firmware", "K2.06.09150" }));
    QVERIFY(!m_sim->command({ "firmware", "--hex", "4b32" }));
}

void TestSim::injectsFailures()
{
    OpenDevice device;
    QVERIFY(m_sim->command({ "fail", "io_get_sample_rate", "once" }));
    QVERIFY(m_sim->command({ "fail", "0xFFDC2048", "2", "1167" }));
    QVERIFY(m_sim->command({ "fail", "get_device_pid", "always" }));
    QVERIFY(m_sim->command({ "fail", "io_set_sample_rate", "once" }));

    QCOMPARE(device.call(iocode::kGetSampleRate, {}, 4).error, 31u);
    QCOMPARE(device.read(iocode::kGetSampleRate, 4), 48000);

    QCOMPARE(device.call(iocode::kGetBufferSize, {}, 4).error, 1167u);
    QCOMPARE(device.call(iocode::kGetBufferSize, {}, 4).error, 1167u);
    QCOMPARE(device.read(iocode::kGetBufferSize, 4), 256);

    for (int i = 0; i < 3; ++i)
        QCOMPARE(device.call(iocode::kGetDevicePid, {}, 4).error, 31u);
    QVERIFY(m_sim->command({ "fail", "io_get_device_pid", "off" }));
    QCOMPARE(device.read(iocode::kGetDevicePid, 4), 2);

    // An injected failure changes nothing on the device.
    QVERIFY(!device.call(iocode::kSetSampleRate, littleEndian(44100, 4)).ok);
    QCOMPARE(device.read(iocode::kGetSampleRate, 4), 48000);

    const QList<QJsonObject> pidCalls = m_sim->calls(iocode::kGetDevicePid);
    QCOMPARE(pidCalls.size(), 4);
    QVERIFY(pidCalls[0]["injected"].toBool());
    QCOMPARE(pidCalls[0]["status"].toInt(), 0);
    QCOMPARE(pidCalls[3]["out"].toString(), QString("02000000"));

    QVERIFY(m_sim->command({ "fail", "io_get_device_pid", "always" }));
    QVERIFY(m_sim->command({ "fail", "io_get_buffer_size", "once" }));
    QVERIFY(m_sim->command({ "fail", "all", "off" }));
    QCOMPARE(device.read(iocode::kGetDevicePid, 4), 2);
    QCOMPARE(device.read(iocode::kGetBufferSize, 4), 256);

    QVERIFY(!m_sim->command({ "fail", "io_no_such_call", "once" }));
    QVERIFY(!m_sim->command({ "fail", "io_get_sample_rate", "0" }));
}

void TestSim::slowReplyMakesCallerGiveUp()
{
    OpenDevice device;
    QVERIFY(m_sim->command({ "slow", "2600", "io_get_sample_rate" }));
    QCOMPARE(device.read(iocode::kGetDevicePid, 4), 2);

    QElapsedTimer clock;
    clock.start();
    const IoControlResult result = device.call(iocode::kGetSampleRate, {}, 4);
    const qint64 waited = clock.elapsed();
    QCOMPARE(result.ok, false);
    QCOMPARE(result.error, platform::winerror::kSemTimeout);
    QVERIFY2(waited >= 1900 && waited < 2500, qPrintable(QString("gave up after %1 ms").arg(waited)));

    // The late reply would pair with the next request: the handle stays broken.
    QCOMPARE(device.call(iocode::kGetDevicePid, {}, 4).ok, false);

    QVERIFY(m_sim->command({ "slow", "0" }));
    OpenDevice fresh;
    QCOMPARE(fresh.read(iocode::kGetSampleRate, 4), 48000);
}

void TestSim::unplugDropsConnectionsAndPlugRestores()
{
    OpenDevice device;
    QVERIFY(device.call(iocode::kSetSampleRate, littleEndian(44100, 4)).ok);
    QCOMPARE(m_sim->state()["connections"].toInt(), 1);

    QVERIFY(m_sim->command({ "unplug" }));
    QCOMPARE(device.call(iocode::kGetSampleRate, {}, 4).error, platform::winerror::kDeviceNotConnected);
    OpenDevice refused;
    QVERIFY(!refused.isOpen());
    QCOMPARE(refused.openError(), platform::winerror::kFileNotFound);
    QJsonObject state = m_sim->state();
    QCOMPARE(state["plugged"].toBool(), false);
    QCOMPARE(state["connections"].toInt(), 0);
    QCOMPARE(m_sim->record().last()["reason"].toString(), QString("unplug"));

    QVERIFY(m_sim->command({ "plug" }));
    OpenDevice again;
    QVERIFY(again.isOpen());
    QCOMPARE(again.read(iocode::kGetSampleRate, 4), 44100);
}

void TestSim::resetRestoresPowerOnDefaults()
{
    OpenDevice device;
    const QJsonObject defaults = m_sim->state();
    QVERIFY(m_sim->command({ "model", "KQ" }));
    QVERIFY(device.call(iocode::kSetSampleRate, littleEndian(96000, 4)).ok);
    QVERIFY(device.call(iocode::kSetSafeModeOn).ok);
    QVERIFY(device.call(iocode::kStopAllAudio).ok);
    QVERIFY(device.call(iocode::kSetMasterMute, littleEndian(1, 1)).ok);
    QVERIFY(device.call(iocode::kSetMixer, mixerRecord()).ok);
    QVERIFY(device.call(iocode::kWriteUsbControl, usbPacket(0x5B, 1, 1)).ok);
    QVERIFY(device.call(iocode::kWriteUsbControl, usbPacket(0x5E, 0)).ok);
    const int recorded = m_sim->record().size();

    QVERIFY(m_sim->reset());
    QJsonObject state = m_sim->state();
    QCOMPARE(state["model"].toString(), QString("KQ"));
    state["model"] = defaults["model"];
    state["pid"] = defaults["pid"];
    QCOMPARE(state, defaults);
    QCOMPARE(m_sim->record().size(), recorded);
    QCOMPARE(device.read(iocode::kGetSampleRate, 4), 48000);
}

void TestSim::reportsMeterLevels()
{
    OpenDevice device;
    QVERIFY(m_sim->command({ "meter", "-2147483648", "2147483647", "-1000" }));
    QByteArray output;
    QVERIFY(device.call(iocode::kGetMeterData, {}, 768, &output).ok);
    QCOMPARE(output.size(), 768);
    QCOMPARE(output.left(12), littleEndian(0x80000000u, 4) + littleEndian(0x7FFFFFFFu, 4) + littleEndian(0xFFFFFC18u, 4));
    QCOMPARE(output.mid(12), QByteArray(756, '\0'));
    QVERIFY(!m_sim->command({ "meter", "2147483648" }));

    QVERIFY(m_sim->command({ "meter", "moving" }));
    QByteArray first;
    QVERIFY(device.call(iocode::kGetMeterData, {}, 768, &first).ok);
    QTRY_VERIFY(device.call(iocode::kGetMeterData, {}, 768, &output).ok && output != first);
    QSet<qint32> distinct;
    for (int i = 0; i < 192; ++i) {
        const qint32 level = qFromLittleEndian<qint32>(output.constData() + 4 * i);
        QVERIFY(level > 0);
        distinct.insert(level);
    }
    QVERIFY(distinct.size() > 10);
}

void TestSim::recordsCallsAndConnectionsInOrder()
{
    {
        OpenDevice first;
        QCOMPARE(first.read(iocode::kGetDevicePid, 4), 2);
        OpenDevice second;
        QVERIFY(second.call(iocode::kSetMixer, mixerRecord()).ok);
        first.close();
        QTRY_COMPARE(m_sim->record().size(), 5);
    }
    QTRY_COMPARE(m_sim->record().size(), 6);

    const QJsonArray record = m_sim->record();
    QStringList events;
    for (const QJsonValue& entry : record)
        events.append(entry["kind"].toString() + QString::number(entry["conn"].toInt()));
    const int a = record[0]["conn"].toInt();
    const int b = record[2]["conn"].toInt();
    QVERIFY(a != b);
    QCOMPARE(events, (QStringList { "open" + QString::number(a), "call" + QString::number(a), "open" + QString::number(b),
                                    "call" + QString::number(b), "close" + QString::number(a), "close" + QString::number(b) }));
    QCOMPARE(record[0]["bus"].toInt(), 0);
    QCOMPARE(record[1]["name"].toString(), QString("io_get_device_pid"));
    QCOMPARE(record[1]["outCapacity"].toInt(), 4);
    QCOMPARE(record[3]["in"].toString(), QString::fromLatin1(mixerRecord().toHex()));
    QCOMPARE(record[4]["reason"].toString(), QString("client"));
    for (qsizetype i = 1; i < record.size(); ++i) {
        QVERIFY(record[i]["seq"].toInteger() > record[i - 1]["seq"].toInteger());
        QVERIFY(record[i]["timeUs"].toInteger() >= record[i - 1]["timeUs"].toInteger());
    }

    m_sim->clearRecord();
    QCOMPARE(m_sim->record().size(), 0);
}

void TestSim::runsSideBySideOnOtherBuses()
{
    SimProcess onBus3({ "--model", "KX1", "--bus", "3", "--control", m_environment.baseDir() + "/bus3.ctl" });
    SimProcess onBus5({ "--model", "KQ", "--bus", "5", "--control", m_environment.baseDir() + "/bus5.ctl" });
    QVERIFY(onBus3.waitUntilReady());
    QVERIFY(onBus5.waitUntilReady());

    OpenDevice three(3);
    OpenDevice five(5);
    QCOMPARE(three.read(iocode::kGetDevicePid, 4), 1);
    QCOMPARE(five.read(iocode::kGetDevicePid, 4), 15);
    QCOMPARE(onBus3.calls().size(), 1);
    QCOMPARE(onBus5.calls().size(), 1);
    QCOMPARE(onBus5.state()["bus"].toInt(), 5);
    QCOMPARE(m_sim->calls().size(), 0);

    const CliRun duplicate = runCli({ "--bus", "3", "--control", m_environment.baseDir() + "/again.ctl", "--quiet" });
    QVERIFY(duplicate.exitCode != 0);
    QVERIFY2(duplicate.err.contains("already served"), qPrintable(duplicate.err));
}

void TestSim::commandLineClient()
{
    const QString control = m_sim->controlPath();
    const CliRun status = runCli({ "--control", control, "status" });
    QCOMPARE(status.exitCode, 0);
    QVERIFY2(status.out.contains("KX2 (PID 2)") && status.out.contains("48000 Hz"), qPrintable(status.out));

    const CliRun spaced = runCli({ "--control", control, "firmware", "A B" });
    QCOMPARE(spaced.exitCode, 0);
    QCOMPARE(m_sim->state()["firmware"].toString(), QString("A B"));

    QCOMPARE(runCli({ "--control", control, "set", "sample-rate", "44100" }).exitCode, 0);
    QCOMPARE(runCli({ "--control", control, "pid", "7" }).exitCode, 0);
    OpenDevice device;
    QCOMPARE(device.read(iocode::kGetSampleRate, 4), 44100);
    QCOMPARE(device.read(iocode::kGetDevicePid, 4), 7);
    QCOMPARE(m_sim->state()["model"].toString(), QString("PID 7"));

    const CliRun refused = runCli({ "--control", control, "set", "sample-rate", "fast" });
    QVERIFY(refused.exitCode != 0);
    QVERIFY2(refused.err.contains("sample-rate"), qPrintable(refused.err));

    const CliRun nobody = runCli({ "--control", m_environment.baseDir() + "/nobody.ctl", "status" });
    QVERIFY(nobody.exitCode != 0);
    QVERIFY2(nobody.err.contains("no sim answers"), qPrintable(nobody.err));

    const CliRun help = runCli({ "--help" });
    QCOMPARE(help.exitCode, 0);
    QVERIFY(help.out.contains("fail <code|name> once|always|off|<N> [error]"));
    QVERIFY(help.out.contains("asio-serve on|off"));
    QVERIFY(help.out.contains("asio-request --length <n>"));

    const CliRun unserved = runCli({ "--control", control, "asio-request", "0", "0", "0", "0", "1" });
    QCOMPARE(unserved.exitCode, 1);
    QVERIFY2(unserved.err.contains("error 2"), qPrintable(unserved.err));

    RequestPipeServer panel(m_environment.baseDir());
    QVERIFY(panel.isListening());
    const CliRun request = runCli({ "--control", control, "asio-request", "--hex", "0102", "03" });
    QCOMPARE(request.exitCode, 0);
    const std::optional<RequestPipeServer::Connection> received = panel.take();
    QVERIFY(received);
    QCOMPARE(received->message, QByteArray::fromHex("010203"));
}

void TestSim::printsOneLinePerCall()
{
    SimProcess loud({ "--bus", "7", "--control", m_environment.baseDir() + "/loud.ctl" }, SimProcess::Output::Verbose);
    QVERIFY(loud.waitUntilReady());
    QTRY_VERIFY(loud.output().startsWith("kestrum-sim: KX2 (PID 2) on bus 7, firmware \"K2.06.0915\", control "));

    OpenDevice device(7);
    QVERIFY(device.call(iocode::kWriteUsbControl, usbPacket(0x07, 0x02, 1, 112)).ok);
    QVERIFY(device.call(iocode::kSetMixer, mixerRecord()).ok);
    QCOMPARE(device.read(iocode::kGetDevicePid, 4), 2);
    QVERIFY(!device.call(iocode::kSetSampleRate, QByteArray(2, '\0')).ok);
    QTRY_VERIFY(loud.output().contains("refused, error 87"));

    const QString out = QString::fromUtf8(loud.output());
    QVERIFY2(out.contains("io_write_usb_control mic volume ch 1 = 112 -> ok"), qPrintable(out));
    QVERIFY2(out.contains("io_set_mixer: output gains 4,5 = 0.501; cell (3,31) = 0.25; cell (64,0) = 1 -> ok"), qPrintable(out));
    QVERIFY2(out.contains("io_get_device_pid -> ok 2"), qPrintable(out));
}

void TestSim::countsResetNotices()
{
    QCOMPARE(asioState(), (QJsonObject { { "serving", true }, { "notices", 0 }, { "messages", 0 }, { "lastMessage", "" }, { "requestsSent", 0 } }));

    QVERIFY(sendOnce(noticePipe(), "1"));
    QTRY_COMPARE(asioState()["notices"].toInt(), 1);

    // Only the single byte "1" is a reset notice.
    QVERIFY(sendOnce(noticePipe(), "2"));
    QVERIFY(sendOnce(noticePipe(), "11"));
    QTRY_COMPARE(asioState()["messages"].toInt(), 3);
    QCOMPARE(asioState()["notices"].toInt(), 1);
    QCOMPARE(asioState()["lastMessage"].toString(), QString("3131"));

    // Every message on a connection counts, not only the first.
    PipeClient held(noticePipe());
    QVERIFY(held.send("1"));
    QVERIFY(held.send("1"));
    QTRY_COMPARE(asioState()["messages"].toInt(), 5);
    QCOMPARE(asioState()["notices"].toInt(), 3);

    const QList<QJsonObject> notices = recordOf(*m_sim, "asioNotice");
    QStringList received;
    for (const QJsonObject& entry : notices)
        received.append(entry["in"].toString());
    QCOMPARE(received, (QStringList { "31", "32", "3131", "31", "31" }));
    QVERIFY(notices[1]["seq"].toInteger() > notices[0]["seq"].toInteger());
    QVERIFY(notices[1]["timeUs"].toInteger() >= notices[0]["timeUs"].toInteger());

    m_sim->clearRecord();
    QCOMPARE(m_sim->record().size(), 0);
    QCOMPARE(asioState()["notices"].toInt(), 3);
}

void TestSim::asioServeOffLeavesNoticePipeUnserved()
{
    PipeClient held(noticePipe());
    QVERIFY(held.send("1"));
    QVERIFY(sendOnce(noticePipe(), "1"));
    QTRY_COMPARE(asioState()["notices"].toInt(), 2);
    // The connection its client closed is gone; the held one stays.
    QByteArray status;
    QTRY_VERIFY(m_sim->command({ "status" }, &status) && status.contains("served, 1 open connection(s)"));

    QByteArray reply;
    QVERIFY(m_sim->command({ "asio-serve", "off" }, &reply));
    QVERIFY2(reply.contains("1 connection(s) dropped"), reply.constData());
    QVERIFY(held.closedByServer());
    QCOMPARE(asioState()["serving"].toBool(), false);
    QVERIFY(!QFile::exists(noticePipe()));
    PipeClient refused(noticePipe());
    QVERIFY(!refused.isOpen());
    QCOMPARE(refused.openError(), platform::winerror::kFileNotFound);
    QVERIFY(m_sim->command({ "asio-serve", "off" }));

    QVERIFY(m_sim->command({ "asio-serve", "on" }));
    QCOMPARE(asioState()["serving"].toBool(), true);
    QVERIFY(sendOnce(noticePipe(), "1"));
    QTRY_COMPARE(asioState()["notices"].toInt(), 3);

    QVERIFY(!m_sim->command({ "asio-serve", "maybe" }));
    QVERIFY(!m_sim->command({ "asio-serve" }));
}

void TestSim::sendsOpenWindowRequests()
{
    QByteArray reply;
    QVERIFY(!m_sim->command({ "asio-request", "0", "0", "0", "0", "1" }, &reply));
    QVERIFY2(reply.contains("error 2"), reply.constData());

    RequestPipeServer panel(m_environment.baseDir());
    QVERIFY(panel.isListening());
    QVERIFY(m_sim->command({ "asio-request", "0", "0", "0", "0", "1" }));
    std::optional<RequestPipeServer::Connection> received = panel.take();
    QVERIFY(received);
    QCOMPARE(received->message, QByteArray(16, '\0') + littleEndian(1, 4));
    QVERIFY(!received->truncated);
    QVERIFY(received->closedAfter);

    QVERIFY(m_sim->command({ "asio-request", "0xFFFFFFFF", "4294967295", "0x10", "16", "0xdeadbeef" }));
    received = panel.take();
    QVERIFY(received);
    QCOMPARE(received->message, littleEndian(0xFFFFFFFFu, 4) + littleEndian(0xFFFFFFFFu, 4) + littleEndian(16, 4)
                 + littleEndian(16, 4) + littleEndian(0xDEADBEEFu, 4));

    QVERIFY(!m_sim->command({ "asio-request", "0", "0", "0", "0", "4294967296" }));
    QVERIFY(!m_sim->command({ "asio-request", "0", "0", "0", "one", "1" }));
    QVERIFY(!m_sim->command({ "asio-request", "0", "0", "0", "1" }));
    QVERIFY(!m_sim->command({ "asio-request", "0", "0", "0", "0", "0", "1" }));
    QVERIFY(!panel.take());

    QCOMPARE(asioState()["requestsSent"].toInt(), 2);
    const QList<QJsonObject> requests = recordOf(*m_sim, "asioRequest");
    QCOMPARE(requests.size(), 3);
    QCOMPARE(requests[0]["status"].toInt(), 0);
    QCOMPARE(requests[0]["error"].toInt(), 2);
    QCOMPARE(requests[1]["status"].toInt(), 1);
    QCOMPARE(requests[1]["error"].toInt(), 0);
    QCOMPARE(requests[1]["out"].toString(), QString("0000000000000000000000000000000001000000"));
}

void TestSim::sendsRequestsOfAnyLength()
{
    RequestPipeServer panel(m_environment.baseDir());
    QVERIFY(panel.isListening());

    QVERIFY(m_sim->command({ "asio-request", "--hex", "0102", "0304ff" }));
    std::optional<RequestPipeServer::Connection> received = panel.take();
    QVERIFY(received);
    QCOMPARE(received->message, QByteArray::fromHex("01020304ff"));
    QVERIFY(received->closedAfter);

    QVERIFY(m_sim->command({ "asio-request", "--length", "2000" }));
    received = panel.take();
    QVERIFY(received);
    QCOMPARE(received->message.size(), 2000);
    QVERIFY(!received->truncated);
    QVERIFY(received->closedAfter);
    QCOMPARE(qFromLittleEndian<quint32>(received->message.constData() + 16), 1u);
    QCOMPARE(static_cast<quint8>(received->message.at(1000)), quint8(1000 & 0xFF));

    // Too short to hold word 4: nothing in it asks for the window.
    QVERIFY(m_sim->command({ "asio-request", "--length", "19" }));
    received = panel.take();
    QVERIFY(received);
    QCOMPARE(received->message.size(), 19);
    QCOMPARE(received->message.at(16), char(16));

    QByteArray largest(65536, '\0');
    for (qsizetype i = 0; i < largest.size(); ++i)
        largest[i] = static_cast<char>(i * 7);
    QVERIFY(m_sim->command({ "asio-request", "--hex", QString::fromLatin1(largest.toHex()) }));
    received = panel.take();
    QVERIFY(received);
    QCOMPARE(received->message, largest);
    QVERIFY(received->closedAfter);

    // An empty message cannot be told from the close on a socket; the record shows it went out.
    QVERIFY(m_sim->command({ "asio-request", "--hex" }));
    QVERIFY(panel.take());
    const QJsonObject empty = recordOf(*m_sim, "asioRequest").last();
    QCOMPARE(empty["out"].toString(), QString());
    QCOMPARE(empty["status"].toInt(), 1);
    QCOMPARE(asioState()["requestsSent"].toInt(), 5);

    QVERIFY(!m_sim->command({ "asio-request", "--length", "65537" }));
    QVERIFY(!m_sim->command({ "asio-request", "--length" }));
    QVERIFY(!m_sim->command({ "asio-request", "--hex", "012" }));
    QVERIFY(!m_sim->command({ "asio-request", "--hex", "zz" }));
    QVERIFY(!m_sim->command({ "asio-request", "--hex", QString::fromLatin1(largest.toHex()), "00" }));
    QVERIFY(!panel.take());
}

void TestSim::secondSimDoesNotStealNoticePipe()
{
    SimProcess second({ "--bus", "2", "--control", m_environment.baseDir() + "/second.ctl" });
    QVERIFY(second.waitUntilReady());
    QCOMPARE(asioOf(second)["serving"].toBool(), false);
    QCOMPARE(asioState()["serving"].toBool(), true);
    // The device side of the second sim works all the same.
    OpenDevice device(2);
    QCOMPARE(device.read(iocode::kGetDevicePid, 4), 2);

    QVERIFY(sendOnce(noticePipe(), "1"));
    QTRY_COMPARE(asioState()["notices"].toInt(), 1);
    QCOMPARE(asioOf(second)["messages"].toInt(), 0);

    QVERIFY(!second.command({ "asio-serve", "on" }));
    QVERIFY(m_sim->command({ "asio-serve", "off" }));
    QVERIFY(second.command({ "asio-serve", "on" }));
    QVERIFY(sendOnce(noticePipe(), "1"));
    QTRY_COMPARE(asioOf(second)["notices"].toInt(), 1);
}

void TestSim::printsOneLinePerAsioMessage()
{
    QVERIFY(m_sim->command({ "asio-serve", "off" }));
    SimProcess loud({ "--bus", "7", "--control", m_environment.baseDir() + "/loud.ctl" }, SimProcess::Output::Verbose);
    QVERIFY(loud.waitUntilReady());
    QCOMPARE(asioOf(loud)["serving"].toBool(), true);

    QVERIFY(sendOnce(noticePipe(), "1"));
    QVERIFY(sendOnce(noticePipe(), "12"));
    QVERIFY(!loud.command({ "asio-request", "0", "0", "0", "0", "1" }));
    {
        RequestPipeServer panel(m_environment.baseDir());
        QVERIFY(loud.command({ "asio-request", "--length", "3" }));
        QVERIFY(panel.take());
    }
    QTRY_VERIFY(loud.output().contains("-> ok"));

    const QString out = QString::fromUtf8(loud.output());
    QVERIFY2(out.contains("asio reset notice received\n"), qPrintable(out));
    QVERIFY2(out.contains("asio pipe message received, no reset notice: 2 byte(s): 31 32\n"), qPrintable(out));
    QVERIFY2(out.contains("asio request of 20 bytes, words 0 0 0 0 1 -> failed, error 2\n"), qPrintable(out));
    QVERIFY2(out.contains("asio request of 3 byte(s): 00 01 02 -> ok\n"), qPrintable(out));
}

QTEST_GUILESS_MAIN(TestSim)
#include "tst_sim.moc"
