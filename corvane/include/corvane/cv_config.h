/* Bringing the framework to life from an INI file: load the plug-ins, create
 * and connect the machines and start the servers it names.
 *
 *   [Corvane]                       (section name matched ignoring case)
 *   Plugins=cvpl-local,cvpl-tcpip   (CvPluginManager_Load, in order)
 *   Connections=cv-local://localhost (CvMachineManager_CreateMachine, then CvMachine_Connect)
 *   Servers=cv-tcpip                (CvServerManager_LookupServer, then CvServer_Start)
 *
 *   [cvpl-tcpip]                    (settings of the entry named like it, ignoring case)
 *   ...
 *
 * Lists are split at commas only: blanks around a comma become part of the
 * names, empty entries are skipped. A missing "Corvane" section or key does
 * nothing; an entry without a section of its own receives null settings. The
 * settings maps live only during the call that hands them over. Whatever was
 * done before a failure stays done; CvUninitialize takes it all down. */
#ifndef CORVANE_CV_CONFIG_H
#define CORVANE_CV_CONFIG_H

#include "cv_core.h"

/* Parses the file (CvUtil_ParseINI; its message with code 2 when that fails),
 * then configures plug-ins, connections and servers, stopping at the first
 * step that fails with that step's error. */
CV_API int CvHelper_ConfigureUsingINIFile(const char* path, CvError* error);

/* The three steps on lists parsed by the caller (section names and, at the same
 * index, section maps, as CvUtil_ParseINI fills them); the caller keeps them. */
CV_API int CvHelper_ConfigureUsingINISettings(const ArrayList* sectionNames, const ArrayList* sectionMaps,
                                              CvError* error);
/* One step each. A server protocol that no registered server serves fails with
 * "Unable to find server for protocol '%s' in order to start it" (code 4). */
CV_API int CvHelper_ConfigurePluginsUsingINISettings(const ArrayList* sectionNames, const ArrayList* sectionMaps,
                                                     CvError* error);
CV_API int CvHelper_ConfigureConnectionsUsingINISettings(const ArrayList* sectionNames,
                                                         const ArrayList* sectionMaps, CvError* error);
CV_API int CvHelper_ConfigureServersUsingINISettings(const ArrayList* sectionNames, const ArrayList* sectionMaps,
                                                     CvError* error);

#endif /* CORVANE_CV_CONFIG_H */
