// Building and sending one CSMI request buffer through the kernel seam.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "csmi/csmi_wire.h"

namespace csmi {

// A request buffer of `size` bytes, zero-filled, whose header carries the
// signature, the 60-second time-out, the control code, return code 0 and the
// length of what follows the header.
std::vector<uint8_t> makeRequest(std::size_t size, uint32_t controlCode, const char* signature = CSMI_SIGNATURE_SAS);

// The header of a request buffer, copied out.
CsmiHeader headerOf(const std::vector<uint8_t>& buffer);

// Sends the buffer on an adapter's node and measures the call. 0, or the
// errno value of a request the driver refused (EIO when it set none).
int sendRequest(int fd, std::vector<uint8_t>& buffer, uint64_t& durationNs);

// The node of adapter `number`: the pattern with its one "%d" replaced.
std::string portNode(const std::string& pattern, int number);

// A node pattern is usable when it holds exactly one "%d" and no other '%'.
bool validPortPattern(const std::string& pattern);

}  // namespace csmi
