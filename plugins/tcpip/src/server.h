// The remote access server ("cv-tcpip"): makes this process's machine reachable by
// remote machine bridges.
#pragma once

#include <corvane.h>

namespace cvpl_tcpip {

#define CV_TCPIP_CLIENT_NAME_SIZE 64
#define CV_TCPIP_CLIENT_ADDRESS_SIZE 128

// What get client info fills for one connected client.
typedef struct CvTcpipClientInfo {
    char name[CV_TCPIP_CLIENT_NAME_SIZE];       // dotted IPv4 address
    char address[CV_TCPIP_CLIENT_ADDRESS_SIZE]; // "address:port", port in host order
} CvTcpipClientInfo;

CRT_STATIC_ASSERT(offsetof(CvTcpipClientInfo, name) == 0, "CvTcpipClientInfo.name");
CRT_STATIC_ASSERT(offsetof(CvTcpipClientInfo, address) == 64, "CvTcpipClientInfo.address");
CRT_STATIC_ASSERT(sizeof(CvTcpipClientInfo) == 192, "CvTcpipClientInfo size");

// Registers the server with the server manager (plug-in load); 1 or 0 with error.
int RegisterServer(CvError* error);
// Unregisters it (plug-in unload); the server manager stops it first.
int UnregisterServer(CvError* error);

// The TCP port the started server listens on (host order), 0 when not started.
// "ServerPort" 0 picks a free port; this tells which.
int ServerListeningPort();

}  // namespace cvpl_tcpip
