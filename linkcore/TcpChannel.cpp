// Network port texts and the TCP client connection of the channel.
#include "TcpChannel.h"
#include "CCOM.h"

#include <ace/INET_Addr.h>
#include <ace/SOCK_Connector.h>
#include <ace/SOCK_Stream.h>
#include <ace/OS_NS_errno.h>
#include <ace/OS_NS_string.h>

#include <chrono>
#include <cstdlib>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <strings.h>

namespace {

const char* const kSchemeTcp = "tcp://";
const char* const kSchemeMbtcp = "mbtcp://";

bool StartsWithNoCase(const std::string& text, const char* prefix)
{
    const size_t n = ACE_OS::strlen(prefix);
    return text.size() >= n && ::strncasecmp(text.c_str(), prefix, n) == 0;
}

int Bad(std::string* why, const std::string& text)
{
    if (why != nullptr)
        *why = text;
    return LINK_PORT_BAD;
}

}  // namespace

int LinkCoreParsePort(const std::string& text, LinkNetPort* out, std::string* why)
{
    int kind;
    size_t skip;
    if (StartsWithNoCase(text, kSchemeTcp))
    {
        kind = LINK_PORT_TCP;
        skip = ACE_OS::strlen(kSchemeTcp);
    }
    else if (StartsWithNoCase(text, kSchemeMbtcp))
    {
        kind = LINK_PORT_MBTCP;
        skip = ACE_OS::strlen(kSchemeMbtcp);
    }
    else if (text.find("://") != std::string::npos)
        return Bad(why, "\"" + text + "\" is no port: network ports are tcp://HOST:PORT or mbtcp://HOST:PORT");
    else
        return LINK_PORT_SERIAL;

    const std::string rest = text.substr(skip);
    const std::string form = "\"" + text + "\" is no network port: write " +
                             std::string(kind == LINK_PORT_TCP ? "tcp" : "mbtcp") + "://HOST:PORT";
    std::string host, portText;
    if (!rest.empty() && rest[0] == '[')
    {
        // [IPv6]:PORT
        const size_t close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':')
            return Bad(why, form);
        host = rest.substr(1, close - 1);
        portText = rest.substr(close + 2);
    }
    else
    {
        const size_t colon = rest.rfind(':');
        if (colon == std::string::npos || rest.find(':') != colon)
            return Bad(why, form);
        host = rest.substr(0, colon);
        portText = rest.substr(colon + 1);
    }
    if (host.empty() || host.find_first_of("/ \t") != std::string::npos)
        return Bad(why, form);
    if (portText.empty() || portText.size() > 5 || portText.find_first_not_of("0123456789") != std::string::npos)
        return Bad(why, form);
    const long port = std::strtol(portText.c_str(), nullptr, 10);
    if (port < 1 || port > 65535)
        return Bad(why, "\"" + text + "\": the TCP port must be 1 to 65535");
    if (out != nullptr)
    {
        out->kind = kind;
        out->host = host;
        out->port = static_cast<unsigned int>(port);
    }
    return kind;
}

int LinkCorePortKind(int port)
{
    return LinkCoreParsePort(LinkCoreSerialDevice(port), nullptr, nullptr);
}

bool LinkCoreTcpConnect(const LinkNetPort& where, unsigned int timeoutMs, ACE_SOCK_Stream& stream, std::string* why,
                        long long* connectUs)
{
    ACE_INET_Addr addr;
    if (addr.set(static_cast<u_short>(where.port), where.host.c_str(), 1, AF_UNSPEC) == -1)
    {
        if (why != nullptr)
            *why = "host " + where.host + " not found";
        return false;
    }
    ACE_SOCK_Connector connector;
    const ACE_Time_Value timeout(static_cast<time_t>(timeoutMs / 1000), static_cast<suseconds_t>((timeoutMs % 1000) * 1000));
    const auto start = std::chrono::steady_clock::now();
    if (connector.connect(stream, addr, &timeout) == -1)
    {
        const int err = errno;
        stream.close();
        if (why != nullptr)
        {
            if (err == ETIME || err == ETIMEDOUT || err == EWOULDBLOCK)
                *why = "no answer within " + std::to_string(timeoutMs) + " ms";
            else if (err == ECONNREFUSED)
                *why = "connection refused (nothing listens on port " + std::to_string(where.port) + ")";
            else
                *why = ACE_OS::strerror(err);
        }
        return false;
    }
    const auto took = std::chrono::steady_clock::now() - start;
    if (connectUs != nullptr)
        *connectUs = std::chrono::duration_cast<std::chrono::microseconds>(took).count();
    // Requests are small and each waits for its reply: Nagle's algorithm
    // would hold the next one back for the previous reply's acknowledgement.
    int one = 1;
    stream.set_option(ACE_IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    stream.disable(ACE_NONBLOCK);
    return true;
}

unsigned int LinkCoreNetAllowanceMs(long long connectUs)
{
    if (connectUs < 0)
        connectUs = 0;
    const long long twice = (2 * connectUs + 999) / 1000;
    if (twice < LINK_NET_MIN_ALLOWANCE_MS)
        return LINK_NET_MIN_ALLOWANCE_MS;
    if (twice > LINK_NET_MAX_ALLOWANCE_MS)
        return LINK_NET_MAX_ALLOWANCE_MS;
    return static_cast<unsigned int>(twice);
}
