/* Plug-ins: shared libraries loaded by name at run time, and the binary
 * interface every plug-in exports so that the framework can check it and call
 * its load and unload entry points.
 *
 * Where plug-ins are found. CvPluginManager_Load turns a name such as
 * "cvpl-local" into the file name "cvpl-local.so" and tries, in order:
 *   1. every directory of the environment variable CORVANE_PLUGIN_PATH
 *      (colon-separated, in the order given; empty entries are skipped);
 *   2. the directory "corvane-plugins" next to libcorvane.so itself
 *      (lib/corvane-plugins/ in the build tree and in an installed tree);
 *   3. the file name alone, which the dynamic loader searches for itself.
 * A name that is an absolute path is loaded from that path only. Every
 * message about a plug-in quotes the file name ("cvpl-local.so").
 *
 * Writing a plug-in (C or C++):
 *
 *   #include <corvane.h>
 *
 *   static int Load(CvUID self, const StringMap* settings, CvError* error)
 *   {
 *       ... register bridges, servers, resources, services, listeners ...
 *       return CvSetNoThreadError(error);
 *   }
 *   static int Unload(CvError* error)
 *   {
 *       ... unregister everything Load registered, stop own threads ...
 *       return CvSetNoThreadError(error);
 *   }
 *
 *   CV_DEFINE_PLUGIN("Example Plugin", "What it offers", "1.0.0.0",
 *                    "Copyright notice", "Author", "contact@example.com",
 *                    Load, Unload);
 *
 * CV_DEFINE_PLUGIN defines the four exported data symbols with the values this
 * framework accepts. The load entry point must undo whatever it registered
 * before it returns 0; the settings it receives live only during the call. */
#ifndef CORVANE_CV_PLUGIN_H
#define CORVANE_CV_PLUGIN_H

#include "cv_core.h"

/* ---- The plug-in binary interface ----------------------------------------- */

/* Values of the exported numbers that this build accepts. */
#define CV_PLUGIN_CPU_ARCHITECTURE CRT_ARCH /* the runtime's CrtGetArch() */
#define CV_PLUGIN_ABI CRT_ABI               /* the runtime's CrtGetAbi() */
#define CV_PLUGIN_COMPATIBILITY_VERSION 1

/* Names of the four exported data symbols, looked up in this order. */
#define CV_PLUGIN_CPU_ARCHITECTURE_SYMBOL "cvPluginCPUArchitecture" /* uint8_t */
#define CV_PLUGIN_ABI_SYMBOL "cvPluginABI"                          /* uint8_t */
#define CV_PLUGIN_COMPATIBILITY_VERSION_SYMBOL "cvPluginCompatibilityVersion" /* int32_t */
#define CV_PLUGIN_DESCRIPTOR_SYMBOL "cvPluginDescriptor"            /* CvPluginDescriptor */

/* Marks a definition as one of a plug-in's exports: C linkage, visible from
 * outside the library even when it is built with hidden visibility. */
#define CV_PLUGIN_EXPORT CV_API

#define CV_PLUGIN_NAME_SIZE 64
#define CV_PLUGIN_DESCRIPTION_SIZE 128
#define CV_PLUGIN_VERSION_SIZE 32
#define CV_PLUGIN_COPYRIGHT_SIZE 128
#define CV_PLUGIN_AUTHOR_SIZE 64
#define CV_PLUGIN_CONTACT_SIZE 64

/* Text about a plug-in; every field NUL-terminated, the rest of it zero. The
 * framework terminates name, description and version of its copy itself. */
typedef struct CvPluginInfo {
    char name[CV_PLUGIN_NAME_SIZE];               /* shown in log lines */
    char description[CV_PLUGIN_DESCRIPTION_SIZE];
    char version[CV_PLUGIN_VERSION_SIZE];
    char copyright[CV_PLUGIN_COPYRIGHT_SIZE];     /* the maker's rights notice */
    char author[CV_PLUGIN_AUTHOR_SIZE];
    char contact[CV_PLUGIN_CONTACT_SIZE];
} CvPluginInfo;

CRT_STATIC_ASSERT(offsetof(CvPluginInfo, name) == 0, "CvPluginInfo.name");
CRT_STATIC_ASSERT(offsetof(CvPluginInfo, description) == 64, "CvPluginInfo.description");
CRT_STATIC_ASSERT(offsetof(CvPluginInfo, version) == 192, "CvPluginInfo.version");
CRT_STATIC_ASSERT(offsetof(CvPluginInfo, copyright) == 224, "CvPluginInfo.copyright");
CRT_STATIC_ASSERT(offsetof(CvPluginInfo, author) == 352, "CvPluginInfo.author");
CRT_STATIC_ASSERT(offsetof(CvPluginInfo, contact) == 416, "CvPluginInfo.contact");
CRT_STATIC_ASSERT(sizeof(CvPluginInfo) == 480, "CvPluginInfo size");

/* Load entry point: called once, after the checks, with the plug-in's UID and
 * its settings (null when the configuration has none). 1 on success; 0 with the
 * error filled, having undone whatever it registered. */
typedef int (*CvPluginLoadFunction)(CvUID plugin, const StringMap* settings, CvError* error);
/* Unload entry point: unregisters what the plug-in registered and stops its
 * threads. 1 on success; 0 with the error filled (the plug-in stays loaded,
 * except at shut-down, where it is unloaded all the same). */
typedef int (*CvPluginUnloadFunction)(CvError* error);

/* Exported by every plug-in under the name "cvPluginDescriptor". A null entry
 * point means the plug-in has nothing to do at that moment. */
typedef struct CvPluginDescriptor {
    CvPluginInfo info;
    CvPluginLoadFunction load;
    CvPluginUnloadFunction unload;
} CvPluginDescriptor;

CRT_STATIC_ASSERT(offsetof(CvPluginDescriptor, info) == 0, "CvPluginDescriptor.info");
CRT_STATIC_ASSERT(offsetof(CvPluginDescriptor, load) == 480, "CvPluginDescriptor.load");
CRT_STATIC_ASSERT(offsetof(CvPluginDescriptor, unload) == 488, "CvPluginDescriptor.unload");
CRT_STATIC_ASSERT(sizeof(CvPluginDescriptor) == 496, "CvPluginDescriptor size");

/* Defines the four exports of a plug-in with the accepted numbers; the six
 * texts fill the descriptor's info. Use once per plug-in, at file scope,
 * followed by a semicolon. */
#define CV_DEFINE_PLUGIN(name, description, version, copyright, author, contact, loadFunction, unloadFunction) \
    CV_PLUGIN_EXPORT const uint8_t cvPluginCPUArchitecture = CV_PLUGIN_CPU_ARCHITECTURE;                         \
    CV_PLUGIN_EXPORT const uint8_t cvPluginABI = CV_PLUGIN_ABI;                                                   \
    CV_PLUGIN_EXPORT const int32_t cvPluginCompatibilityVersion = CV_PLUGIN_COMPATIBILITY_VERSION;              \
    CV_PLUGIN_EXPORT const CvPluginDescriptor cvPluginDescriptor = {                                              \
        {name, description, version, copyright, author, contact}, loadFunction, unloadFunction}

/* ---- Plug-in manager ------------------------------------------------------- */

CV_API void CvPluginManager_Initialize(void);
/* Unloads every plug-in, first loaded first; a failing unload entry point is
 * logged and the plug-in unloaded all the same. */
CV_API int CvPluginManager_Uninitialize(CvError* error);
/* Loaded plug-ins in load order. */
CV_API int CvPluginManager_GetPluginList(CvUIDList* list, CvError* error);
/* Finds the library (see above), checks its exports, calls its load entry point
 * with the settings (may be null) and lists it. *uid is CV_UID_NONE until it
 * succeeds. A failure leaves nothing loaded. */
CV_API int CvPluginManager_Load(const char* name, const StringMap* settings, CvUID* uid, CvError* error);
/* Calls the unload entry point; when it succeeds the library is unloaded. */
CV_API int CvPluginManager_Unload(CvUID uid, CvError* error);
/* Copies the 480 info bytes; zero-filled on failure. */
CV_API int CvPlugin_GetInfo(CvUID uid, CvPluginInfo* info, CvError* error);

#endif /* CORVANE_CV_PLUGIN_H */
