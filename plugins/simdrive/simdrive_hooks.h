/* Test hooks of the drive simulator plug-in (cvpl-simdrive). Tests look them
 * up by name in the loaded plug-in (dlopen with RTLD_NOLOAD, then dlsym); no
 * other module calls them. */
#ifndef CVPL_SIMDRIVE_HOOKS_H
#define CVPL_SIMDRIVE_HOOKS_H

#include <corvane.h>

#define SIMDRIVE_SET_FAULTS_SYMBOL "SimDrivePlugin_SetFaults"

/* Replaces the fault plan of the drive named in the plug-in's "Drives" setting
 * (matched ignoring case) and restarts its counts. faults holds
 * "fault.<name>=value" pieces separated by ';' as in a drive description
 * ("fault.gone=yes", "fault.fail_download_attempts=2; fault.delay_ms=5");
 * an empty text clears every fault. 1, or 0 with the error filled (code 5 for
 * an unknown drive or when nothing is loaded, code 4 for bad text). */
typedef int (*SimDrivePlugin_SetFaultsFunction)(const char* drive, const char* faults, CvError* error);

CV_API int SimDrivePlugin_SetFaults(const char* drive, const char* faults, CvError* error);

#endif /* CVPL_SIMDRIVE_HOOKS_H */
