/* Resources (drives, adapters) and the named services they carry. */
#ifndef CORVANE_CV_RESOURCE_H
#define CORVANE_CV_RESOURCE_H

#include "cv_core.h"

#define CV_SERVICE_TYPE_SIZE 64
#define CV_RESOURCE_NAME_SIZE 256
#define CV_RESOURCE_DESCRIPTION_SIZE 256

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

/* ---- Resource manager ------------------------------------------------------ */

CV_API void CvResourceManager_Initialize(void);
CV_API int CvResourceManager_Uninitialize(CvError* error);

#endif /* CORVANE_CV_RESOURCE_H */
