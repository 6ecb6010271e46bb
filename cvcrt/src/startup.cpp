// Runtime start-up: a process-wide counter under one statically initialised mutex.
// The counter is 0 or 1: a second CrtInitialize does not nest, so the first
// CrtUninitialize stops the socket layer. An unbalanced CrtUninitialize leaves the
// counter at 0, so a later CrtInitialize still starts the layer.
#include <pthread.h>

#include "cvcrt/runtime.h"
#include "socket_layer.h"

namespace {

pthread_mutex_t g_startupMutex = PTHREAD_MUTEX_INITIALIZER;
int g_startupCount = 0;
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
    if (g_startupCount != 0) return 0;
    if (!cvcrt::StartSocketLayer()) return -1;
    g_startupCount = 1;
    return 0;
}

void CrtUninitialize(void) {
    StartupLock lock;
    if (g_startupCount <= 0) return;
    if (g_startupCount == 1) cvcrt::StopSocketLayer();
    --g_startupCount;
}

int CrtGetAbi(void) { return CRT_ABI; }
int CrtGetArch(void) { return CRT_ARCH; }
int CrtGetPlatform(void) { return CRT_PLATFORM; }
int CrtGetEndian(void) { return CRT_ENDIAN; }
