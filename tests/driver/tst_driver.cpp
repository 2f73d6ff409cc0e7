// The driver channel against the simulated driver: what each command puts on
// the wire, byte for byte, and what the caller's variable holds afterwards,
// when the channel is not open, when the driver refuses and when it answers.

#include "driver/KestrumIoControl.h"
#include "tests/support/LogCapture.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TestEnvironment.h"

#include <QJsonObject>
#include <QTest>

#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>

namespace {

using Io = KestrumIoControl;
using Bytes = QByteArray;

// One command as a caller makes it. The caller's variable travels as bytes
// into the call and back out (none for a pure write).
struct Command {
    quint32 code;
    // What reaches the driver, as hex.
    Bytes input;
    int outCapacity;
    // The call as written, which names the row.
    const char* name;
    std::function<bool(Io&, Bytes& variable)> run;
    // The variable after a successful call.
    Bytes answered = {};
    // What the three calls log, beside the open.
    QStringList log = {};
    // Null: as many 0xEE bytes as answered has.
    Bytes before = {};
    // The variable after a refused call; null: as before.
    Bytes refused = {};
};

// A command's name and run: v is the caller's variable.
#define RUN(...) #__VA_ARGS__, [](Io& io, [[maybe_unused]] Bytes& v) { return __VA_ARGS__; }

template <typename T>
T* as(Bytes& variable)
{
    return reinterpret_cast<T*>(variable.data());
}

template <typename T>
Bytes bytesOf(const T& value)
{
    return Bytes(reinterpret_cast<const char*>(&value), sizeof value);
}

// A 37-byte USB control packet as hex: the given leading bytes, then zeros.
Bytes packet(const Bytes& leading)
{
    return leading + Bytes(2 * 37 - leading.size(), '0');
}

// Every USB control packet goes with this code.
constexpr quint32 kUsb = 0xFFDC209C;

constexpr double kLoudest = 1.9952623149688795; // +6 dB

// Cell (64, 2) is double 32 * 64 + 2; output gain 5 follows the 256 x 32 matrix.
bool sendMixer(Io& io)
{
    auto mixer = std::make_unique<_MIXER_FADER_DATA>();
    mixer->matrixGains[64][2] = 0.5;
    mixer->outputGains[5] = kLoudest;
    return io.io_set_mixer(*mixer);
}
const Bytes kMixerHex =
    Bytes(66304, '\0').replace(8 * (32 * 64 + 2), 8, bytesOf(0.5)).replace(65536 + 8 * 5, 8, bytesOf(kLoudest)).toHex();

bool writePacket(Io& io)
{
    unsigned char bytes[37] = { 0x01, 0x5f };
    return io.io_write_usb_control(bytes, sizeof bytes);
}

// The reply becomes exactly 32 bytes, however long it was.
bool readUsbControl(Io& io, Bytes& variable)
{
    std::vector<unsigned char> request(37), reply(variable.begin(), variable.end());
    request[0] = 0x01;
    request[1] = 0x65;
    const bool ok = io.io_read_usb_control(request, reply);
    variable = Bytes(reinterpret_cast<const char*>(reply.data()), int(reply.size()));
    return ok;
}

const QStringList kFirmwareFailures(2, "Failed to read firmware version from device.");

const std::vector<Command>& table()
{
    static const std::vector<Command> commands = {
        { 0xFFDC2038, "80bb0000", 0, RUN(io.io_set_sample_rate(48000)) },
        { 0xFFDC2040, kMixerHex, 0, RUN(sendMixer(io)) },
        { 0xFFDC2044, "40000000", 0, RUN(io.io_set_buffer_size(64)) },
        { 0xFFDC2050, "08000000", 0, RUN(io.io_set_usb_buffer_size(8)) },
        { 0xFFDC2078, "", 0, RUN(io.io_stop_all_audio()) },
        { 0xFFDC207C, "", 0, RUN(io.io_audio_init()) },
        { 0xFFDC2080, "", 0, RUN(io.io_restart_audio()) },
        { 0xFFDC2088, "04000000", 0, RUN(io.io_set_wdm_num(4)) },
        { 0xFFDC2090, "", 0, RUN(io.io_set_safe_mode_on()) },
        { 0xFFDC2094, "", 0, RUN(io.io_set_safe_mode_off()) },
        { 0xFFDC20AC, "feca", 0, RUN(io.io_set_master_volume(0xCAFE)) },
        { 0xFFDC20B4, "01", 0, RUN(io.io_set_master_mute(true)) },
        { 0xFFDC20B4, "00", 0, RUN(io.io_set_master_mute(false)) },
        { kUsb, packet("015f"), 0, RUN(writePacket(io)) },
        { kUsb, packet("01070002017000"), 0, RUN(io.io_set_mic_volume(1, 112)) },
        { kUsb, packet("01030002056400"), 0, RUN(io.io_set_out_volume(5, 100)) },
        // Only the low 8 bits of the channel and the low 16 bits of the value go.
        { kUsb, packet("01030002013412"), 0, RUN(io.io_set_out_volume(257, 0x11234)) },
        { kUsb, packet("015b000102"), 0, RUN(io.io_set_mic_48v(2, 1)) },
        { kUsb, packet("015a000101"), 0, RUN(io.io_set_mic_20db(1, 1)) },
        { kUsb, packet("0164000002"), 0, RUN(io.io_mic_instr_switch(2, 0)) },
        { kUsb, packet("015e"), 0, RUN(io.io_set_otg_chip_off()) },
        { kUsb, packet("015f"), 0, RUN(io.io_set_otg_chip_on()) },
        { kUsb, packet("0168"), 0, RUN(io.io_close_feedback()) },

        { 0xFFDC2020, "", 4, RUN(io.io_get_current_sample_rate(as<unsigned>(v))), bytesOf(44100u) },
        // 0 stands for a failure.
        { 0xFFDC2020, "", 4, RUN((*as<unsigned>(v) = io.io_get_samplerate()) != 0), bytesOf(44100u), {}, bytesOf(0u) },
        { 0xFFDC2048, "", 4, RUN(io.io_get_buffer_size(as<unsigned>(v))), bytesOf(512u), { "Buffer size: 512" } },
        { 0xFFDC204C, "", 4, RUN(io.io_get_usb_buffer_size(as<unsigned>(v))), bytesOf(24u) },
        { 0xFFDC2074, "", 768, RUN(io.io_get_meter_data(*as<_MIXER_METER_DATA>(v))), bytesOf(std::array<std::int32_t, 192> { 2147483647, -1000, 0, 1 }) },
        { 0xFFDC2084, "", 4, RUN(io.io_get_device_pid(*as<unsigned>(v))), bytesOf(2u) },
        { 0xFFDC20A4, "", 4, RUN((*as<int>(v) = io.io_get_wdm_num()) != 0), bytesOf(4), {}, bytesOf(0) },
        { 0xFFDC20B0, "", 2, RUN(io.io_get_master_volume(as<unsigned short>(v))), "\x34\x12" },
        { 0xFFDC20B8, "", 1, RUN(io.io_get_master_mute(*as<bool>(v))), "\x01", {}, Bytes(1, '\0') },
        { 0xFFDC20A0, packet("0165"), 32, RUN(readUsbControl(io, v)), "K2.06.0915" + Bytes(22, '\0'), {}, Bytes(40, '\xEE'), Bytes(32, '\xEE') },
        { 0xFFDC20A0, packet("0165"), 32, RUN(io.io_get_firmware_version(as<unsigned char>(v), 4)), "K2.0" + Bytes(16, '\xEE'), kFirmwareFailures },
        { 0xFFDC20A0, packet("0165"), 32, RUN(io.io_get_firmware_version(as<unsigned char>(v), 20)), "K2.06.0915" + Bytes(10, '\xEE'), kFirmwareFailures },
    };
    return commands;
}

} // namespace

class TestDriver : public QObject
{
    Q_OBJECT

    TestEnvironment environment;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<LogCapture> log;

private slots:
    void initTestCase()
    {
        log = std::make_unique<LogCapture>();
        sim = std::make_unique<SimProcess>(QStringList { "--model", "KX2", "--firmware", "K2.06.0915" });
        QVERIFY(sim->waitUntilReady());
    }

    void init()
    {
        // The device state every read expects.
        for (const char* setting : { "set sample-rate 44100", "set buffer-size 512", "set usb-latency 24", "set wdm 4", "meter 2147483647 -1000 0 1" })
            QVERIFY(sim->command(QString(setting).split(' ')));
        KestrumIoControl io;
        QVERIFY(io.createDevice() && io.io_set_master_volume(0x1234) && io.io_set_master_mute(true));
        sim->clearRecord();
        log->clear();
    }

    void cleanup()
    {
        sim->command({ "fail", "all", "off" });
        sim->command({ "plug" });
    }

    void commands_data()
    {
        QTest::addColumn<int>("index");
        for (std::size_t i = 0; i < table().size(); ++i)
            QTest::newRow(table()[i].name) << int(i);
    }

    void commands()
    {
        QFETCH(int, index);
        const Command& c = table()[index];
        const Bytes before = c.before.isNull() ? Bytes(c.answered.size(), '\xEE') : c.before;
        Bytes variable = before;

        // A channel that is not open fails without a call.
        KestrumIoControl io;
        QVERIFY(!c.run(io, variable));
        QCOMPARE(variable, before);
        QVERIFY(sim->calls().isEmpty());

        QVERIFY(io.createDevice());
        QVERIFY(sim->command({ "fail", QString::number(c.code), "once" }));
        QVERIFY(!c.run(io, variable));
        QCOMPARE(variable, c.refused.isNull() ? before : c.refused);

        QVERIFY(c.run(io, variable));
        QCOMPARE(variable, c.answered);
        QStringList lines, calls;
        for (const QJsonObject& call : sim->calls())
            calls << QString("%1 %2 %3").arg(call["code"].toInteger(), 0, 16).arg(call["in"].toString()).arg(call["outCapacity"].toInt());
        QCOMPARE(calls, QStringList(2, QString("%1 %2 %3").arg(c.code, 0, 16).arg(c.input).arg(c.outCapacity)));
        lines = log->lines();
        lines.removeIf([](const QString& line) { return line.startsWith("Open device"); });
        QCOMPARE(lines, c.log);
    }

    void firstBus()
    {
        // The shared simulator sits on bus 0; this test needs buses 3 and 5 only.
        QVERIFY(sim->command({ "unplug" }));
        SimProcess b3({ "--bus", "3", "--control", environment.root() + "/bus3.ctl" });
        SimProcess b5({ "--bus", "5", "--control", environment.root() + "/bus5.ctl" });
        QVERIFY(b3.waitUntilReady() && b5.waitUntilReady());
        const auto connections = [](SimProcess& bus) { return bus.state()["connections"].toInt(); };

        KestrumIoControl io;
        log->clear();
        QVERIFY(io.createDevice());
        const auto open = [](int bus, const QString& result) { return QString("Open device \\\\.\\KestrumAudioBus%1 ").arg(bus) + result; };
        const QString failed = "failed, error: 2";
        QCOMPARE(log->lines(), QStringList({ open(0, failed), open(1, failed), open(2, failed), open(3, "success!") }));
        QTRY_COMPARE(connections(b3), 1);
        QCOMPARE(connections(b5), 0);

        io.closeHandle();
        QTRY_COMPARE(connections(b3), 0);

        QVERIFY(b3.command({ "unplug" }) && b5.command({ "unplug" }));
        log->clear();
        QVERIFY(!io.createDevice());
        QCOMPARE(log->lines().filter(failed).size(), 16);
        QCOMPARE(log->lines().last(), open(15, failed));
    }

    // A channel the device dropped opens the device again on its next call,
    // when asked to, and tells its owner then; until a device opens each call
    // fails. One not asked to, or closed by its owner, stays failed.
    void dropped()
    {
        KestrumIoControl io, watch;
        int reconnects = 0;
        io.reconnectWhenLost([&reconnects] { ++reconnects; });
        unsigned int pid = 0;
        QVERIFY(io.createDevice() && watch.createDevice() && sim->command({ "unplug" }));
        QVERIFY(!io.io_get_device_pid(pid));
        log->clear();
        QVERIFY(!io.io_get_device_pid(pid));
        QCOMPARE(log->lines().filter("failed, error: 2").size(), 16);
        QVERIFY(sim->command({ "plug" }));
        QVERIFY(io.io_get_device_pid(pid) && io.io_stop_all_audio());
        QCOMPARE(pid, 2u);
        QCOMPARE(reconnects, 1);
        // The first call finds the channel lost; the second must not open it again.
        QVERIFY(!watch.io_stop_all_audio() && !watch.io_stop_all_audio());
        QCOMPARE(sim->calls().size(), 2);

        QVERIFY(sim->command({ "unplug" }) && !io.io_stop_all_audio() && sim->command({ "plug" }));
        io.closeHandle();
        QVERIFY(!io.io_stop_all_audio());
        QCOMPARE(reconnects, 1);
    }

    void levels()
    {
        const std::pair<double, double> gains[] = {
            { -100.0, 0.0 }, { -80.0, 0.0 }, { -79.9, 1.0115794542598982e-4 }, { -20.0, 0.1 }, { 0.0, 1.0 }, { 6.0, kLoudest }, { 12.0, kLoudest },
        };
        for (const auto& [dB, gain] : gains)
            QVERIFY2(std::abs(KestrumIoControl::dbToValue(dB) - gain) < 1e-12, qPrintable(QString::number(dB)));

        const double infinity = std::numeric_limits<double>::infinity();
        const std::pair<int, double> levels[] = {
            { 2147483647, 0.0 }, { -2147483647, 0.0 }, { 1 << 30, -6.0205999092349405 }, { 0, -infinity },
            { std::numeric_limits<int>::min(), 4.044682549332592e-9 },
        };
        for (const auto& [sample, dB] : levels) {
            const double actual = KestrumIoControl::pcmToDb(sample);
            QVERIFY2(actual == dB || std::abs(actual - dB) < 1e-12, qPrintable(QString::number(sample)));
        }
    }
};

QTEST_GUILESS_MAIN(TestDriver)
#include "tst_driver.moc"
