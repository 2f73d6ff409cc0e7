#include "RelayLink.h"

#include <winsock2.h>

#define ERROR_SEM_TIMEOUT_ 121ul
#define ERROR_DEVICE_NOT_CONNECTED_ 1167ul

int relayStartup(void)
{
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

// Wine 8 ignores SO_RCVTIMEO and SO_SNDTIMEO: each wait is a select. 0 when
// the socket is ready, else the Windows error number.
static unsigned long waitReady(SOCKET socket, int forWriting, unsigned long timeoutMs)
{
    fd_set set;
    struct timeval limit = { (long)(timeoutMs / 1000), (long)(timeoutMs % 1000) * 1000 };
    int ready;
    FD_ZERO(&set);
    FD_SET(socket, &set);
    ready = select(0, forWriting ? NULL : &set, forWriting ? &set : NULL, NULL, timeoutMs ? &limit : NULL);
    return ready > 0 ? 0 : ready == 0 ? ERROR_SEM_TIMEOUT_ : ERROR_DEVICE_NOT_CONNECTED_;
}

static unsigned long sendAll(SOCKET socket, const void* data, unsigned long length, unsigned long timeoutMs)
{
    const char* at = data;
    while (length > 0) {
        const unsigned long error = waitReady(socket, 1, timeoutMs);
        const int sent = error ? 0 : send(socket, at, (int)length, 0);
        if (error)
            return error;
        if (sent <= 0)
            return ERROR_DEVICE_NOT_CONNECTED_;
        at += sent;
        length -= (unsigned long)sent;
    }
    return 0;
}

static unsigned long receiveAll(SOCKET socket, void* data, unsigned long length, unsigned long timeoutMs)
{
    char* at = data;
    while (length > 0) {
        const unsigned long error = waitReady(socket, 0, timeoutMs);
        const int got = error ? 0 : recv(socket, at, (int)length, 0);
        if (error)
            return error;
        if (got <= 0)
            return ERROR_DEVICE_NOT_CONNECTED_;
        at += got;
        length -= (unsigned long)got;
    }
    return 0;
}

static void putWord(unsigned char* at, unsigned long value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = (unsigned char)(value >> (8 * i));
}

static unsigned long wordAt(const unsigned char* at)
{
    return at[0] | (unsigned long)at[1] << 8 | (unsigned long)at[2] << 16 | (unsigned long)at[3] << 24;
}

RelayLink relayOpen(unsigned short port, const char* request, unsigned long timeoutMs, unsigned long* error)
{
    struct sockaddr_in address = { 0 };
    const BOOL on = TRUE;
    unsigned long length = 0;
    unsigned char answer[4];
    SOCKET socket = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, NULL, 0, 0);

    *error = ERROR_DEVICE_NOT_CONNECTED_;
    if (socket == INVALID_SOCKET)
        return RELAY_NO_LINK;
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, (const char*)&on, sizeof on);
    while (request[length])
        ++length;
    if (connect(socket, (struct sockaddr*)&address, sizeof address) == 0) {
        *error = relaySend(socket, request, length, NULL, 0, timeoutMs);
        if (!*error)
            *error = relayReceive(socket, answer, 4, NULL, 0, &length, timeoutMs);
        if (!*error)
            *error = wordAt(answer);
    }
    if (*error != 0) {
        closesocket(socket);
        return RELAY_NO_LINK;
    }
    return socket;
}

unsigned long relaySend(RelayLink link, const void* head, unsigned long headLength, const void* rest, unsigned long restLength,
                        unsigned long timeoutMs)
{
    unsigned char length[4];
    unsigned long error;
    putWord(length, headLength + restLength);
    error = sendAll(link, length, 4, timeoutMs);
    if (!error)
        error = sendAll(link, head, headLength, timeoutMs);
    if (!error)
        error = sendAll(link, rest, restLength, timeoutMs);
    return error;
}

unsigned long relayReceive(RelayLink link, void* head, unsigned long headLength, void* rest, unsigned long restCapacity,
                           unsigned long* restLength, unsigned long timeoutMs)
{
    unsigned char length[4];
    unsigned long error = receiveAll(link, length, 4, timeoutMs);
    if (error)
        return error;
    if (wordAt(length) < headLength || wordAt(length) - headLength > restCapacity)
        return ERROR_DEVICE_NOT_CONNECTED_;
    *restLength = wordAt(length) - headLength;
    error = receiveAll(link, head, headLength, timeoutMs);
    return error ? error : receiveAll(link, rest, *restLength, timeoutMs);
}

void relayShutdown(RelayLink link)
{
    shutdown(link, SD_BOTH);
}

void relayClose(RelayLink link)
{
    closesocket(link);
}
