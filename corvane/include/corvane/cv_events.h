/* Log events, hot-plug events and the work queue with its single work thread. */
#ifndef CORVANE_CV_EVENTS_H
#define CORVANE_CV_EVENTS_H

#include "cv_core.h"
#include "cv_resource.h"

/* Log levels used by the framework and its plug-ins. */
#define CV_LOG_FATAL 0
#define CV_LOG_ERROR 1
#define CV_LOG_WARNING 2
#define CV_LOG_INFO 3
#define CV_LOG_DEBUG 4

/* Longest log message kept; longer ones are cut. */
#define CV_LOG_MESSAGE_MAX 1023

typedef void (*CvLogFunction)(void* userData, int level, const char* message);

/* Kept alive by its owner from AddListener until RemoveListener has returned. */
typedef struct CvLogListener {
    void* userData;
    CvLogFunction log; /* may be null */
} CvLogListener;

CRT_STATIC_ASSERT(offsetof(CvLogListener, userData) == 0, "CvLogListener.userData");
CRT_STATIC_ASSERT(offsetof(CvLogListener, log) == 8, "CvLogListener.log");
CRT_STATIC_ASSERT(sizeof(CvLogListener) == 16, "CvLogListener size");

typedef void (*CvMachineServiceAddedFunction)(void* userData, CvUID service, const CvServiceInfo* info);
typedef void (*CvMachineServiceRemovedFunction)(void* userData, CvUID service);
typedef void (*CvResourceAddedFunction)(void* userData, CvUID resource, const CvResourceInfo* info);
typedef void (*CvResourceRemovedFunction)(void* userData, CvUID resource);
typedef void (*CvResourceServiceAddedFunction)(void* userData, CvUID resource, CvUID service,
                                               const CvServiceInfo* info);
typedef void (*CvResourceServiceRemovedFunction)(void* userData, CvUID resource, CvUID service);

/* Every function may be null. Called on the work thread only, one event at a
 * time; the info pointers are valid only during the call. */
typedef struct CvHotplugListener {
    void* userData;
    CvMachineServiceAddedFunction machineServiceAdded;
    CvMachineServiceRemovedFunction machineServiceRemoved;
    CvResourceAddedFunction resourceAdded;
    CvResourceRemovedFunction resourceRemoved;
    CvResourceServiceAddedFunction resourceServiceAdded;
    CvResourceServiceRemovedFunction resourceServiceRemoved;
} CvHotplugListener;

CRT_STATIC_ASSERT(offsetof(CvHotplugListener, userData) == 0, "CvHotplugListener.userData");
CRT_STATIC_ASSERT(offsetof(CvHotplugListener, machineServiceAdded) == 8, "CvHotplugListener.machineServiceAdded");
CRT_STATIC_ASSERT(offsetof(CvHotplugListener, machineServiceRemoved) == 16,
                  "CvHotplugListener.machineServiceRemoved");
CRT_STATIC_ASSERT(offsetof(CvHotplugListener, resourceAdded) == 24, "CvHotplugListener.resourceAdded");
CRT_STATIC_ASSERT(offsetof(CvHotplugListener, resourceRemoved) == 32, "CvHotplugListener.resourceRemoved");
CRT_STATIC_ASSERT(offsetof(CvHotplugListener, resourceServiceAdded) == 40,
                  "CvHotplugListener.resourceServiceAdded");
CRT_STATIC_ASSERT(offsetof(CvHotplugListener, resourceServiceRemoved) == 48,
                  "CvHotplugListener.resourceServiceRemoved");
CRT_STATIC_ASSERT(sizeof(CvHotplugListener) == 56, "CvHotplugListener size");

typedef void (*CvWorkFunction)(void* argument);

/* Allocated with CvAlloc by whoever queues it; the work thread frees it after
 * the function has run. */
typedef struct CvWork {
    void* argument;
    CvWorkFunction function;
} CvWork;

CRT_STATIC_ASSERT(offsetof(CvWork, argument) == 0, "CvWork.argument");
CRT_STATIC_ASSERT(offsetof(CvWork, function) == 8, "CvWork.function");
CRT_STATIC_ASSERT(sizeof(CvWork) == 16, "CvWork size");

/* ---- Log events ------------------------------------------------------------ */

CV_API void CvLogEventManager_Initialize(void);
CV_API void CvLogEventManager_Uninitialize(void);
/* Adding twice makes the listener called twice. Both wait for deliveries in progress. */
CV_API void CvLogEventManager_AddListener(CvLogListener* listener);
CV_API void CvLogEventManager_RemoveListener(CvLogListener* listener);
/* Formats the message (cut to 1023 characters) and hands it to every listener,
 * on the calling thread. */
CV_API void CvLog(int level, const char* format, ...) CV_PRINTF(2, 3);

/* ---- Hot-plug events ------------------------------------------------------- */

CV_API void CvHotplugEventManager_Initialize(void);
CV_API void CvHotplugEventManager_Uninitialize(void);
/* From any thread, including a listener; after RemoveListener returns the
 * listener is not called again. */
CV_API void CvHotplugEventManager_AddListener(CvHotplugListener* listener);
CV_API void CvHotplugEventManager_RemoveListener(CvHotplugListener* listener);
/* Queue the event for delivery on the work thread and return at once. Called by
 * the registries after each registration and removal. */
CV_API void CvHotplugEventManager_SignalMachineServiceAdded(CvUID service, const CvServiceInfo* info);
CV_API void CvHotplugEventManager_SignalMachineServiceRemoved(CvUID service);
CV_API void CvHotplugEventManager_SignalResourceAdded(CvUID resource, const CvResourceInfo* info);
CV_API void CvHotplugEventManager_SignalResourceRemoved(CvUID resource);
CV_API void CvHotplugEventManager_SignalResourceServiceAdded(CvUID resource, CvUID service,
                                                             const CvServiceInfo* info);
CV_API void CvHotplugEventManager_SignalResourceServiceRemoved(CvUID resource, CvUID service);

/* ---- Work queue ------------------------------------------------------------ */

/* Starts the work thread. */
CV_API void CvWorkManager_Initialize(void);
/* Lets the work thread finish the queue (items queued by items included) and
 * joins it. */
CV_API void CvWorkManager_Uninitialize(void);
/* Takes ownership of the item; it runs after every item queued before it. */
CV_API void CvWorkManager_QueueWork(CvWork* work);

#endif /* CORVANE_CV_EVENTS_H */
