// Checks shared by the two command paths (resource services and machine
// services) before any lock is taken.
#pragma once

#include <corvane.h>

#include <cstring>
#include <string>

namespace corvane {

// Refuses a missing command and, checking buffers 0 to 3 in order, the first
// buffer that has a length but no memory: the service must never be handed a
// length it cannot honour. Code 4 (bad input).
inline bool CheckCommandBuffers(const CvCommand* command, CvError* error)
{
    if (command == nullptr) {
        CvSetThreadError(error, CV_ERROR_INVALID_INPUT, "Command is null");
        return false;
    }
    for (int i = 0; i < CV_COMMAND_BUFFER_COUNT; ++i) {
        if (command->bufferLengths[i] != 0 && command->buffers[i] == nullptr) {
            CvSetThreadError(error, CV_ERROR_INVALID_INPUT, "Data buffer %d is null but has a length of %u bytes", i,
                             command->bufferLengths[i]);
            return false;
        }
    }
    return true;
}

// Copy of a fixed-width text field that is always terminated, so a full field
// without a NUL from a plug-in can never be read past its end.
template <std::size_t N>
void TerminateField(char (&field)[N])
{
    field[N - 1] = '\0';
}

// A plug-in may leave an error message unterminated; logs read it through this.
inline std::string ErrorText(const CvError& error)
{
    return std::string(error.message, strnlen(error.message, sizeof error.message));
}

// Calls a service's dispose function; a service without one has nothing to release.
inline int DisposeService(const CvServiceDescriptor& descriptor, CvError* error)
{
    if (descriptor.dispose == nullptr) return CvSetNoThreadError(error);
    return descriptor.dispose(descriptor.userData, error);
}

// Service descriptors are copied with their type terminated.
inline void TerminateTexts(CvServiceDescriptor& descriptor) { TerminateField(descriptor.info.type); }

}  // namespace corvane
