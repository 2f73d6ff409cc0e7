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
using namespace iocode;
using Replies = QList<QByteArray>;
using L = QStringList;
const std::wstring kNoticePipe = L"\\\\.\\pipe\\KestrumPannelToASIO";

QByteArray le(quint64 value, int size = 4)
{
    const quint64 v = qToLittleEndian(value);
    return QByteArray(reinterpret_cast<const char*>(&v), size);
}

// A wire request; announced is the input length the header claims, when it lies.
QByteArray request(quint32 code, const QByteArray& input = {}, quint32 capacity = 0, int announced = -1)
{
    return le(code) + le(announced < 0 ? input.size() : announced) + le(capacity) + input;
}

QByteArray refusal(quint32 error)
{
    return le(0) + le(error) + le(0);
}

QByteArray answer(const QByteArray& output = {})
{
    return le(1) + le(0) + le(output.size()) + output;
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

    QJsonObject asio() { return sim->state()["asio"].toObject(); }
    QByteArray getRate() { return request(kGetSampleRate, {}, 4); }
    int open() { return connectSeqPacket((env.baseDir() + "/KestrumAudioBus0").toStdString(), error); }

    // Sends message on fd, or on a connection of its own, and returns the
    // reply; none when none comes within 2 s.
    QByteArray call(const QByteArray& message, int fd = kInvalidSocket)
    {
        const int used = fd == kInvalidSocket ? open() : fd;
        QByteArray reply(70000, '\0');
        ReceivedMessage received;
        const bool ok = sendMessage(used, message.constData(), message.size(), 2000, error)
            && receiveMessage(used, reply.data(), reply.size(), 2000, received, error);
        if (used != fd)
            closeSocket(used);
        return ok ? reply.left(received.length) : QByteArray();
    }

    TestEnvironment env;
    std::unique_ptr<SimProcess> sim;
    std::uint32_t error = 0;

private slots:
    void init()
    {
        sim = std::make_unique<SimProcess>();
        QVERIFY(sim->waitUntilReady());
    }
    void cleanup() { sim.reset(); }

    void malformed_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<quint32>("error");
        QTest::newRow("unknown code") << request(0xFFDC2FFC) << 1u;
        QTest::newRow("input too short") << request(kSetSampleRate, le(44100, 3)) << 87u;
        QTest::newRow("output too small") << request(kGetSampleRate, {}, 3) << 122u;
        QTest::newRow("usb bad marker") << request(kWriteUsbControl, usbPacket("025b000101")) << 87u;
        QTest::newRow("announces more") << request(kSetSampleRate, le(44100), 0, 8) << 87u;
        QTest::newRow("no header") << QByteArray(5, '\0') << 87u;
    }
    void malformed()
    {
        QFETCH(QByteArray, message);
        QFETCH(quint32, error);
        const int fd = open();
        QCOMPARE(call(message, fd), refusal(error));
        // The refusal changed nothing, and the connection still answers.
        QCOMPARE(call(getRate(), fd), answer(le(48000)));
        closeSocket(fd);
        QCOMPARE(sim->state()["phantom48v"].toObject().size(), 0);
    }

    void faults_data()
    {
        QTest::addColumn<L>("commands");
        // Replies to calls of io_get_sample_rate in a row.
        QTest::addColumn<Replies>("replies");
        const QByteArray rate = answer(le(48000));
        QTest::newRow("once") << L { "fail io_get_sample_rate once" } << Replies { refusal(31), rate, rate };
        QTest::newRow("N times, error") << L { "fail 0xFFDC2020 2 1167" } << Replies { refusal(1167), refusal(1167), rate };
        QTest::newRow("always") << L { "fail get_sample_rate always" } << Replies { refusal(31), refusal(31), refusal(31) };
        QTest::newRow("all off") << L { "fail io_get_sample_rate 5", "fail all off" } << Replies { rate };
        QTest::newRow("slow") << L { "slow 2500" } << Replies { QByteArray() };
    }
    void faults()
    {
        QFETCH(L, commands);
        QFETCH(Replies, replies);
        for (const QString& command : commands)
            QVERIFY2(sim->command(command.split(' ')), qPrintable(command));
        Replies seen;
        for (qsizetype i = 0; i < replies.size(); ++i)
            seen << call(getRate());
        QCOMPARE(seen, replies);
        QCOMPARE(sim->calls().first()["injected"].toBool(), replies.first().startsWith(le(0)));
    }

    void unplug()
    {
        const int held = open();
        QCOMPARE(call(request(kSetSampleRate, le(44100))), answer());
        QVERIFY(sim->command({ "unplug" }));
        QCOMPARE(call(request(kGetDevicePid, {}, 4), held), QByteArray());
        closeSocket(held);
        QCOMPARE(open(), kInvalidSocket);

        QVERIFY(sim->command({ "plug" }));
        QCOMPARE(call(getRate()), answer(le(44100)));
    }

    void reset()
    {
        const QJsonObject defaults = sim->state();
        QVERIFY(sim->command({ "model", "KQ" }));
        const QList<std::pair<quint32, QByteArray>> changes {
            { kSetSampleRate, le(96000) }, { kSetBufferSize, le(64) }, { kSetUsbBufferSize, le(4) },
            { kSetWdmNum, le(8) }, { kSetSafeModeOn, {} }, { kStopAllAudio, {} },
            { kSetMasterVolume, le(0x1234, 2) }, { kSetMasterMute, le(1, 1) }, { kSetMixer, QByteArray(66304, '\x11') },
            { kWriteUsbControl, usbPacket("015b000101") }, { kWriteUsbControl, usbPacket("015e") },
        };
        for (const auto& [code, input] : changes)
            QCOMPARE(call(request(code, input)), answer());
        const qsizetype recorded = sim->record().size();

        QVERIFY(sim->reset());
        QTRY_COMPARE(sim->state()["connections"].toInt(), 0);
        QJsonObject state = sim->state();
        QCOMPARE(state["pid"].toInt(), 15);
        state["pid"] = defaults["pid"];
        state["model"] = defaults["model"];
        QCOMPARE(state, defaults);
        QCOMPARE(sim->record().size(), recorded);
    }

    void notices()
    {
        const platform::PipeHandle held = platform::openPipe(kNoticePipe, error);
        for (const char* message : { "1", "2", "11", "1" })
            QVERIFY(platform::writePipe(held, message, qstrlen(message), error));
        QTRY_COMPARE(asio()["messages"].toInt(), 4);
        QCOMPARE(asio()["notices"].toInt(), 2);
        QCOMPARE(sim->record().last()["kind"].toString(), QString("asioNotice"));
        platform::closePipe(held);
        // A request to a panel that does not listen is refused.
        QVERIFY(!sim->command({ "asio-request", "0", "0", "0", "0", "1" }));
        QCOMPARE(asio()["requestsSent"].toInt(), 0);
    }
};

QTEST_GUILESS_MAIN(TestSim)
#include "tst_sim.moc"
