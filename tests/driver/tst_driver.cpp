// The driver channel against the simulated driver: what each command puts on
// the wire, byte for byte, and what it makes of the answers.

#include "driver/DeviceSymlinks.h"
#include "driver/KestrumIoControl.h"
#include "tests/support/LogCapture.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TestEnvironment.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTest>

#include <cmath>
#include <limits>
#include <memory>

namespace {

constexpr quint32 kSetSampleRate = 0xFFDC2038;
constexpr quint32 kSetMixer = 0xFFDC2040;
constexpr quint32 kGetBufferSize = 0xFFDC2048;
constexpr quint32 kGetDevicePid = 0xFFDC2084;
constexpr quint32 kWriteUsbControl = 0xFFDC209C;
constexpr quint32 kReadUsbControl = 0xFFDC20A0;

// The 37-byte packet as hex: the given leading bytes, then zeros.
QString packetHex(const QByteArray& leading)
{
    QByteArray packet = leading;
    packet.append(37 - leading.size(), '\0');
    return QString::fromLatin1(packet.toHex());
}

} // namespace

class TestDriver : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void deviceSymlinksListSixteenBuses();
    void createDeviceOpensTheFirstBusThatOpens();
    void aFreshChannelFailsEveryCommandWithoutACall();
    void usbWriteCommandsSendTheirPacketsByteForByte();
    void usbWriteCommandsReportTheDriversAnswer();
    void commandsCarryTheirCodesAndPayloads();
    void failedReadsLeaveTheCallersVariableUnchanged();
    void firmwareReadCopiesAtMostTenBytes();
    void levelConversions();

private:
    KestrumIoControl* openChannel();

    TestEnvironment environment;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<LogCapture> log;
    std::unique_ptr<KestrumIoControl> channel;
};

void TestDriver::initTestCase()
{
    log = std::make_unique<LogCapture>();
    sim = std::make_unique<SimProcess>(QStringList { "--model", "KX2", "--firmware", "K2.06.0915" });
    QVERIFY(sim->waitUntilReady());
}

void TestDriver::cleanup()
{
    channel.reset();
    sim->command({ "fail", "all", "off" });
    sim->clearRecord();
    log->clear();
}

KestrumIoControl* TestDriver::openChannel()
{
    channel = std::make_unique<KestrumIoControl>();
    if (!channel->createDevice())
        return nullptr;
    return channel.get();
}

void TestDriver::deviceSymlinksListSixteenBuses()
{
    QCOMPARE(DeviceSymlinks.size(), std::size_t(16));
    QCOMPARE(DeviceSymlinks.front(), std::wstring(L"\\\\.\\KestrumAudioBus0"));
    QCOMPARE(DeviceSymlinks[10], std::wstring(L"\\\\.\\KestrumAudioBus10"));
    QCOMPARE(DeviceSymlinks.back(), std::wstring(L"\\\\.\\KestrumAudioBus15"));
}

void TestDriver::createDeviceOpensTheFirstBusThatOpens()
{
    // The shared simulator sits on bus 0; this test needs buses 3 and 5 only.
    QVERIFY(sim->command({ "unplug" }));
    SimProcess bus3({ "--bus", "3", "--control", environment.root() + "/bus3.ctl" });
    SimProcess bus5({ "--bus", "5", "--control", environment.root() + "/bus5.ctl" });
    QVERIFY(bus3.waitUntilReady());
    QVERIFY(bus5.waitUntilReady());

    KestrumIoControl io;
    log->clear();
    QVERIFY(io.createDevice());
    QCOMPARE(log->lines(), QStringList({ "Open device \\\\.\\KestrumAudioBus0 failed, error: 2",
                                         "Open device \\\\.\\KestrumAudioBus1 failed, error: 2",
                                         "Open device \\\\.\\KestrumAudioBus2 failed, error: 2",
                                         "Open device \\\\.\\KestrumAudioBus3 success!" }));
    QTRY_COMPARE(bus3.state().value("connections").toInt(), 1);
    QCOMPARE(bus5.state().value("connections").toInt(), 0);

    io.closeHandle();
    QTRY_COMPARE(bus3.state().value("connections").toInt(), 0);
    io.closeHandle(); // closing twice is harmless

    QVERIFY(bus3.command({ "unplug" }));
    QVERIFY(bus5.command({ "unplug" }));
    KestrumIoControl nothing;
    log->clear();
    QVERIFY(!nothing.createDevice());
    QCOMPARE(log->lines().filter("failed, error: 2").size(), 16);
    QVERIFY(sim->command({ "plug" }));
}

void TestDriver::aFreshChannelFailsEveryCommandWithoutACall()
{
    KestrumIoControl io;
    unsigned int word = 77;
    unsigned short shortWord = 7;
    bool flag = true;
    auto mixer = std::make_unique<_MIXER_FADER_DATA>();
    auto meter = std::make_unique<_MIXER_METER_DATA>();
    unsigned char packet[37] = { 1, 7 };
    std::vector<unsigned char> reply { 9 };

    QVERIFY(!io.io_get_current_sample_rate(&word));
    QCOMPARE(io.io_get_samplerate(), 0u);
    QVERIFY(!io.io_set_sample_rate(48000));
    QVERIFY(!io.io_set_mixer(*mixer));
    QVERIFY(!io.io_set_buffer_size(64));
    QVERIFY(!io.io_get_buffer_size(&word));
    QVERIFY(!io.io_get_usb_buffer_size(&word));
    QVERIFY(!io.io_set_usb_buffer_size(8));
    QVERIFY(!io.io_get_meter_data(*meter));
    QVERIFY(!io.io_stop_all_audio());
    QVERIFY(!io.io_audio_init());
    QVERIFY(!io.io_restart_audio());
    QVERIFY(!io.io_get_device_pid(word));
    QVERIFY(!io.io_set_wdm_num(4));
    QCOMPARE(io.io_get_wdm_num(), 0);
    QVERIFY(!io.io_set_safe_mode_on());
    QVERIFY(!io.io_set_safe_mode_off());
    QVERIFY(!io.io_write_usb_control(packet, sizeof packet));
    QVERIFY(!io.io_read_usb_control({ 1, 0x65 }, reply));
    QCOMPARE(reply, std::vector<unsigned char> { 9 });
    QVERIFY(!io.io_set_master_volume(5));
    QVERIFY(!io.io_get_master_volume(&shortWord));
    QVERIFY(!io.io_set_master_mute(true));
    QVERIFY(!io.io_get_master_mute(flag));
    QVERIFY(!io.io_set_out_volume(1, 100));
    QVERIFY(!io.io_set_mic_volume(1, 100));
    QVERIFY(!io.io_set_mic_20db(1, 1));
    QVERIFY(!io.io_set_mic_48v(1, 1));
    QVERIFY(!io.io_set_otg_chip_off());
    QVERIFY(!io.io_set_otg_chip_on());
    QVERIFY(!io.io_mic_instr_switch(1, 1));
    QVERIFY(!io.io_close_feedback());
    QCOMPARE(word, 77u);
    QCOMPARE(shortWord, 7);
    QVERIFY(flag);
    io.closeHandle();

    QCOMPARE(sim->record().size(), 0);
}

void TestDriver::usbWriteCommandsSendTheirPacketsByteForByte()
{
    KestrumIoControl* io = openChannel();
    QVERIFY(io);
    QVERIFY(io->io_set_mic_volume(1, 112));
    QVERIFY(io->io_set_mic_48v(2, 1));
    QVERIFY(io->io_set_out_volume(5, 100));
    QVERIFY(io->io_set_out_volume(257, 65536 + 5));
    QVERIFY(io->io_set_mic_20db(1, 1));
    QVERIFY(io->io_mic_instr_switch(1, 0));
    QVERIFY(io->io_set_otg_chip_off());
    QVERIFY(io->io_set_otg_chip_on());
    QVERIFY(io->io_close_feedback());
    QVERIFY(io->io_set_mic_volume(2, -1));

    const QStringList expected = {
        packetHex(QByteArray::fromHex("01070002017000")),
        packetHex(QByteArray::fromHex("015b000102")),
        packetHex(QByteArray::fromHex("01030002056400")),
        packetHex(QByteArray::fromHex("01030002010500")),
        packetHex(QByteArray::fromHex("015a000101")),
        packetHex(QByteArray::fromHex("0164000001")),
        packetHex(QByteArray::fromHex("015e")),
        packetHex(QByteArray::fromHex("015f")),
        packetHex(QByteArray::fromHex("0168")),
        packetHex(QByteArray::fromHex("0107000202ffff")),
    };
    const QList<QJsonObject> calls = sim->calls(kWriteUsbControl);
    QStringList sent;
    for (const QJsonObject& call : calls) {
        sent << call.value("in").toString();
        QCOMPARE(call.value("outCapacity").toInt(), 0);
    }
    QCOMPARE(sent, expected);

    const QJsonObject state = sim->state();
    QCOMPARE(state.value("micGain").toObject().value("1").toInt(), 112);
    QCOMPARE(state.value("phantom48v").toObject().value("2").toBool(), true);
    QCOMPARE(state.value("outVolume").toObject().value("5").toInt(), 100);
}

void TestDriver::usbWriteCommandsReportTheDriversAnswer()
{
    KestrumIoControl* io = openChannel();
    QVERIFY(io);
    QVERIFY(sim->command({ "fail", QString::number(kWriteUsbControl), "2" }));
    QVERIFY(!io->io_set_mic_48v(1, 1));
    QVERIFY(!io->io_set_otg_chip_on());
    QVERIFY(io->io_set_otg_chip_on());
    QCOMPARE(sim->calls(kWriteUsbControl).size(), 3);

    io->closeHandle();
    QVERIFY(!io->io_set_otg_chip_off());
    QCOMPARE(sim->calls(kWriteUsbControl).size(), 3);
}

void TestDriver::commandsCarryTheirCodesAndPayloads()
{
    KestrumIoControl* io = openChannel();
    QVERIFY(io);
    QVERIFY(io->io_set_sample_rate(48000));
    QVERIFY(io->io_set_buffer_size(64));
    QVERIFY(io->io_set_usb_buffer_size(24));
    QVERIFY(io->io_set_wdm_num(4));
    QVERIFY(io->io_set_master_volume(0x1234));
    QVERIFY(io->io_set_master_mute(true));
    QVERIFY(io->io_set_safe_mode_on());
    QVERIFY(io->io_stop_all_audio());

    const QJsonArray record = sim->record();
    QStringList wire;
    for (const QJsonValue& entry : record) {
        const QJsonObject call = entry.toObject();
        if (call.value("kind").toString() == "call")
            wire << QString::number(call.value("code").toInteger(), 16) + ":" + call.value("in").toString();
    }
    QCOMPARE(wire, QStringList({ "ffdc2038:80bb0000", "ffdc2044:40000000", "ffdc2050:18000000",
                                 "ffdc2088:04000000", "ffdc20ac:3412", "ffdc20b4:01", "ffdc2090:",
                                 "ffdc2078:" }));

    unsigned int word = 0;
    QCOMPARE(io->io_get_samplerate(), 48000u);
    QVERIFY(io->io_get_current_sample_rate(&word));
    QCOMPARE(word, 48000u);
    QVERIFY(io->io_get_buffer_size(&word));
    QCOMPARE(word, 64u);
    QVERIFY(log->contains("Buffer size: 64"));
    QVERIFY(io->io_get_usb_buffer_size(&word));
    QCOMPARE(word, 24u);
    QCOMPARE(io->io_get_wdm_num(), 4);
    unsigned short volume = 0;
    QVERIFY(io->io_get_master_volume(&volume));
    QCOMPARE(volume, 0x1234);
    bool muted = false;
    QVERIFY(io->io_get_master_mute(muted));
    QVERIFY(muted);
    QVERIFY(io->io_get_device_pid(word));
    QCOMPARE(word, 2u);

    // The mixer record goes whole: cell (64, 2) is double 32 * 64 + 2, output gain 5 follows the matrix.
    auto mixer = std::make_unique<_MIXER_FADER_DATA>();
    mixer->matrixGains[64][2] = 0.5;
    mixer->outputGains[5] = 1.9952623149688795;
    QVERIFY(io->io_set_mixer(*mixer));
    const QList<QJsonObject> mixerCalls = sim->calls(kSetMixer);
    QCOMPARE(mixerCalls.size(), 1);
    QCOMPARE(mixerCalls.first().value("in").toString().size(), 2 * 66304);
    const QJsonObject state = sim->state().value("mixer").toObject();
    QCOMPARE(state.value("outputGains").toArray().at(5).toDouble(), 1.9952623149688795);
    QCOMPARE(state.value("cells").toArray(),
             QJsonArray({ QJsonObject { { "row", 64 }, { "col", 2 }, { "value", 0.5 } } }));

    // The meter record is read whole, 192 levels.
    QVERIFY(sim->command({ "meter", "2147483647", "-1000", "0", "1" }));
    auto meter = std::make_unique<_MIXER_METER_DATA>();
    QVERIFY(io->io_get_meter_data(*meter));
    QCOMPARE(meter->level[0], 2147483647);
    QCOMPARE(meter->level[1], -1000);
    QCOMPARE(meter->level[3], 1);
    QCOMPARE(meter->level[191], 0);
    QVERIFY(sim->command({ "meter", "moving" }));
}

void TestDriver::failedReadsLeaveTheCallersVariableUnchanged()
{
    KestrumIoControl* io = openChannel();
    QVERIFY(io);
    QVERIFY(sim->command({ "fail", QString::number(kGetDevicePid), "once" }));
    unsigned int pid = 77;
    QVERIFY(!io->io_get_device_pid(pid));
    QCOMPARE(pid, 77u);
    QVERIFY(io->io_get_device_pid(pid));
    QCOMPARE(pid, 2u);

    QVERIFY(sim->command({ "fail", QString::number(kGetBufferSize), "once" }));
    unsigned int size = 5;
    QVERIFY(!io->io_get_buffer_size(&size));
    QCOMPARE(size, 5u);
    QVERIFY(!log->lines().join('\n').contains("Buffer size:"));

    // 0 stands both for a failure and for a driver that reports 0.
    QVERIFY(sim->command({ "set", "sample-rate", "0" }));
    QCOMPARE(io->io_get_samplerate(), 0u);
    QVERIFY(sim->command({ "set", "sample-rate", "44100" }));
    QCOMPARE(io->io_get_samplerate(), 44100u);
    QVERIFY(sim->command({ "fail", "io_get_sample_rate", "once" }));
    QCOMPARE(io->io_get_samplerate(), 0u);

    QVERIFY(sim->command({ "fail", QString::number(kSetSampleRate), "always" }));
    QVERIFY(!io->io_set_sample_rate(48000));
    QVERIFY(!io->io_set_sample_rate(48000));
    QCOMPARE(sim->state().value("sampleRate").toInt(), 44100);
}

void TestDriver::firmwareReadCopiesAtMostTenBytes()
{
    KestrumIoControl* io = openChannel();
    QVERIFY(io);

    unsigned char buffer[20];
    std::fill(std::begin(buffer), std::end(buffer), 0xEE);
    QVERIFY(io->io_get_firmware_version(buffer, 4));
    QCOMPARE(QByteArray(reinterpret_cast<char*>(buffer), 5), QByteArray("K2.0\xEE"));

    std::fill(std::begin(buffer), std::end(buffer), 0xEE);
    QVERIFY(io->io_get_firmware_version(buffer, 20));
    QCOMPARE(QByteArray(reinterpret_cast<char*>(buffer), 11), QByteArray("K2.06.0915\xEE"));

    const QList<QJsonObject> reads = sim->calls(kReadUsbControl);
    QCOMPARE(reads.size(), 2);
    QCOMPARE(reads.first().value("in").toString(), packetHex(QByteArray::fromHex("0165")));
    QCOMPARE(reads.first().value("outCapacity").toInt(), 32);

    QVERIFY(sim->command({ "fail", QString::number(kReadUsbControl), "once" }));
    std::fill(std::begin(buffer), std::end(buffer), 0xEE);
    log->clear();
    QVERIFY(!io->io_get_firmware_version(buffer, 10));
    QCOMPARE(log->lines(), QStringList { "Failed to read firmware version from device." });
    QCOMPARE(buffer[0], 0xEE);

    io->closeHandle();
    log->clear();
    QVERIFY(!io->io_get_firmware_version(buffer, 10));
    QCOMPARE(log->lines(), QStringList { "Failed to read firmware version from device." });
    QCOMPARE(sim->calls(kReadUsbControl).size(), 3);
}

void TestDriver::levelConversions()
{
    QCOMPARE(KestrumIoControl::dbToValue(-80.0), 0.0);
    QVERIFY(KestrumIoControl::dbToValue(-79.9) > 0.0);
    QCOMPARE(KestrumIoControl::dbToValue(-100.0), 0.0);
    QCOMPARE(KestrumIoControl::dbToValue(0.0), 1.0);
    QCOMPARE(KestrumIoControl::dbToValue(6.0), 1.9952623149688795);
    QCOMPARE(KestrumIoControl::dbToValue(12.0), 1.9952623149688795);
    QCOMPARE(KestrumIoControl::dbToValue(-20.0), 0.1);

    QCOMPARE(KestrumIoControl::pcmToDb(2147483647), 0.0);
    QCOMPARE(KestrumIoControl::pcmToDb(-2147483647), 0.0);
    QCOMPARE(KestrumIoControl::pcmToDb(0), -std::numeric_limits<double>::infinity());
    QVERIFY(qAbs(KestrumIoControl::pcmToDb(1 << 30) + 6.0206) < 1e-3);
    QVERIFY(std::isfinite(KestrumIoControl::pcmToDb(std::numeric_limits<int>::min())));
}

QTEST_GUILESS_MAIN(TestDriver)
#include "tst_driver.moc"
