// IPv4 address conversion and name resolution.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <string.h>

#include "cvcrt/net.h"

int InetIpStringToNum(const char* text, uint32_t* address) {
    if (text == nullptr || address == nullptr) return 0;
    in_addr parsed{};
    // Only the strict dotted form counts; the all-ones address doubles as the
    // platform's "no address" value and is refused as well.
    if (inet_pton(AF_INET, text, &parsed) != 1 || parsed.s_addr == INADDR_NONE) return 0;
    *address = parsed.s_addr;
    return 1;
}

const char* InetIpNumToString(uint32_t address) {
    static thread_local char text[INET_ADDRSTRLEN];
    in_addr value{};
    value.s_addr = address;
    if (inet_ntop(AF_INET, &value, text, sizeof text) == nullptr) text[0] = '\0';
    return text;
}

int InetIpNumByName(const char* hostName, uint32_t* address) {
    if (hostName == nullptr || address == nullptr) return 0;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(hostName, nullptr, &hints, &found) != 0 || found == nullptr) return 0;
    sockaddr_in first{};
    memcpy(&first, found->ai_addr, sizeof first);
    freeaddrinfo(found);
    *address = first.sin_addr.s_addr;
    return 1;
}
