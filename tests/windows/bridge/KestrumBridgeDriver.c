// A kernel driver for Wine that plays the interface's driver by handing each
// call to the Linux relay, which makes it on the POSIX stand-in's sockets.
// Each handle opened on a bus is one relay connection (so one connection to
// whatever serves that bus), each DeviceIoControl one request and reply on
// it, and closing the handle ends it. Wine runs drivers in a user process
// (winedevice.exe), which is what lets this one use Winsock. The relay's
// port is the DWORD "RelayPort" of the service key.
//
// Wine hands the open to a driver only after CreateFileW has returned, so an
// open cannot fail here. Instead the driver asks the relay, at start and then
// ten times a second, which buses are served, and keeps the DOS name
// \\.\KestrumAudioBusN only for those: opening any other one fails with
// "not found", as on the stand-in. An open the far side refuses all the
// same leaves a handle whose every call fails with its error.

#include <ddk/wdm.h>

#include "RelayLink.h"
#include "ServiceValue.h"

#define BUS_COUNT 16
#define WIRE_HEADER_BYTES 12
// The relay answers within the stand-in's own two seconds; this only ends
// the wait for a relay that died.
#define RELAY_LIMIT_MS 3000
#define ERROR_GEN_FAILURE_ 31ul
#define ERROR_DEVICE_NOT_CONNECTED_ 1167ul

#define WATCH_PERIOD_MS 100
#define POOL_TAG 0x6772624Bul // "Kbrg"

// In ntifs.h, which does not mix with wdm.h.
NTSYSAPI NTSTATUS NTAPI ZwWaitForSingleObject(HANDLE handle, BOOLEAN alertable, PLARGE_INTEGER timeout);

typedef struct Bus {
    ULONG number;
    BOOLEAN linked; // its DOS name exists
    UNICODE_STRING deviceName;
    WCHAR deviceText[64];
    UNICODE_STRING link;
    WCHAR linkText[64];
} Bus;

static ULONG relayPort;
static RelayLink watchLink = RELAY_NO_LINK;
static KEVENT stopWatching;
static HANDLE watcher;

// A status that Wine's DeviceIoControl and CreateFileW turn back into
// exactly this Windows error number (the NTWIN32 facility).
static NTSTATUS statusOf(ULONG error)
{
    return error ? (NTSTATUS)(0xC0070000ul | (error & 0xFFFFul)) : STATUS_SUCCESS;
}

static NTSTATUS complete(PIRP irp, ULONG error, ULONG_PTR returned)
{
    const NTSTATUS status = statusOf(error);
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = error ? 0 : returned;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static void putWord(UCHAR* at, ULONG value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = (UCHAR)(value >> (8 * i));
}

static ULONG wordAt(const UCHAR* at)
{
    return at[0] | (ULONG)at[1] << 8 | (ULONG)at[2] << 16 | (ULONG)at[3] << 24;
}

// text := prefix followed by the decimal bus number.
static void nameForBus(WCHAR* text, const WCHAR* prefix, ULONG bus)
{
    ULONG length = 0;
    while (prefix[length]) {
        text[length] = prefix[length];
        ++length;
    }
    if (bus >= 10)
        text[length++] = (WCHAR)(L'0' + bus / 10);
    text[length++] = (WCHAR)(L'0' + bus % 10);
    text[length] = 0;
}

// What a handle holds: its relay connection, or why it has none.
typedef struct Handle {
    RelayLink link;
    ULONG openError;
} Handle;

static NTSTATUS dispatchCreate(PDEVICE_OBJECT device, PIRP irp)
{
    static const char prefix[] = "device \\\\.\\KestrumAudioBus";
    const ULONG number = ((const Bus*)device->DeviceExtension)->number;
    Handle* handle = ExAllocatePoolWithTag(NonPagedPool, sizeof(Handle), POOL_TAG);
    char request[sizeof prefix + 2];
    ULONG at = sizeof prefix - 1;

    if (!handle)
        return complete(irp, ERROR_GEN_FAILURE_, 0);
    RtlCopyMemory(request, prefix, at);
    if (number >= 10)
        request[at++] = (char)('0' + number / 10);
    request[at++] = (char)('0' + number % 10);
    request[at] = 0;
    handle->link = relayOpen((unsigned short)relayPort, request, RELAY_LIMIT_MS, &handle->openError);
    IoGetCurrentIrpStackLocation(irp)->FileObject->FsContext = handle;
    return complete(irp, 0, 0);
}

static NTSTATUS dispatchClose(PDEVICE_OBJECT device, PIRP irp)
{
    Handle* handle = IoGetCurrentIrpStackLocation(irp)->FileObject->FsContext;
    UNREFERENCED_PARAMETER(device);
    if (handle->link != RELAY_NO_LINK)
        relayClose(handle->link);
    ExFreePoolWithTag(handle, POOL_TAG);
    return complete(irp, 0, 0);
}

// Buffered I/O: the input and the output share one system buffer. A
// connection that lost its place in the exchange is ended, as the stand-in
// ends it, so every later call fails too.
static NTSTATUS dispatchDeviceControl(PDEVICE_OBJECT device, PIRP irp)
{
    const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const Handle* handle = stack->FileObject->FsContext;
    const ULONG inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG capacity = stack->Parameters.DeviceIoControl.OutputBufferLength;
    UCHAR* buffer = irp->AssociatedIrp.SystemBuffer;
    UCHAR header[WIRE_HEADER_BYTES];
    ULONG returned = 0;
    ULONG error;

    UNREFERENCED_PARAMETER(device);
    if (handle->link == RELAY_NO_LINK)
        return complete(irp, handle->openError, 0);
    putWord(header, stack->Parameters.DeviceIoControl.IoControlCode);
    putWord(header + 4, inputLength);
    putWord(header + 8, capacity);
    error = relaySend(handle->link, header, WIRE_HEADER_BYTES, buffer, inputLength, RELAY_LIMIT_MS);
    if (!error)
        error = relayReceive(handle->link, header, WIRE_HEADER_BYTES, buffer, capacity, &returned, RELAY_LIMIT_MS);
    if (!error && (wordAt(header) > 1 || wordAt(header + 8) != returned))
        error = ERROR_DEVICE_NOT_CONNECTED_;
    if (error) {
        relayShutdown(handle->link);
        return complete(irp, error, 0);
    }
    if (wordAt(header) == 0)
        return complete(irp, wordAt(header + 4) ? wordAt(header + 4) : ERROR_GEN_FAILURE_, 0);
    return complete(irp, 0, returned);
}

// Gives each bus its DOS name while it is served, and takes it away when
// not. A relay that does not answer serves none.
static void linkServedBuses(PDRIVER_OBJECT driver)
{
    UCHAR answer[4];
    ULONG served = 0;
    ULONG error = 0;
    ULONG rest;

    if (watchLink == RELAY_NO_LINK)
        watchLink = relayOpen((unsigned short)relayPort, "buses", RELAY_LIMIT_MS, &error);
    if (watchLink != RELAY_NO_LINK) {
        if (relaySend(watchLink, NULL, 0, NULL, 0, RELAY_LIMIT_MS) == 0
            && relayReceive(watchLink, answer, 4, NULL, 0, &rest, RELAY_LIMIT_MS) == 0) {
            served = wordAt(answer);
        } else {
            relayClose(watchLink);
            watchLink = RELAY_NO_LINK;
        }
    }
    for (PDEVICE_OBJECT device = driver->DeviceObject; device; device = device->NextDevice) {
        Bus* bus = device->DeviceExtension;
        const BOOLEAN wanted = (served >> bus->number) & 1;
        if (wanted && !bus->linked)
            bus->linked = NT_SUCCESS(IoCreateSymbolicLink(&bus->link, &bus->deviceName));
        else if (!wanted && bus->linked)
            bus->linked = !NT_SUCCESS(IoDeleteSymbolicLink(&bus->link));
    }
}

static void watchBuses(PVOID context)
{
    LARGE_INTEGER period;
    period.QuadPart = -10000LL * WATCH_PERIOD_MS;
    while (KeWaitForSingleObject(&stopWatching, Executive, KernelMode, FALSE, &period) == STATUS_TIMEOUT)
        linkServedBuses(context);
    PsTerminateSystemThread(STATUS_SUCCESS);
}

static NTSTATUS createBus(PDRIVER_OBJECT driver, ULONG number)
{
    PDEVICE_OBJECT device;
    Bus* bus;
    UNICODE_STRING deviceName;
    WCHAR deviceText[64];
    NTSTATUS status;

    nameForBus(deviceText, L"\\Device\\KestrumBridgeBus", number);
    RtlInitUnicodeString(&deviceName, deviceText);
    status = IoCreateDevice(driver, sizeof(Bus), &deviceName, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
    if (!NT_SUCCESS(status))
        return status;
    bus = device->DeviceExtension;
    RtlZeroMemory(bus, sizeof *bus);
    bus->number = number;
    RtlCopyMemory(bus->deviceText, deviceText, sizeof deviceText);
    RtlInitUnicodeString(&bus->deviceName, bus->deviceText);
    nameForBus(bus->linkText, L"\\DosDevices\\KestrumAudioBus", number);
    RtlInitUnicodeString(&bus->link, bus->linkText);
    device->Flags |= DO_BUFFERED_IO;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

static void unload(PDRIVER_OBJECT driver)
{
    PDEVICE_OBJECT device = driver->DeviceObject;
    if (watcher) {
        KeSetEvent(&stopWatching, IO_NO_INCREMENT, FALSE);
        ZwWaitForSingleObject(watcher, FALSE, NULL);
        ZwClose(watcher);
    }
    if (watchLink != RELAY_NO_LINK)
        relayClose(watchLink);
    while (device) {
        PDEVICE_OBJECT next = device->NextDevice;
        Bus* bus = device->DeviceExtension;
        if (bus->linked)
            IoDeleteSymbolicLink(&bus->link);
        IoDeleteDevice(device);
        device = next;
    }
}

// The buses are named before the driver reports that it runs, so that a
// program started after it finds them.
NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
    NTSTATUS status = readServiceValue(registryPath, L"RelayPort", &relayPort);
    if (!NT_SUCCESS(status))
        return status;
    if (!relayStartup())
        return STATUS_UNSUCCESSFUL;

    driver->DriverUnload = unload;
    driver->MajorFunction[IRP_MJ_CREATE] = dispatchCreate;
    driver->MajorFunction[IRP_MJ_CLOSE] = dispatchClose;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = dispatchDeviceControl;
    for (ULONG number = 0; number < BUS_COUNT && NT_SUCCESS(status); ++number)
        status = createBus(driver, number);
    if (NT_SUCCESS(status)) {
        linkServedBuses(driver);
        KeInitializeEvent(&stopWatching, NotificationEvent, FALSE);
        status = PsCreateSystemThread(&watcher, THREAD_ALL_ACCESS, NULL, NULL, NULL, watchBuses, driver);
    }
    if (!NT_SUCCESS(status)) {
        watcher = NULL;
        unload(driver);
    }
    return status;
}
