// Process-wide start and stop of the socket layer, driven by CrtInitialize and
// CrtUninitialize under their mutex.
#pragma once

namespace cvcrt {

// True when the layer is ready for use.
bool StartSocketLayer();
void StopSocketLayer();
// For tests: whether the layer is currently started.
bool SocketLayerRunning();

}  // namespace cvcrt
