/* Machine services (services of the computer as a whole) and servers that make
 * this process's machine reachable from elsewhere. */
#ifndef CORVANE_CV_SERVER_H
#define CORVANE_CV_SERVER_H

#include "cv_core.h"

/* ---- Machine service manager ---------------------------------------------- */

CV_API void CvMachineServiceManager_Initialize(void);
CV_API int CvMachineServiceManager_Uninitialize(CvError* error);

/* ---- Server manager -------------------------------------------------------- */

CV_API void CvServerManager_Initialize(void);
CV_API int CvServerManager_Uninitialize(CvError* error);

#endif /* CORVANE_CV_SERVER_H */
