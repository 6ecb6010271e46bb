// Start settings of the server: its two ports, the registry server location, and
// who may reach it: the address it listens on and the clients it accepts.
#include <arpa/inet.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "rpc_protocol.h"
#include "server_state.h"

namespace cvpl_tcpip::server {

namespace {

constexpr const char* kUndefined = "<undefined>";

// "host" or "host:port"; the default registry port applies without one.
int ParseRegistryLocation(const char* value, RegistryLocation& location, CvError* error) {
    location = RegistryLocation{};
    strncpy(location.text, value, sizeof location.text - 1);
    const char* text = location.text;

    char host[sizeof location.text] = {};
    const char* colon = strchr(text, ':');
    const char* portText = nullptr;
    if (colon != nullptr) {
        if (colon[1] == '\0')
            return CvSetError(error, CV_ERROR_FAILED, "Unable to extract port from the registry server location '%s'",
                              text);
        memcpy(host, text, static_cast<size_t>(colon - text));
        portText = colon + 1;
    } else {
        strcpy(host, text);
    }

    uint32_t address = 0;
    if (!InetIpStringToNum(host, &address) && !InetIpNumByName(host, &address))
        return CvSetError(error, CV_ERROR_FAILED,
                          "Unable to parse address portion of registry server location '%s'", text);

    long port = rpc::kDefaultRegistryPort;
    if (portText != nullptr) {
        char* end = nullptr;
        errno = 0;
        port = strtol(portText, &end, 10);
        if (end == portText || *end != '\0')
            return CvSetError(error, CV_ERROR_FAILED, "Unable to parse port portion of registry server location '%s'",
                              text);
        if (errno == ERANGE || port < 0 || port > 65535)
            return CvSetError(error, CV_ERROR_FAILED,
                              "Host port too large (must be a 16-bit number) in registry server location '%s': %d",
                              text, static_cast<int>(port));
    }
    location.present = true;
    location.address.address = address;
    location.address.port = htons(static_cast<uint16_t>(port));
    return 1;
}

// "ListenAddress": one dotted IPv4 address of this machine, or every address.
int ParseListenAddress(const char* value, ServerState& state, CvError* error) {
    state.listenAddress = htonl(INADDR_ANY);
    if (value == nullptr || strcmp(value, kUndefined) == 0 || value[0] == '\0') return 1;
    uint32_t address = 0;
    if (!InetIpStringToNum(value, &address))
        return CvSetError(error, CV_ERROR_FAILED, "Unable to parse listen address '%s'", value);
    state.listenAddress = address;
    return 1;
}

// "AllowedClients": dotted IPv4 addresses separated by commas or blanks; absent,
// every client may connect.
int ParseAllowedClients(const char* value, ServerState& state, CvError* error) {
    state.allowedClients.clear();
    state.allowListSet = false;
    if (value == nullptr || strcmp(value, kUndefined) == 0) return 1;
    state.allowListSet = true;
    const char* cursor = value;
    while (*cursor != '\0') {
        const size_t skip = strspn(cursor, ", \t");
        cursor += skip;
        const size_t length = strcspn(cursor, ", \t");
        if (length == 0) break;
        char entry[64] = {};
        uint32_t address = 0;
        if (length >= sizeof entry || (memcpy(entry, cursor, length), !InetIpStringToNum(entry, &address)))
            return CvSetError(error, CV_ERROR_FAILED, "Unable to parse allowed client address '%.*s'",
                              static_cast<int>(std::min<size_t>(length, 63)), cursor);
        state.allowedClients.push_back(address);
        cursor += length;
    }
    return 1;
}

}  // namespace

bool ClientAllowed(const ServerState& state, uint32_t address) {
    if (!state.allowListSet) return true;
    return std::find(state.allowedClients.begin(), state.allowedClients.end(), address) != state.allowedClients.end();
}

int ReadSettings(const StringMap* settings, ServerState& state, CvError* error) {
    state.serverPort = rpc::kDefaultServerPort;
    state.broadcastPort = rpc::kDefaultBroadcastPort;
    state.registry = RegistryLocation{};
    state.listenAddress = htonl(INADDR_ANY);
    state.allowedClients.clear();
    state.allowListSet = false;
    if (settings == nullptr) return 1;
    state.serverPort = StringMap_GetInt32(settings, "ServerPort", rpc::kDefaultServerPort);
    state.broadcastPort = StringMap_GetInt32(settings, "BroadcastPort", rpc::kDefaultBroadcastPort);
    // A port beyond 16 bits would silently bind another port once truncated.
    if (state.serverPort < 0 || state.serverPort > 65535)
        return CvSetError(error, CV_ERROR_FAILED, "Server port out of range: %d", state.serverPort);
    if (state.broadcastPort < 0 || state.broadcastPort > 65535)
        return CvSetError(error, CV_ERROR_FAILED, "Broadcast port out of range: %d", state.broadcastPort);
    if (!ParseListenAddress(StringMap_GetString(settings, "ListenAddress", kUndefined), state, error)) return 0;
    if (!ParseAllowedClients(StringMap_GetString(settings, "AllowedClients", kUndefined), state, error)) return 0;
    const char* registry = StringMap_GetString(settings, "RegistryServer", kUndefined);
    if (registry != nullptr && strcmp(registry, kUndefined) != 0)
        return ParseRegistryLocation(registry, state.registry, error);
    return 1;
}

}  // namespace cvpl_tcpip::server
