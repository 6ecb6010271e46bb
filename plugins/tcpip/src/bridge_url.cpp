#include "bridge_url.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "rpc_protocol.h"

namespace cvpl_tcpip {

int ParseMachineUrl(const char* url, InetAddress* server, CvError* error)
{
    char hostPortion[256];
    if (CvUtil_URLExtractHost(url, hostPortion, sizeof hostPortion) == 0)
        return CvSetThreadError(error, CV_ERROR_FAILED, "Unable to extract the host portion of URL '%s'", url);

    // The host ends at the first colon; the port is what follows the last one.
    std::string host = hostPortion;
    const char* portText = nullptr;
    if (char* firstColon = std::strchr(hostPortion, ':'); firstColon != nullptr) {
        const char* lastColon = std::strrchr(hostPortion, ':');
        if (lastColon[1] == '\0')
            return CvSetThreadError(error, CV_ERROR_FAILED, "Unable to extract port from the host portion of URL '%s'",
                                    url);
        host.assign(hostPortion, static_cast<std::size_t>(firstColon - hostPortion));
        portText = lastColon + 1;
    }

    uint32_t address = 0;
    if (InetIpStringToNum(host.c_str(), &address) == 0 && InetIpNumByName(host.c_str(), &address) == 0)
        return CvSetThreadError(error, CV_ERROR_FAILED, "Unable to parse host address portion of URL '%s'", url);

    long port = rpc::kDefaultServerPort;
    if (portText != nullptr) {
        char* end = nullptr;
        errno = 0;
        port = std::strtol(portText, &end, 10);
        if (end == portText || *end != '\0')
            return CvSetThreadError(error, CV_ERROR_FAILED, "Unable to parse host port portion of URL '%s'", url);
        if (errno == ERANGE || port < 0 || port > 65535)
            return CvSetThreadError(error, CV_ERROR_FAILED,
                                    "Host port too large (must be a 16-bit number) in url '%s': %d", url,
                                    static_cast<int>(port));
    }
    server->address = address;
    server->port = htons(static_cast<uint16_t>(port));
    return CvSetNoThreadError(error);
}

}  // namespace cvpl_tcpip
