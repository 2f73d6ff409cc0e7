#include "platform/NamedPipe.h"
#include "platform/posix/SeqPacketSocket.h"
#include "sim/IoCodes.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TestEnvironment.h"

#include <QtTest/QtTest>

#include <memory>

// What the sim does that the suites of the panel's parts would not notice
// when broken: refusals, injected faults, unplugging, resets and the ASIO
// side. Its meter levels and its requests to the panel are checked where the
// panel reads them.
namespace {

using namespace platform::posix;
using Replies = QList<QByteArray>;
const std::wstring kNoticePipe = L"\\\\.\\pipe\\KestrumPannelToASIO";

QByteArray le(quint64 value, int size)
{
    QByteArray bytes;
    for (int i = 0; i < size; ++i)
        bytes.append(static_cast<char>(value >> (8 * i)));
    return bytes;
}

// A wire request; announced is the input length the header claims, when it lies.
QByteArray request(quint32 code, const QByteArray& input = {}, quint32 capacity = 0, int announced = -1)
{
    return le(code, 4) + le(announced < 0 ? input.size() : announced, 4) + le(capacity, 4) + input;
}

QByteArray refusal(quint32 error)
{
    return le(0, 4) + le(error, 4) + le(0, 4);
}

QByteArray answer(const QByteArray& output = {})
{
    return le(1, 4) + le(0, 4) + le(output.size(), 4) + output;
}

// A USB control packet: marker, command, 0, state, channel, then zeros.
QByteArray usbPacket(const char* hex)
{
    return QByteArray::fromHex(hex).leftJustified(37, '\0');
}

} // namespace

class TestSim : public QObject
{
    Q_OBJECT

    QJsonObject asio() { return m_sim->state()["asio"].toObject(); }
    int open() { return connectSeqPacket((m_environment.baseDir() + "/KestrumAudioBus0").toStdString(), m_error); }

    // Sends message on fd, or on a connection of its own, and returns the
    // reply; none when none comes within 2 s.
    QByteArray call(const QByteArray& message, int fd = kInvalidSocket)
    {
        const int used = fd == kInvalidSocket ? open() : fd;
        QByteArray reply(70000, '\0');
        ReceivedMessage received;
        const bool ok = sendMessage(used, message.constData(), message.size(), 2000, m_error)
            && receiveMessage(used, reply.data(), reply.size(), 2000, received, m_error);
        if (used != fd)
            closeSocket(used);
        return ok ? reply.left(received.length) : QByteArray();
    }

    TestEnvironment m_environment;
    std::unique_ptr<SimProcess> m_sim;
    std::uint32_t m_error = 0;

private slots:
    void init()
    {
        m_sim = std::make_unique<SimProcess>();
        QVERIFY(m_sim->waitUntilReady());
    }
    void cleanup() { m_sim.reset(); }

    void refusesMalformedRequests_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<quint32>("error");
        QTest::newRow("unknown code") << request(0xFFDC2FFC) << 1u;
        QTest::newRow("input too short") << request(iocode::kSetSampleRate, le(44100, 3)) << 87u;
        QTest::newRow("output too small") << request(iocode::kGetSampleRate, {}, 3) << 122u;
        QTest::newRow("usb packet with a bad marker") << request(iocode::kWriteUsbControl, usbPacket("025b000101")) << 87u;
        QTest::newRow("header announces more input") << request(iocode::kSetSampleRate, le(44100, 4), 0, 8) << 87u;
        QTest::newRow("no header") << QByteArray(5, '\0') << 87u;
    }
    void refusesMalformedRequests()
    {
        QFETCH(QByteArray, message);
        QFETCH(quint32, error);
        const int fd = open();
        QCOMPARE(call(message, fd), refusal(error));
        // The refusal changed nothing, and the connection still answers.
        QCOMPARE(call(request(iocode::kGetSampleRate, {}, 4), fd), answer(le(48000, 4)));
        closeSocket(fd);
        QCOMPARE(m_sim->state()["phantom48v"].toObject().size(), 0);
    }

    void injectsFaults_data()
    {
        QTest::addColumn<QStringList>("commands");
        QTest::addColumn<Replies>("replies"); // to calls of io_get_sample_rate in a row
        const QByteArray rate = answer(le(48000, 4));
        QTest::newRow("once") << QStringList { "fail io_get_sample_rate once" } << Replies { refusal(31), rate, rate };
        QTest::newRow("N times, given error") << QStringList { "fail 0xFFDC2020 2 1167" } << Replies { refusal(1167), refusal(1167), rate };
        QTest::newRow("always") << QStringList { "fail get_sample_rate always" } << Replies { refusal(31), refusal(31), refusal(31) };
        QTest::newRow("all off") << QStringList { "fail io_get_sample_rate 5", "fail all off" } << Replies { rate };
        QTest::newRow("slow") << QStringList { "slow 2500" } << Replies { QByteArray() };
    }
    void injectsFaults()
    {
        QFETCH(QStringList, commands);
        QFETCH(Replies, replies);
        for (const QString& command : commands)
            QVERIFY2(m_sim->command(command.split(' ')), qPrintable(command));
        Replies seen;
        for (qsizetype i = 0; i < replies.size(); ++i)
            seen << call(request(iocode::kGetSampleRate, {}, 4));
        QCOMPARE(seen, replies);
        QCOMPARE(m_sim->calls().first()["injected"].toBool(), replies.first().startsWith(le(0, 4)));
    }

    void unplugDropsConnectionsUntilPlugged()
    {
        const int held = open();
        QCOMPARE(call(request(iocode::kSetSampleRate, le(44100, 4))), answer());
        QVERIFY(m_sim->command({ "unplug" }));
        QCOMPARE(call(request(iocode::kGetDevicePid, {}, 4), held), QByteArray());
        closeSocket(held);
        QCOMPARE(open(), kInvalidSocket);

        QVERIFY(m_sim->command({ "plug" }));
        QCOMPARE(call(request(iocode::kGetSampleRate, {}, 4)), answer(le(44100, 4)));
    }

    void resetRestoresPowerOnDefaults()
    {
        const QJsonObject defaults = m_sim->state();
        QVERIFY(m_sim->command({ "model", "KQ" }));
        const QList<std::pair<quint32, QByteArray>> changes {
            { iocode::kSetSampleRate, le(96000, 4) }, { iocode::kSetBufferSize, le(64, 4) }, { iocode::kSetUsbBufferSize, le(4, 4) },
            { iocode::kSetWdmNum, le(8, 4) }, { iocode::kSetSafeModeOn, {} }, { iocode::kStopAllAudio, {} },
            { iocode::kSetMasterVolume, le(0x1234, 2) }, { iocode::kSetMasterMute, le(1, 1) }, { iocode::kSetMixer, QByteArray(66304, '\x11') },
            { iocode::kWriteUsbControl, usbPacket("015b000101") }, { iocode::kWriteUsbControl, usbPacket("015e") },
        };
        for (const auto& [code, input] : changes)
            QCOMPARE(call(request(code, input)), answer());
        const qsizetype recorded = m_sim->record().size();

        QVERIFY(m_sim->reset());
        QTRY_COMPARE(m_sim->state()["connections"].toInt(), 0);
        QJsonObject state = m_sim->state();
        QCOMPARE(state["pid"].toInt(), 15);
        state["pid"] = defaults["pid"];
        state["model"] = defaults["model"];
        QCOMPARE(state, defaults);
        QCOMPARE(m_sim->record().size(), recorded);
    }

    void countsResetNotices()
    {
        const platform::PipeHandle held = platform::openPipe(kNoticePipe, m_error);
        for (const char* message : { "1", "2", "11", "1" })
            QVERIFY(platform::writePipe(held, message, qstrlen(message), m_error));
        QTRY_COMPARE(asio()["messages"].toInt(), 4);
        QCOMPARE(asio()["notices"].toInt(), 2);
        QCOMPARE(m_sim->record().last()["kind"].toString(), QString("asioNotice"));
        platform::closePipe(held);
        // A request to a panel that does not listen is refused.
        QVERIFY(!m_sim->command({ "asio-request", "0", "0", "0", "0", "1" }));
        QCOMPARE(asio()["requestsSent"].toInt(), 0);
    }
};

QTEST_GUILESS_MAIN(TestSim)
#include "tst_sim.moc"
