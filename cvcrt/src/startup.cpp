// Runtime start-up: one process-wide flag under one statically initialised mutex.
// Calls do not nest: a second CrtInitialize finds the layer running and changes
// nothing, and the first CrtUninitialize stops it. An unbalanced CrtUninitialize
// finds it stopped, so a later CrtInitialize still starts the layer.
#include <pthread.h>

#include "cvcrt/runtime.h"
#include "socket_layer.h"

namespace {

pthread_mutex_t g_startupMutex = PTHREAD_MUTEX_INITIALIZER;
bool g_socketLayerRunning = false;

class StartupLock {
public:
    StartupLock() { pthread_mutex_lock(&g_startupMutex); }
    ~StartupLock() { pthread_mutex_unlock(&g_startupMutex); }
    StartupLock(const StartupLock&) = delete;
    StartupLock& operator=(const StartupLock&) = delete;
};

}  // namespace

namespace cvcrt {

// Linux sockets need no library start-up; the flag records the state so the
// start-up contract stays observable.
bool StartSocketLayer() {
    g_socketLayerRunning = true;
    return true;
}

void StopSocketLayer() { g_socketLayerRunning = false; }

bool SocketLayerRunning() {
    StartupLock lock;
    return g_socketLayerRunning;
}

}  // namespace cvcrt

int CrtInitialize(void) {
    StartupLock lock;
    if (g_socketLayerRunning) return 0;
    return cvcrt::StartSocketLayer() ? 0 : -1;
}

void CrtUninitialize(void) {
    StartupLock lock;
    if (g_socketLayerRunning) cvcrt::StopSocketLayer();
}

int CrtGetAbi(void) { return CRT_ABI; }
int CrtGetArch(void) { return CRT_ARCH; }
int CrtGetPlatform(void) { return CRT_PLATFORM; }
int CrtGetEndian(void) { return CRT_ENDIAN; }
