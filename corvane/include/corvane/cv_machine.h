/* Machines, the bridges that serve them, and the proxy functions that reach a
 * machine's resources and services. */
#ifndef CORVANE_CV_MACHINE_H
#define CORVANE_CV_MACHINE_H

#include "cv_core.h"

/* ---- Bridge manager -------------------------------------------------------- */

CV_API void CvBridgeManager_Initialize(void);
CV_API int CvBridgeManager_Uninitialize(CvError* error);

/* ---- Machine manager ------------------------------------------------------- */

CV_API void CvMachineManager_Initialize(void);
CV_API int CvMachineManager_Uninitialize(CvError* error);

#endif /* CORVANE_CV_MACHINE_H */
