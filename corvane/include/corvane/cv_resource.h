/* Resources (drives, adapters) and the named services they carry, the command
 * record that clients execute on a service, and the resource manager. */
#ifndef CORVANE_CV_RESOURCE_H
#define CORVANE_CV_RESOURCE_H

#include "cv_core.h"

#define CV_SERVICE_TYPE_SIZE 64
#define CV_RESOURCE_NAME_SIZE 256
#define CV_RESOURCE_DESCRIPTION_SIZE 256
#define CV_RESOURCE_TYPE_NAME_SIZE 32
#define CV_COMMAND_BUFFER_COUNT 4

/* Tag of a command that is only executed, never submitted. */
#define CV_COMMAND_TAG_NONE ((uint32_t)0xFFFFFFFFu)

/* A service's type, for example "ata/device". */
typedef struct CvServiceInfo {
    char type[CV_SERVICE_TYPE_SIZE];
} CvServiceInfo;

CRT_STATIC_ASSERT(offsetof(CvServiceInfo, type) == 0, "CvServiceInfo.type");
CRT_STATIC_ASSERT(sizeof(CvServiceInfo) == 64, "CvServiceInfo size");

/* Name (unique among the resources of a process) and description. */
typedef struct CvResourceInfo {
    char name[CV_RESOURCE_NAME_SIZE];
    char description[CV_RESOURCE_DESCRIPTION_SIZE];
} CvResourceInfo;

CRT_STATIC_ASSERT(offsetof(CvResourceInfo, name) == 0, "CvResourceInfo.name");
CRT_STATIC_ASSERT(offsetof(CvResourceInfo, description) == 256, "CvResourceInfo.description");
CRT_STATIC_ASSERT(sizeof(CvResourceInfo) == 512, "CvResourceInfo size");

/* The resource's type ("os/driveinfo", ...) and a record whose layout the type
 * name defines. The record is allocated with CvAlloc by the registering plug-in;
 * once handed to CvResourceManager_Register it belongs to the resource manager,
 * which frees it with CvFree when the resource goes or the registration fails. */
typedef struct CvResourceTypeInfo {
    char typeName[CV_RESOURCE_TYPE_NAME_SIZE];
    void* typeData; /* may be null */
} CvResourceTypeInfo;

CRT_STATIC_ASSERT(offsetof(CvResourceTypeInfo, typeName) == 0, "CvResourceTypeInfo.typeName");
CRT_STATIC_ASSERT(offsetof(CvResourceTypeInfo, typeData) == 32, "CvResourceTypeInfo.typeData");
CRT_STATIC_ASSERT(sizeof(CvResourceTypeInfo) == 40, "CvResourceTypeInfo size");

/* ---- Commands --------------------------------------------------------------- */

/* Built by the client and passed by pointer through every layer. Buffer 0 holds
 * the function's parameter block, buffer 1 its data where the service type says
 * so; an unused buffer has length 0 and may be null. Services work in place. */
typedef struct CvCommand {
    uint8_t function; /* meaning belongs to the service type */
    uint8_t reserved1;
    uint8_t result; /* may be set by the service; carried back by remote execution */
    uint8_t reserved3;
    uint32_t tag; /* names a submitted command; CV_COMMAND_TAG_NONE when only executed */
    void* buffers[CV_COMMAND_BUFFER_COUNT];
    uint32_t bufferLengths[CV_COMMAND_BUFFER_COUNT];
} CvCommand;

CRT_STATIC_ASSERT(offsetof(CvCommand, function) == 0, "CvCommand.function");
CRT_STATIC_ASSERT(offsetof(CvCommand, reserved1) == 1, "CvCommand.reserved1");
CRT_STATIC_ASSERT(offsetof(CvCommand, result) == 2, "CvCommand.result");
CRT_STATIC_ASSERT(offsetof(CvCommand, reserved3) == 3, "CvCommand.reserved3");
CRT_STATIC_ASSERT(offsetof(CvCommand, tag) == 4, "CvCommand.tag");
CRT_STATIC_ASSERT(offsetof(CvCommand, buffers) == 8, "CvCommand.buffers");
CRT_STATIC_ASSERT(offsetof(CvCommand, bufferLengths) == 40, "CvCommand.bufferLengths");
CRT_STATIC_ASSERT(sizeof(CvCommand) == 56, "CvCommand size");

struct CvCommandCompletion;
typedef void (*CvCommandCompletionFunction)(struct CvCommandCompletion* completion, CvCommand* command);

/* Supplied by whoever submits a command and kept alive until its completion
 * function has run. The service fills `error` before calling `complete`. */
typedef struct CvCommandCompletion {
    void* context; /* the submitter's own, untouched by the framework */
    CvError error;
    CvCommandCompletionFunction complete;
} CvCommandCompletion;

CRT_STATIC_ASSERT(offsetof(CvCommandCompletion, context) == 0, "CvCommandCompletion.context");
CRT_STATIC_ASSERT(offsetof(CvCommandCompletion, error) == 8, "CvCommandCompletion.error");
CRT_STATIC_ASSERT(offsetof(CvCommandCompletion, complete) == 264, "CvCommandCompletion.complete");
CRT_STATIC_ASSERT(sizeof(CvCommandCompletion) == 272, "CvCommandCompletion size");

/* ---- Descriptors a plug-in registers ---------------------------------------- */

/* Run under the registry's mutex: must not call back into that registry. */
typedef void (*CvResourceRegisteredFunction)(void* userData, CvUID resource);
/* 1 when the resource released what it owns, 0 (error filled) to stay registered. */
typedef int (*CvResourceDisposeFunction)(void* userData, CvError* error);

/* Passed to CvResourceManager_Register and copied. */
typedef struct CvResourceDescriptor {
    CvResourceInfo info;
    CvResourceTypeInfo typeInfo;
    void* userData;
    CvResourceRegisteredFunction registered; /* may be null */
    CvResourceDisposeFunction dispose;       /* may be null: nothing to release */
} CvResourceDescriptor;

CRT_STATIC_ASSERT(offsetof(CvResourceDescriptor, info) == 0, "CvResourceDescriptor.info");
CRT_STATIC_ASSERT(offsetof(CvResourceDescriptor, typeInfo) == 512, "CvResourceDescriptor.typeInfo");
CRT_STATIC_ASSERT(offsetof(CvResourceDescriptor, userData) == 552, "CvResourceDescriptor.userData");
CRT_STATIC_ASSERT(offsetof(CvResourceDescriptor, registered) == 560, "CvResourceDescriptor.registered");
CRT_STATIC_ASSERT(offsetof(CvResourceDescriptor, dispose) == 568, "CvResourceDescriptor.dispose");
CRT_STATIC_ASSERT(sizeof(CvResourceDescriptor) == 576, "CvResourceDescriptor size");

/* Run under the registry's mutex: must not call back into that registry. */
typedef void (*CvServiceRegisteredFunction)(void* userData, CvUID service);
/* Runs the command to its end; 1, or 0 with the error filled. */
typedef int (*CvServiceExecuteFunction)(void* userData, CvCommand* command, CvError* error);
/* 0 (error filled) refuses. 1 accepts: later the service fills completion->error,
 * calls completion->complete(completion, command) and then notifies the
 * registry once that the command completed. */
typedef int (*CvServiceSubmitFunction)(void* userData, CvCommand* command, CvCommandCompletion* completion,
                                       CvError* error);
/* Asks the service to stop the submitted command with that tag. */
typedef int (*CvServiceAbortFunction)(void* userData, uint32_t tag, CvError* error);
/* 1 when the service released what it owns, 0 (error filled) to stay registered. */
typedef int (*CvServiceDisposeFunction)(void* userData, CvError* error);

/* Used for resource services and, unchanged, for machine services. Copied. */
typedef struct CvServiceDescriptor {
    CvServiceInfo info;
    void* userData;
    CvServiceRegisteredFunction registered; /* may be null */
    CvServiceExecuteFunction execute;
    CvServiceSubmitFunction submit;
    CvServiceAbortFunction abort;
    CvServiceDisposeFunction dispose; /* may be null: nothing to release */
} CvServiceDescriptor;

CRT_STATIC_ASSERT(offsetof(CvServiceDescriptor, info) == 0, "CvServiceDescriptor.info");
CRT_STATIC_ASSERT(offsetof(CvServiceDescriptor, userData) == 64, "CvServiceDescriptor.userData");
CRT_STATIC_ASSERT(offsetof(CvServiceDescriptor, registered) == 72, "CvServiceDescriptor.registered");
CRT_STATIC_ASSERT(offsetof(CvServiceDescriptor, execute) == 80, "CvServiceDescriptor.execute");
CRT_STATIC_ASSERT(offsetof(CvServiceDescriptor, submit) == 88, "CvServiceDescriptor.submit");
CRT_STATIC_ASSERT(offsetof(CvServiceDescriptor, abort) == 96, "CvServiceDescriptor.abort");
CRT_STATIC_ASSERT(offsetof(CvServiceDescriptor, dispose) == 104, "CvServiceDescriptor.dispose");
CRT_STATIC_ASSERT(sizeof(CvServiceDescriptor) == 112, "CvServiceDescriptor size");

/* ---- Resource manager ------------------------------------------------------ */

CV_API void CvResourceManager_Initialize(void);
CV_API int CvResourceManager_Uninitialize(CvError* error);
CV_API int CvResourceManager_GetResourceList(CvUIDList* list, CvError* error);
/* Byte-wise, case-sensitive; CV_UID_NONE and success when nothing matches. */
CV_API int CvResourceManager_LookupResource(const char* name, CvUID* resource, CvError* error);
/* The type data of the descriptor belongs to the manager from this call on,
 * whether the registration succeeds or not. */
CV_API int CvResourceManager_Register(const CvResourceDescriptor* descriptor, CvUID* resource, CvError* error);
/* Waits for calls and submitted commands in progress on the resource and its
 * services, disposes of the services (first registered first), then the resource. */
CV_API int CvResourceManager_Unregister(CvUID resource, CvError* error);

/* ---- Resources ------------------------------------------------------------- */

CV_API int CvResource_GetInfo(CvUID resource, CvResourceInfo* info, CvError* error);
/* The type data pointer stays owned by the manager; valid while the resource exists. */
CV_API int CvResource_GetTypeInfo(CvUID resource, CvResourceTypeInfo* typeInfo, CvError* error);
CV_API int CvResource_GetServiceList(CvUID resource, CvUIDList* list, CvError* error);
/* Byte-wise, case-sensitive; CV_UID_NONE and success when nothing matches. */
CV_API int CvResource_LookupResourceService(CvUID resource, const char* serviceType, CvUID* service,
                                            CvError* error);
CV_API int CvResource_RegisterService(CvUID resource, const CvServiceDescriptor* descriptor, CvUID* service,
                                      CvError* error);
CV_API int CvResource_UnregisterService(CvUID resource, CvUID service, CvError* error);

/* ---- Resource services ----------------------------------------------------- */

/* A service is named by its resource and its own UID together; the client UID
 * is accepted and not used. */
CV_API int CvResourceService_GetInfo(CvUID resource, CvUID service, CvServiceInfo* info, CvError* error);
CV_API int CvResourceService_ExecuteCommand(CvUID resource, CvUID service, CvUID client, CvCommand* command,
                                            CvError* error);
CV_API int CvResourceService_SubmitCommand(CvUID resource, CvUID service, CvUID client, CvCommand* command,
                                           CvCommandCompletion* completion, CvError* error);
CV_API int CvResourceService_AbortCommand(CvUID resource, CvUID service, CvUID client, uint32_t tag,
                                          CvError* error);
/* Called by a service once for every command whose submit it accepted, after
 * the completion function has run. */
CV_API void CvResourceService_NotifyCommandCompleted(CvUID resource, CvUID service);

#endif /* CORVANE_CV_RESOURCE_H */
