/* A kernel driver that plays the interface's driver in the Windows tests.
 * It creates the device objects of the buses named in its service key (the
 * DWORD "Buses", one bit a bus), answers the I/O-control codes the tests use
 * when their payloads have exactly the sizes the panel sends, refuses every
 * other code, and records the last call on each device object, so that a
 * test can read back the very bytes that reached it. */

#include <ddk/wdm.h>

#include "ServiceValue.h"
#include "TestDriverProtocol.h"

#define KESTRUM_CODE(function) CTL_CODE(0xFFDCu, (function), METHOD_BUFFERED, FILE_ANY_ACCESS)

#define BUS_COUNT 16
#define USB_PACKET_BYTES 37
#define USB_REPLY_BYTES 32

typedef struct Bus {
    KSPIN_LOCK lock;
    UNICODE_STRING link;
    WCHAR linkText[64];
    KestrumTestRecord record;
} Bus;

typedef NTSTATUS (*Handler)(Bus* bus, UCHAR* buffer);

typedef struct Command {
    ULONG code;
    ULONG inputLength;
    ULONG outputLength;
    Handler handle;
} Command;

static void writeWord(UCHAR* at, ULONG value)
{
    at[0] = (UCHAR)value;
    at[1] = (UCHAR)(value >> 8);
    at[2] = (UCHAR)(value >> 16);
    at[3] = (UCHAR)(value >> 24);
}

static NTSTATUS acceptOnly(Bus* bus, UCHAR* buffer)
{
    UNREFERENCED_PARAMETER(bus);
    UNREFERENCED_PARAMETER(buffer);
    return STATUS_SUCCESS;
}

static NTSTATUS getDevicePid(Bus* bus, UCHAR* buffer)
{
    UNREFERENCED_PARAMETER(bus);
    writeWord(buffer, KESTRUM_TEST_PID);
    return STATUS_SUCCESS;
}

/* Only the firmware-version read (packet byte 1 = 0x65) has a reply here. */
static NTSTATUS readUsbControl(Bus* bus, UCHAR* buffer)
{
    static const char version[] = KESTRUM_TEST_FIRMWARE;
    UNREFERENCED_PARAMETER(bus);
    if (buffer[0] != 0x01 || buffer[1] != 0x65)
        return STATUS_NOT_SUPPORTED;
    RtlZeroMemory(buffer, USB_REPLY_BYTES);
    RtlCopyMemory(buffer, version, sizeof version - 1);
    return STATUS_SUCCESS;
}

static NTSTATUS readRecord(Bus* bus, UCHAR* buffer)
{
    RtlCopyMemory(buffer, &bus->record, sizeof bus->record);
    return STATUS_SUCCESS;
}

static const Command commands[] = {
    { KESTRUM_CODE(0x810), KESTRUM_TEST_LARGEST_INPUT, 0, acceptOnly },   /* set mixer */
    { KESTRUM_CODE(0x811), 4, 0, acceptOnly },                            /* set buffer size */
    { KESTRUM_CODE(0x81E), 0, 0, acceptOnly },                            /* stop all audio */
    { KESTRUM_CODE(0x821), 0, 4, getDevicePid },
    { KESTRUM_CODE(0x828), USB_PACKET_BYTES, USB_REPLY_BYTES, readUsbControl },
    { KESTRUM_TEST_READ_RECORD, 0, sizeof(KestrumTestRecord), readRecord },
};

static const Command* findCommand(ULONG code)
{
    for (ULONG i = 0; i < sizeof commands / sizeof commands[0]; ++i) {
        if (commands[i].code == code)
            return &commands[i];
    }
    return NULL;
}

/* Buffered I/O: input and output share one buffer, so the input is kept
 * before the answer overwrites it. */
static void recordCall(Bus* bus, ULONG code, const UCHAR* input, ULONG inputLength, ULONG outputLength)
{
    const ULONG kept = inputLength < sizeof bus->record.input ? inputLength : sizeof bus->record.input;
    bus->record.code = code;
    bus->record.inputLength = inputLength;
    bus->record.outputLength = outputLength;
    RtlZeroMemory(bus->record.input, sizeof bus->record.input);
    if (kept > 0)
        RtlCopyMemory(bus->record.input, input, kept);
}

static NTSTATUS complete(PIRP irp, NTSTATUS status, ULONG_PTR returned)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = NT_SUCCESS(status) ? returned : 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static NTSTATUS dispatchDeviceControl(PDEVICE_OBJECT device, PIRP irp)
{
    Bus* bus = device->DeviceExtension;
    const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    const ULONG inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG outputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    UCHAR* buffer = irp->AssociatedIrp.SystemBuffer;
    const Command* command = findCommand(code);
    NTSTATUS status;
    KIRQL irql;

    KeAcquireSpinLock(&bus->lock, &irql);
    if (code != KESTRUM_TEST_READ_RECORD)
        recordCall(bus, code, buffer, inputLength, outputLength);
    if (!command)
        status = STATUS_INVALID_DEVICE_REQUEST;
    else if (inputLength != command->inputLength || outputLength != command->outputLength)
        status = STATUS_INVALID_PARAMETER;
    else
        status = command->handle(bus, buffer);
    KeReleaseSpinLock(&bus->lock, irql);
    return complete(irp, status, command ? command->outputLength : 0);
}

static NTSTATUS countHandle(PDEVICE_OBJECT device, PIRP irp, BOOLEAN opened)
{
    Bus* bus = device->DeviceExtension;
    KIRQL irql;
    KeAcquireSpinLock(&bus->lock, &irql);
    if (opened)
        ++bus->record.opens;
    else
        ++bus->record.closes;
    KeReleaseSpinLock(&bus->lock, irql);
    return complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS dispatchCreate(PDEVICE_OBJECT device, PIRP irp)
{
    return countHandle(device, irp, TRUE);
}

static NTSTATUS dispatchClose(PDEVICE_OBJECT device, PIRP irp)
{
    return countHandle(device, irp, FALSE);
}

/* text := prefix followed by the decimal bus number. */
static void nameForBus(WCHAR* text, ULONG capacity, const WCHAR* prefix, ULONG bus)
{
    ULONG length = 0;
    while (prefix[length] && length + 3 < capacity) {
        text[length] = prefix[length];
        ++length;
    }
    if (bus >= 10)
        text[length++] = (WCHAR)(L'0' + bus / 10);
    text[length++] = (WCHAR)(L'0' + bus % 10);
    text[length] = 0;
}

static NTSTATUS createBus(PDRIVER_OBJECT driver, ULONG number)
{
    WCHAR deviceText[64];
    UNICODE_STRING deviceName;
    PDEVICE_OBJECT device;
    Bus* bus;
    NTSTATUS status;

    nameForBus(deviceText, 64, L"\\Device\\KestrumTestBus", number);
    RtlInitUnicodeString(&deviceName, deviceText);
    status = IoCreateDevice(driver, sizeof(Bus), &deviceName, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
    if (!NT_SUCCESS(status))
        return status;

    bus = device->DeviceExtension;
    RtlZeroMemory(bus, sizeof *bus);
    KeInitializeSpinLock(&bus->lock);
    bus->record.bus = number;
    nameForBus(bus->linkText, 64, L"\\DosDevices\\KestrumAudioBus", number);
    RtlInitUnicodeString(&bus->link, bus->linkText);
    status = IoCreateSymbolicLink(&bus->link, &deviceName);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(device);
        return status;
    }
    device->Flags |= DO_BUFFERED_IO;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

static void unload(PDRIVER_OBJECT driver)
{
    PDEVICE_OBJECT device = driver->DeviceObject;
    while (device) {
        PDEVICE_OBJECT next = device->NextDevice;
        Bus* bus = device->DeviceExtension;
        IoDeleteSymbolicLink(&bus->link);
        IoDeleteDevice(device);
        device = next;
    }
}

NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
    ULONG buses = 0;
    NTSTATUS status = readServiceValue(registryPath, L"Buses", &buses);
    if (!NT_SUCCESS(status))
        return status;

    driver->DriverUnload = unload;
    driver->MajorFunction[IRP_MJ_CREATE] = dispatchCreate;
    driver->MajorFunction[IRP_MJ_CLOSE] = dispatchClose;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = dispatchDeviceControl;
    for (ULONG number = 0; number < BUS_COUNT; ++number) {
        if (!(buses & (1u << number)))
            continue;
        status = createBus(driver, number);
        if (!NT_SUCCESS(status)) {
            unload(driver);
            return status;
        }
    }
    return STATUS_SUCCESS;
}
