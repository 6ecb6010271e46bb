/* Machines, the bridges that serve them, and the proxy functions that reach a
 * machine's resources and services.
 *
 * A bridge handles one URL protocol ("cv-local", "cv-tcpip"). Creating a machine
 * from a URL finds the bridge for the URL's protocol (ignoring case) and lets it
 * fill the machine's function table; every machine and proxy call is then
 * forwarded to that table with the bridge's per-machine user data. */
#ifndef CORVANE_CV_MACHINE_H
#define CORVANE_CV_MACHINE_H

#include "cv_core.h"
#include "cv_events.h"
#include "cv_resource.h"

/* ---- Bridge records -------------------------------------------------------- */

#define CV_BRIDGE_NAME_SIZE 64
#define CV_BRIDGE_DESCRIPTION_SIZE 128
#define CV_BRIDGE_PROTOCOL_SIZE 64

/* Texts of a bridge, each NUL-terminated. */
typedef struct CvBridgeInfo {
    char name[CV_BRIDGE_NAME_SIZE];               /* "Local Access Bridge" */
    char description[CV_BRIDGE_DESCRIPTION_SIZE];
    char protocol[CV_BRIDGE_PROTOCOL_SIZE];       /* "cv-local" */
} CvBridgeInfo;

CRT_STATIC_ASSERT(offsetof(CvBridgeInfo, name) == 0, "CvBridgeInfo.name");
CRT_STATIC_ASSERT(offsetof(CvBridgeInfo, description) == 64, "CvBridgeInfo.description");
CRT_STATIC_ASSERT(offsetof(CvBridgeInfo, protocol) == 192, "CvBridgeInfo.protocol");
CRT_STATIC_ASSERT(sizeof(CvBridgeInfo) == 256, "CvBridgeInfo size");

typedef struct CvMachineDescriptor CvMachineDescriptor;

/* Fills the machine's function table and user data. Runs while the machine
 * manager holds its mutex: it must not call the machine manager. */
typedef int (*CvBridgeInitializeMachineDescriptorFunction)(void* userData, CvUID machine,
                                                           CvMachineDescriptor* descriptor, CvError* error);
/* Destroys the bridge's machines and releases what the bridge owns; 0 keeps it registered. */
typedef int (*CvBridgeDisposeFunction)(void* userData, CvError* error);

/* Passed to CvBridgeManager_Register, which keeps a copy. */
typedef struct CvBridgeDescriptor {
    CvBridgeInfo info;
    void* userData;
    CvBridgeInitializeMachineDescriptorFunction initializeMachineDescriptor;
    CvBridgeDisposeFunction dispose;
} CvBridgeDescriptor;

CRT_STATIC_ASSERT(offsetof(CvBridgeDescriptor, info) == 0, "CvBridgeDescriptor.info");
CRT_STATIC_ASSERT(offsetof(CvBridgeDescriptor, userData) == 256, "CvBridgeDescriptor.userData");
CRT_STATIC_ASSERT(offsetof(CvBridgeDescriptor, initializeMachineDescriptor) == 264,
                  "CvBridgeDescriptor.initializeMachineDescriptor");
CRT_STATIC_ASSERT(offsetof(CvBridgeDescriptor, dispose) == 272, "CvBridgeDescriptor.dispose");
CRT_STATIC_ASSERT(sizeof(CvBridgeDescriptor) == 280, "CvBridgeDescriptor size");

/* ---- Machine records ------------------------------------------------------- */

/* URLs longer than 255 characters are cut. */
#define CV_MACHINE_URL_SIZE 256

typedef struct CvMachineInfo {
    char url[CV_MACHINE_URL_SIZE];
} CvMachineInfo;

CRT_STATIC_ASSERT(offsetof(CvMachineInfo, url) == 0, "CvMachineInfo.url");
CRT_STATIC_ASSERT(sizeof(CvMachineInfo) == 256, "CvMachineInfo size");

/* The machine functions a bridge supplies. Each gets the machine's user data
 * first and the caller's error record last; 1 on success, 0 on failure with the
 * record filled. */
typedef int (*CvMachineConnectFunction)(void* userData, const StringMap* settings, CvError* error);
typedef int (*CvMachineDisconnectFunction)(void* userData, CvError* error);
typedef int (*CvMachineIsConnectedFunction)(void* userData, int* connected, CvError* error);
typedef int (*CvMachineSetEventListenerFunction)(void* userData, CvHotplugListener* listener,
                                                 CvHotplugListener** previous, CvError* error);
typedef int (*CvMachineSetLoggingListenerFunction)(void* userData, CvLogListener* listener,
                                                   CvLogListener** previous, CvError* error);
typedef int (*CvMachineGetListFunction)(void* userData, CvUIDList* list, CvError* error);
typedef int (*CvMachineServiceGetInfoFunction)(void* userData, CvUID service, CvServiceInfo* info, CvError* error);
typedef int (*CvMachineServiceExecuteFunction)(void* userData, CvUID service, CvCommand* command, CvError* error);
typedef int (*CvMachineServiceSubmitFunction)(void* userData, CvUID service, CvCommand* command,
                                              CvCommandCompletion* completion, CvError* error);
typedef int (*CvMachineServiceAbortFunction)(void* userData, CvUID service, uint32_t tag, CvError* error);
typedef int (*CvMachineResourceGetInfoFunction)(void* userData, CvUID resource, CvResourceInfo* info,
                                                CvError* error);
typedef int (*CvMachineResourceGetServiceListFunction)(void* userData, CvUID resource, CvUIDList* list,
                                                       CvError* error);
typedef int (*CvMachineResourceServiceGetInfoFunction)(void* userData, CvUID resource, CvUID service,
                                                       CvServiceInfo* info, CvError* error);
typedef int (*CvMachineResourceServiceExecuteFunction)(void* userData, CvUID resource, CvUID service,
                                                       CvCommand* command, CvError* error);
typedef int (*CvMachineResourceServiceSubmitFunction)(void* userData, CvUID resource, CvUID service,
                                                      CvCommand* command, CvCommandCompletion* completion,
                                                      CvError* error);
typedef int (*CvMachineResourceServiceAbortFunction)(void* userData, CvUID resource, CvUID service, uint32_t tag,
                                                     CvError* error);
typedef int (*CvMachineDisposeFunction)(void* userData, CvError* error);

/* One per machine, owned by the machine manager. The manager zero-fills it and
 * writes the URL; the bridge's initialiser fills the rest. */
struct CvMachineDescriptor {
    char url[CV_MACHINE_URL_SIZE]; /* last byte always 0 */
    void* userData;                /* the bridge's per-machine state */
    CvMachineConnectFunction connect;
    CvMachineDisconnectFunction disconnect;
    CvMachineIsConnectedFunction isConnected;
    CvMachineSetEventListenerFunction setEventListener;
    CvMachineSetLoggingListenerFunction setLoggingListener;
    CvMachineGetListFunction getResourceList;
    CvMachineGetListFunction getMachineServiceList;
    CvMachineServiceGetInfoFunction machineServiceGetInfo;
    CvMachineServiceExecuteFunction machineServiceExecuteCommand;
    CvMachineServiceSubmitFunction machineServiceSubmitCommand;
    CvMachineServiceAbortFunction machineServiceAbortCommand;
    CvMachineResourceGetInfoFunction resourceGetInfo;
    CvMachineResourceGetServiceListFunction resourceGetServiceList;
    CvMachineResourceServiceGetInfoFunction resourceServiceGetInfo;
    CvMachineResourceServiceExecuteFunction resourceServiceExecuteCommand;
    CvMachineResourceServiceSubmitFunction resourceServiceSubmitCommand;
    CvMachineResourceServiceAbortFunction resourceServiceAbortCommand;
    CvMachineDisposeFunction dispose;
};

CRT_STATIC_ASSERT(offsetof(CvMachineDescriptor, url) == 0, "CvMachineDescriptor.url");
CRT_STATIC_ASSERT(offsetof(CvMachineDescriptor, userData) == 256, "CvMachineDescriptor.userData");
CRT_STATIC_ASSERT(offsetof(CvMachineDescriptor, connect) == 264, "CvMachineDescriptor.connect");
CRT_STATIC_ASSERT(offsetof(CvMachineDescriptor, disconnect) == 272, "CvMachineDescriptor.disconnect");
CRT_STATIC_ASSERT(offsetof(CvMachineDescriptor, isConnected) == 280, "CvMachineDescriptor.isConnected");
CRT_STATIC_ASSERT(offsetof(CvMachineDescriptor, setEventListener) == 288, "CvMachineDescriptor.setEventListener");
CRT_STATIC_ASSERT(offsetof(CvMachineDescriptor, setLoggingListener) == 296,
                  "CvMachineDescriptor.setLoggingListener");
CRT_STATIC_ASSERT(offsetof(CvMachineDescriptor, getResourceList) == 304, "CvMachineDescriptor.getResourceList");
CRT_STATIC_ASSERT(offsetof(CvMachineDescriptor, getMachineServiceList) == 312,
                  "CvMachineDescriptor.getMachineServiceList");
CRT_STATIC_ASSERT(offsetof(CvMachineDescriptor, machineServiceGetInfo) == 320,
                  "CvMachineDescriptor.machineServiceGetInfo");
CRT_STATIC_ASSERT(offsetof(CvMachineDescriptor, machineServiceExecuteCommand) == 328,
                  "CvMachineDescriptor.machineServiceExecuteCommand");
CRT_STATIC_ASSERT(offsetof(CvMachineDescriptor, machineServiceSubmitCommand) == 336,
                  "CvMachineDescriptor.machineServiceSubmitCommand");
CRT_STATIC_ASSERT(offsetof(CvMachineDescriptor, machineServiceAbortCommand) == 344,
                  "CvMachineDescriptor.machineServiceAbortCommand");
CRT_STATIC_ASSERT(offsetof(CvMachineDescriptor, resourceGetInfo) == 352, "CvMachineDescriptor.resourceGetInfo");
CRT_STATIC_ASSERT(offsetof(CvMachineDescriptor, resourceGetServiceList) == 360,
                  "CvMachineDescriptor.resourceGetServiceList");
CRT_STATIC_ASSERT(offsetof(CvMachineDescriptor, resourceServiceGetInfo) == 368,
                  "CvMachineDescriptor.resourceServiceGetInfo");
CRT_STATIC_ASSERT(offsetof(CvMachineDescriptor, resourceServiceExecuteCommand) == 376,
                  "CvMachineDescriptor.resourceServiceExecuteCommand");
CRT_STATIC_ASSERT(offsetof(CvMachineDescriptor, resourceServiceSubmitCommand) == 384,
                  "CvMachineDescriptor.resourceServiceSubmitCommand");
CRT_STATIC_ASSERT(offsetof(CvMachineDescriptor, resourceServiceAbortCommand) == 392,
                  "CvMachineDescriptor.resourceServiceAbortCommand");
CRT_STATIC_ASSERT(offsetof(CvMachineDescriptor, dispose) == 400, "CvMachineDescriptor.dispose");
CRT_STATIC_ASSERT(sizeof(CvMachineDescriptor) == 408, "CvMachineDescriptor size");

/* ---- Bridge manager -------------------------------------------------------- */

CV_API void CvBridgeManager_Initialize(void);
/* Disposes of every bridge, first registered first; a failing dispose is logged. */
CV_API int CvBridgeManager_Uninitialize(CvError* error);
CV_API int CvBridgeManager_GetBridgeList(CvUIDList* list, CvError* error);
/* Copies the descriptor. Several bridges may share a protocol: the first
 * registered serves it while it exists. */
CV_API int CvBridgeManager_Register(const CvBridgeDescriptor* descriptor, CvUID* bridge, CvError* error);
/* Waits for initialisers in progress, then calls the bridge's dispose function. */
CV_API int CvBridgeManager_Unregister(CvUID bridge, CvError* error);
/* Finds the bridge for the protocol of descriptor->url (ASCII case ignored,
 * bridges being disposed skipped) and runs its initialiser on the descriptor. */
CV_API int CvBridgeManager_InitializeMachineDescriptor(CvUID machine, CvMachineDescriptor* descriptor,
                                                       CvError* error);
CV_API int CvBridge_GetInfo(CvUID bridge, CvBridgeInfo* info, CvError* error);

/* ---- Machine manager ------------------------------------------------------- */

CV_API void CvMachineManager_Initialize(void);
/* Waits until no call is out and no submitted command is outstanding, then
 * disposes of every machine, first created first. */
CV_API int CvMachineManager_Uninitialize(CvError* error);
CV_API int CvMachineManager_GetMachineList(CvUIDList* list, CvError* error);
/* Creates a machine served by the bridge of the URL's protocol; connects nothing. */
CV_API int CvMachineManager_CreateMachine(const char* url, CvUID* machine, CvError* error);
/* Waits until the machine has no call in progress and no submitted command
 * outstanding, then calls its dispose function. */
CV_API int CvMachineManager_DestroyMachine(CvUID machine, CvError* error);
CV_API int CvMachine_GetInfo(CvUID machine, CvMachineInfo* info, CvError* error);
/* Called by a bridge once for every submit it accepted, after the submitter's
 * completion function has run. Problems are logged, never returned. */
CV_API void CvMachine_NotifyCommandCompleted(CvUID machine);

/* ---- Machine calls, forwarded to the machine's bridge ---------------------- */

CV_API int CvMachine_Connect(CvUID machine, const StringMap* settings, CvError* error);
CV_API int CvMachine_Disconnect(CvUID machine, CvError* error);
CV_API int CvMachine_IsConnected(CvUID machine, int* connected, CvError* error);
CV_API int CvMachine_SetEventListener(CvUID machine, CvHotplugListener* listener, CvHotplugListener** previous,
                                      CvError* error);
CV_API int CvMachine_SetLoggingListener(CvUID machine, CvLogListener* listener, CvLogListener** previous,
                                        CvError* error);
CV_API int CvMachine_GetResourceList(CvUID machine, CvUIDList* list, CvError* error);
CV_API int CvMachine_GetServiceList(CvUID machine, CvUIDList* list, CvError* error);

CV_API int CvMachineServiceProxy_GetInfo(CvUID machine, CvUID service, CvServiceInfo* info, CvError* error);
CV_API int CvMachineServiceProxy_ExecuteCommand(CvUID machine, CvUID service, CvCommand* command, CvError* error);
/* Accepted (1): the completion function runs later, possibly on another thread,
 * and the completion record must stay alive until it has. */
CV_API int CvMachineServiceProxy_SubmitCommand(CvUID machine, CvUID service, CvCommand* command,
                                               CvCommandCompletion* completion, CvError* error);
CV_API int CvMachineServiceProxy_AbortCommand(CvUID machine, CvUID service, uint32_t tag, CvError* error);

CV_API int CvResourceProxy_GetInfo(CvUID machine, CvUID resource, CvResourceInfo* info, CvError* error);
CV_API int CvResourceProxy_GetServiceList(CvUID machine, CvUID resource, CvUIDList* list, CvError* error);

CV_API int CvResourceServiceProxy_GetInfo(CvUID machine, CvUID resource, CvUID service, CvServiceInfo* info,
                                          CvError* error);
CV_API int CvResourceServiceProxy_ExecuteCommand(CvUID machine, CvUID resource, CvUID service, CvCommand* command,
                                                 CvError* error);
CV_API int CvResourceServiceProxy_SubmitCommand(CvUID machine, CvUID resource, CvUID service, CvCommand* command,
                                                CvCommandCompletion* completion, CvError* error);
CV_API int CvResourceServiceProxy_AbortCommand(CvUID machine, CvUID resource, CvUID service, uint32_t tag,
                                               CvError* error);

#endif /* CORVANE_CV_MACHINE_H */
