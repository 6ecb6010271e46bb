/* Machine services (services of the computer as a whole) and servers that make
 * this process's machine reachable from elsewhere. */
#ifndef CORVANE_CV_SERVER_H
#define CORVANE_CV_SERVER_H

#include "cv_core.h"
#include "cv_resource.h"

#define CV_SERVER_NAME_SIZE 64
#define CV_SERVER_DESCRIPTION_SIZE 128
#define CV_SERVER_PROTOCOL_SIZE 64

/* ---- Machine service manager ---------------------------------------------- */

/* Machine services use CvServiceDescriptor, CvServiceInfo, CvCommand and
 * CvCommandCompletion exactly like resource services. */
CV_API void CvMachineServiceManager_Initialize(void);
CV_API int CvMachineServiceManager_Uninitialize(CvError* error);
CV_API int CvMachineServiceManager_GetMachineServiceList(CvUIDList* list, CvError* error);
/* Byte-wise, case-sensitive; CV_UID_NONE and success when nothing matches. */
CV_API int CvMachineServiceManager_LookupMachineService(const char* serviceType, CvUID* service, CvError* error);
CV_API int CvMachineServiceManager_Register(const CvServiceDescriptor* descriptor, CvUID* service, CvError* error);
CV_API int CvMachineServiceManager_Unregister(CvUID service, CvError* error);

/* ---- Machine services ------------------------------------------------------ */

/* The client UID is accepted and not used. */
CV_API int CvMachineService_GetInfo(CvUID service, CvServiceInfo* info, CvError* error);
CV_API int CvMachineService_ExecuteCommand(CvUID service, CvUID client, CvCommand* command, CvError* error);
CV_API int CvMachineService_SubmitCommand(CvUID service, CvUID client, CvCommand* command,
                                          CvCommandCompletion* completion, CvError* error);
CV_API int CvMachineService_AbortCommand(CvUID service, CvUID client, uint32_t tag, CvError* error);
/* Called by a service once for every command whose submit it accepted, after
 * the completion function has run. */
CV_API void CvMachineService_NotifyCommandCompleted(CvUID service);

/* ---- Servers --------------------------------------------------------------- */

typedef struct CvServerInfo {
    char name[CV_SERVER_NAME_SIZE];               /* "TCP/IP Access Server" */
    char description[CV_SERVER_DESCRIPTION_SIZE];
    char protocol[CV_SERVER_PROTOCOL_SIZE];       /* "cv-tcpip" */
} CvServerInfo;

CRT_STATIC_ASSERT(offsetof(CvServerInfo, name) == 0, "CvServerInfo.name");
CRT_STATIC_ASSERT(offsetof(CvServerInfo, description) == 64, "CvServerInfo.description");
CRT_STATIC_ASSERT(offsetof(CvServerInfo, protocol) == 192, "CvServerInfo.protocol");
CRT_STATIC_ASSERT(sizeof(CvServerInfo) == 256, "CvServerInfo size");

/* Every server function gets the user data first and the error record last and
 * returns 1, or 0 with the error filled. They may run concurrently. */
/* settings: the keys found for the server's protocol, or null; valid during the call only. */
typedef int (*CvServerStartFunction)(void* userData, StringMap* settings, CvError* error);
typedef int (*CvServerStopFunction)(void* userData, CvError* error);
typedef int (*CvServerGetClientListFunction)(void* userData, CvUIDList* list, CvError* error);
/* clientInfo: a record whose layout belongs to the server. */
typedef int (*CvServerGetClientInfoFunction)(void* userData, CvUID client, void* clientInfo, CvError* error);
/* Stops the server if it still runs; 0 (error filled) to stay registered. */
typedef int (*CvServerDisposeFunction)(void* userData, CvError* error);

/* Passed to CvServerManager_Register and copied. */
typedef struct CvServerDescriptor {
    CvServerInfo info;
    void* userData;
    CvServerStartFunction start;
    CvServerStopFunction stop;
    CvServerGetClientListFunction getClientList;
    CvServerGetClientInfoFunction getClientInfo;
    CvServerDisposeFunction dispose; /* may be null: nothing to release */
} CvServerDescriptor;

CRT_STATIC_ASSERT(offsetof(CvServerDescriptor, info) == 0, "CvServerDescriptor.info");
CRT_STATIC_ASSERT(offsetof(CvServerDescriptor, userData) == 256, "CvServerDescriptor.userData");
CRT_STATIC_ASSERT(offsetof(CvServerDescriptor, start) == 264, "CvServerDescriptor.start");
CRT_STATIC_ASSERT(offsetof(CvServerDescriptor, stop) == 272, "CvServerDescriptor.stop");
CRT_STATIC_ASSERT(offsetof(CvServerDescriptor, getClientList) == 280, "CvServerDescriptor.getClientList");
CRT_STATIC_ASSERT(offsetof(CvServerDescriptor, getClientInfo) == 288, "CvServerDescriptor.getClientInfo");
CRT_STATIC_ASSERT(offsetof(CvServerDescriptor, dispose) == 296, "CvServerDescriptor.dispose");
CRT_STATIC_ASSERT(sizeof(CvServerDescriptor) == 304, "CvServerDescriptor size");

/* ---- Server manager -------------------------------------------------------- */

CV_API void CvServerManager_Initialize(void);
CV_API int CvServerManager_Uninitialize(CvError* error);
CV_API int CvServerManager_GetServerList(CvUIDList* list, CvError* error);
/* Byte-wise and case-sensitive (unlike bridge matching); CV_UID_NONE and
 * success when no server serves the protocol. */
CV_API int CvServerManager_LookupServer(const char* protocol, CvUID* server, CvError* error);
CV_API int CvServerManager_Register(const CvServerDescriptor* descriptor, CvUID* server, CvError* error);
CV_API int CvServerManager_Unregister(CvUID server, CvError* error);

CV_API int CvServer_GetInfo(CvUID server, CvServerInfo* info, CvError* error);
CV_API int CvServer_Start(CvUID server, StringMap* settings, CvError* error);
CV_API int CvServer_Stop(CvUID server, CvError* error);
CV_API int CvServer_GetClientList(CvUID server, CvUIDList* list, CvError* error);
/* clientInfo is passed through to the server unchanged. */
CV_API int CvServerClient_GetInfo(CvUID server, CvUID client, void* clientInfo, CvError* error);

#endif /* CORVANE_CV_SERVER_H */
