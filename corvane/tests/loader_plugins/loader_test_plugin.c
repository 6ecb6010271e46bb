/* Plug-ins for the plug-in manager's tests, all built from this file; compile
 * definitions choose what each one gets wrong:
 *
 *   TEST_PLUGIN_TAG "good-a"        tag of the log lines below (always given)
 *   TEST_PLUGIN_ARCHITECTURE n      exported CPU architecture byte (default: accepted)
 *   TEST_PLUGIN_ABI n               exported binary-interface byte (default: accepted)
 *   TEST_PLUGIN_COMPATIBILITY n     exported compatibility number (default: accepted)
 *   TEST_PLUGIN_WITHOUT_ARCHITECTURE, _WITHOUT_ABI, _WITHOUT_COMPATIBILITY,
 *   _WITHOUT_DESCRIPTOR             leave that export out
 *   TEST_PLUGIN_LOAD_FAILS          the load entry point fails, having registered nothing
 *   TEST_PLUGIN_FULL_TEXTS          name, description, version and rights notice
 *                                   fill their fields without a terminator
 *
 * Without any of them the plug-in is good and uses CV_DEFINE_PLUGIN.
 *
 * The entry points report every call as a level-4 log line, which the tests
 * collect in order:
 *   "<tag>: load entry point called with no settings"
 *   "<tag>: load entry point called with settings <key>=<value>;..."
 *   "<tag>: unload entry point called"
 * The setting "UnloadError" makes every later unload fail with its value as the
 * message (code 2). */
#include <corvane.h>

#include <stdio.h>
#include <string.h>

static char g_unloadError[CV_ERROR_MESSAGE_SIZE];

static void RememberUnloadError(const StringMap* settings)
{
    const char* text = settings != NULL ? StringMap_GetValue(settings, "UnloadError") : NULL;
    g_unloadError[0] = '\0';
    if (text != NULL) snprintf(g_unloadError, sizeof g_unloadError, "%s", text);
}

static void LogLoadCall(const StringMap* settings)
{
    char described[1024] = "no settings";
    if (settings != NULL) {
        size_t used = (size_t)snprintf(described, sizeof described, "settings ");
        for (int32_t i = 0; i < StringMap_GetSize(settings) && used < sizeof described; ++i)
            used += (size_t)snprintf(described + used, sizeof described - used, "%s=%s;",
                                     StringMap_GetEntryKey(settings, i), StringMap_GetEntryValue(settings, i));
    }
    CvLog(CV_LOG_DEBUG, "%s: load entry point called with %s", TEST_PLUGIN_TAG, described);
}

/* Unused where the descriptor is left out. */
#define TEST_PLUGIN_ENTRY_POINT __attribute__((unused)) static

TEST_PLUGIN_ENTRY_POINT int Load(CvUID plugin, const StringMap* settings, CvError* error)
{
    (void)plugin;
    LogLoadCall(settings);
    RememberUnloadError(settings);
#ifdef TEST_PLUGIN_LOAD_FAILS
    return CvSetThreadError(error, CV_ERROR_NOT_SUPPORTED, "Test plugin %s refuses to load: no device here",
                            TEST_PLUGIN_TAG);
#else
    return CvSetNoThreadError(error);
#endif
}

TEST_PLUGIN_ENTRY_POINT int Unload(CvError* error)
{
    CvLog(CV_LOG_DEBUG, "%s: unload entry point called", TEST_PLUGIN_TAG);
    if (g_unloadError[0] != '\0') return CvSetThreadError(error, CV_ERROR_FAILED, "%s", g_unloadError);
    return CvSetNoThreadError(error);
}

#if !defined(TEST_PLUGIN_ARCHITECTURE) && !defined(TEST_PLUGIN_ABI) && !defined(TEST_PLUGIN_COMPATIBILITY) && \
    !defined(TEST_PLUGIN_WITHOUT_ARCHITECTURE) && !defined(TEST_PLUGIN_WITHOUT_ABI) &&                     \
    !defined(TEST_PLUGIN_WITHOUT_COMPATIBILITY) && !defined(TEST_PLUGIN_WITHOUT_DESCRIPTOR) &&             \
    !defined(TEST_PLUGIN_FULL_TEXTS)

CV_DEFINE_PLUGIN("Loader Test Plugin " TEST_PLUGIN_TAG, "Records the calls of its entry points", "1.0.0.0",
                 "No rights reserved", "Corvane tests", "tests@corvane.invalid", Load, Unload);

#else

#ifndef TEST_PLUGIN_ARCHITECTURE
#define TEST_PLUGIN_ARCHITECTURE CV_PLUGIN_CPU_ARCHITECTURE
#endif
#ifndef TEST_PLUGIN_ABI
#define TEST_PLUGIN_ABI CV_PLUGIN_ABI
#endif
#ifndef TEST_PLUGIN_COMPATIBILITY
#define TEST_PLUGIN_COMPATIBILITY CV_PLUGIN_COMPATIBILITY_VERSION
#endif

#ifndef TEST_PLUGIN_WITHOUT_ARCHITECTURE
CV_PLUGIN_EXPORT const uint8_t cvPluginCPUArchitecture = TEST_PLUGIN_ARCHITECTURE;
#endif
#ifndef TEST_PLUGIN_WITHOUT_ABI
CV_PLUGIN_EXPORT const uint8_t cvPluginABI = TEST_PLUGIN_ABI;
#endif
#ifndef TEST_PLUGIN_WITHOUT_COMPATIBILITY
CV_PLUGIN_EXPORT const int32_t cvPluginCompatibilityVersion = TEST_PLUGIN_COMPATIBILITY;
#endif

#ifdef TEST_PLUGIN_FULL_TEXTS
/* C lets a literal exactly as long as the array drop its terminator. */
#define SIXTEEN "0123456789abcdef"
CV_PLUGIN_EXPORT const CvPluginDescriptor cvPluginDescriptor = {
    {SIXTEEN SIXTEEN SIXTEEN SIXTEEN,                                  /* name: 64 */
     SIXTEEN SIXTEEN SIXTEEN SIXTEEN SIXTEEN SIXTEEN SIXTEEN SIXTEEN,  /* description: 128 */
     SIXTEEN SIXTEEN,                                                  /* version: 32 */
     SIXTEEN SIXTEEN SIXTEEN SIXTEEN SIXTEEN SIXTEEN SIXTEEN SIXTEEN,  /* rights notice: 128 */
     "Corvane tests", "tests@corvane.invalid"},
    Load,
    Unload};
#elif !defined(TEST_PLUGIN_WITHOUT_DESCRIPTOR)
CV_PLUGIN_EXPORT const CvPluginDescriptor cvPluginDescriptor = {
    {"Loader Test Plugin " TEST_PLUGIN_TAG, "Gets one thing wrong", "1.0.0.0", "No rights reserved",
     "Corvane tests", "tests@corvane.invalid"},
    Load,
    Unload};
#endif

#endif
