// Checks shared by the two command paths (resource services and machine
// services) before any lock is taken.
#pragma once

#include <corvane.h>

#include "managers/fixed_text.h"

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

// Service descriptors are copied with their type terminated.
inline void TerminateTexts(CvServiceDescriptor& descriptor) { TerminateField(descriptor.info.type); }

}  // namespace corvane
