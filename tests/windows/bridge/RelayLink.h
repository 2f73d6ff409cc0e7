#pragma once

// The Windows end of a connection to the Linux relay (tests/windows/relay):
// length-framed messages over loopback TCP. Plain C with no C runtime, so
// that the bridge driver links it too; the Winsock types stay inside.

#ifdef __cplusplus
extern "C" {
#endif

typedef unsigned long long RelayLink;
#define RELAY_NO_LINK (~0ull)

// Once per process, before any other call. False when Winsock cannot start.
int relayStartup(void);

// Connects to the relay on this port, sends request as the first frame
// ("device \\.\KestrumAudioBus0", ...) and reads the Windows error number of
// opening it into *error. RELAY_NO_LINK when it failed: *error is the
// relay's answer, 121 when it gave none within timeoutMs, or 1167 when no
// relay took the connection. Every timeoutMs below is how long the socket
// may stay stuck; 0: no limit.
RelayLink relayOpen(unsigned short port, const char* request, unsigned long timeoutMs, unsigned long* error);

// One frame made of two parts (either may be empty). 0 on success, else the
// Windows error number: 121 when the limit ran out, 1167 otherwise.
unsigned long relaySend(RelayLink link, const void* head, unsigned long headLength,
                        const void* rest, unsigned long restLength, unsigned long timeoutMs);

// One frame: its first headLength bytes into head, the rest (at most
// restCapacity bytes) into rest, its size in *restLength. A frame shorter
// than the head or longer than both fails with 1167.
unsigned long relayReceive(RelayLink link, void* head, unsigned long headLength,
                           void* rest, unsigned long restCapacity, unsigned long* restLength,
                           unsigned long timeoutMs);

// Ends the connection: later sends and receives fail, and the relay sees it
// hang up. relayClose also frees it.
void relayShutdown(RelayLink link);
void relayClose(RelayLink link);

#ifdef __cplusplus
}
#endif
