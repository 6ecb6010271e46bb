// CSMI request buffers.
#include "csmi_request.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "kernel_io/kernel_io.h"

namespace csmi {

std::vector<uint8_t> makeRequest(std::size_t size, uint32_t controlCode, const char* signature) {
    std::vector<uint8_t> buffer(size, 0);
    CsmiHeader header{};
    header.headerLength = CSMI_HEADER_SIZE;
    // Seven letters and the NUL that ends them.
    std::memcpy(header.signature, signature, std::min(std::strlen(signature) + 1, sizeof header.signature));
    header.timeout = CSMI_TIMEOUT_SECONDS;
    header.controlCode = controlCode;
    header.returnCode = 0;
    header.length = static_cast<uint32_t>(size - CSMI_HEADER_SIZE);
    std::memcpy(buffer.data(), &header, sizeof header);
    return buffer;
}

CsmiHeader headerOf(const std::vector<uint8_t>& buffer) {
    CsmiHeader header{};
    std::memcpy(&header, buffer.data(), sizeof header);
    return header;
}

int sendRequest(int fd, std::vector<uint8_t>& buffer, uint64_t& durationNs) {
    const auto start = std::chrono::steady_clock::now();
    errno = 0;
    const int rc = KernelIo_CsmiRequest(fd, buffer.data());
    const int savedErrno = errno;
    durationNs = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count());
    if (rc >= 0) return 0;
    return savedErrno != 0 ? savedErrno : EIO;
}

bool validPortPattern(const std::string& pattern) {
    const std::size_t at = pattern.find("%d");
    if (at == std::string::npos) return false;
    std::string rest = pattern.substr(0, at) + pattern.substr(at + 2);
    return rest.find('%') == std::string::npos;
}

std::string portNode(const std::string& pattern, int number) {
    const std::size_t at = pattern.find("%d");
    return pattern.substr(0, at) + std::to_string(number) + pattern.substr(at + 2);
}

}  // namespace csmi
