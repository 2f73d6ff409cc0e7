#pragma once

/* What the bridge driver reads from its service key: one DWORD value. Plain
 * C, as the driver is. */

#include <ddk/wdm.h>

/* The registry path is counted, not terminated: copy it for the query. */
static inline NTSTATUS readServiceValue(PCUNICODE_STRING registryPath, PCWSTR name, ULONG* value)
{
    WCHAR path[256];
    RTL_QUERY_REGISTRY_TABLE query[2];
    const ULONG length = registryPath->Length / sizeof(WCHAR);

    if (length >= sizeof path / sizeof path[0])
        return STATUS_NAME_TOO_LONG;
    RtlCopyMemory(path, registryPath->Buffer, length * sizeof(WCHAR));
    path[length] = 0;

    RtlZeroMemory(query, sizeof query);
    query[0].Flags = RTL_QUERY_REGISTRY_DIRECT | RTL_QUERY_REGISTRY_REQUIRED;
    query[0].Name = (PWSTR)name;
    query[0].EntryContext = value;
    return RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, path, query, NULL, NULL);
}
