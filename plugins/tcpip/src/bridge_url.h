// Where a "cv-tcpip" machine URL points: cv-tcpip://host or cv-tcpip://host:port.
#pragma once

#include <corvane.h>

namespace cvpl_tcpip {

// Fills the server address (network byte order) from the URL's host portion;
// a URL without a port names the default server port. 0 with the error filled
// (code 2, the URL in the message) when it cannot.
int ParseMachineUrl(const char* url, InetAddress* server, CvError* error);

}  // namespace cvpl_tcpip
