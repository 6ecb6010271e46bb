/* Plug-in manager: loads plug-in libraries by name and keeps them until unloaded. */
#ifndef CORVANE_CV_PLUGIN_H
#define CORVANE_CV_PLUGIN_H

#include "cv_core.h"

CV_API void CvPluginManager_Initialize(void);
CV_API int CvPluginManager_Uninitialize(CvError* error);

#endif /* CORVANE_CV_PLUGIN_H */
