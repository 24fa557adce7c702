// Drives on the network.
//
// A port may map (TORVANE_COMn, [Ports] in ports.ini) to a network port text
// instead of a serial device:
//   tcp://HOST:PORT    raw bytes over TCP to a serial device server: RTU
//                      frames and bootloader lines pass unchanged; the
//                      server's own settings fix baud rate and parity.
//   mbtcp://HOST:PORT  a Modbus TCP gateway: the register link speaks Modbus
//                      TCP (the station is the unit identifier); the
//                      bootloader cannot be reached this way.
// HOST is a name, an IPv4 address or an IPv6 address in brackets
// ("mbtcp://[::1]:502"). The serial channel (CCOM) opens such a port as a TCP
// client (CTcpClientSet, kind 2): connect time-out, no Nagle delay, a server
// that closes or resets the connection is reported like a vanished serial
// device (the channel closes its end; the owner reopens).
#ifndef LINKCORE_TCPCHANNEL_H
#define LINKCORE_TCPCHANNEL_H

#include <string>
#include "LinkCoreExport.h"

class ACE_SOCK_Stream;

enum LinkPortKind
{
    LINK_PORT_BAD    = -1,   // a network port text that cannot be used
    LINK_PORT_SERIAL = 0,    // a serial device path
    LINK_PORT_TCP    = 1,    // tcp://HOST:PORT
    LINK_PORT_MBTCP  = 2     // mbtcp://HOST:PORT
};

struct LinkNetPort
{
    int          kind = LINK_PORT_SERIAL;
    std::string  host;
    unsigned int port = 0;
};

// Classifies a mapped port text. A text without "scheme://" is a serial
// device (LINK_PORT_SERIAL). tcp:// and mbtcp:// fill *out. Anything else
// with "://", or a network text without host or with a port outside 1 to
// 65535, is LINK_PORT_BAD with the reason in *why (out and why may be null).
LINKCORE_API int LinkCoreParsePort(const std::string& text, LinkNetPort* out, std::string* why);
// The kind of port number `port` as it maps now (LinkCoreSerialDevice).
LINKCORE_API int LinkCorePortKind(int port);

// Opens a TCP connection to `where` within timeoutMs (name resolution not
// counted), with TCP_NODELAY set and the socket blocking. false with the
// reason in *why ("host ... not found", "connection refused", "no answer
// within 3000 ms", ...). *connectUs: how long the connect took (one round
// trip to the far end).
LINKCORE_API bool LinkCoreTcpConnect(const LinkNetPort& where, unsigned int timeoutMs, ACE_SOCK_Stream& stream,
                                     std::string* why, long long* connectUs);

// The extra reply time a request gets over a network channel: twice the
// round trip measured at connect, at least LINK_NET_MIN_ALLOWANCE_MS (a
// serial device server forwards after its own packing pause), at most
// LINK_NET_MAX_ALLOWANCE_MS.
#define LINK_NET_MIN_ALLOWANCE_MS 20u
#define LINK_NET_MAX_ALLOWANCE_MS 2000u
LINKCORE_API unsigned int LinkCoreNetAllowanceMs(long long connectUs);

// What a protocol can learn about the channel it is bound to.
struct LinkChannelInfo
{
    int          channelKind = 0;      // CHANN_COM or CHANN_TCP_CLIENT
    int          portKind = LINK_PORT_SERIAL;
    unsigned int allowanceMs = 0;      // extra reply time; 0 on a serial port
    bool         fastRecv = false;     // the receive thread waits for the port
                                       // instead of polling it (byFastRecv)
};

// The channel of the template binding `owner` (CLinkCore::GetProtocol()), as
// of its last open. false when there is no channel.
LINKCORE_API bool ProtocolTemplateChannelInfo(void* owner, LinkChannelInfo* info);

#endif
