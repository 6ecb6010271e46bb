#include "command_relay.h"

#include <cstring>

#include "local_machine.h"

namespace cvpl_local {
namespace {

// Lives from the submit until the command completes (or the submit is refused).
struct Relay {
    LocalMachine* machine;
    CvCommandCompletion saved;  // the submitter's record as it was handed in
};

// Called by the service, on any thread, when the command is complete.
void RelayComplete(CvCommandCompletion* completion, CvCommand* command)
{
    auto* relay = static_cast<Relay*>(completion->context);
    // The outcome the service wrote into completion->error stays.
    completion->context = relay->saved.context;
    completion->complete = relay->saved.complete;
    const CvUID machine = relay->machine->machine;
    CvFree(relay);
    // The submitter may release the record in its completion function.
    if (completion->complete != nullptr) completion->complete(completion, command);
    CvMachine_NotifyCommandCompleted(machine);
}

}  // namespace

bool InstallRelay(LocalMachine& machine, CvCommandCompletion* completion, CvError* error)
{
    if (completion == nullptr) {
        CvSetThreadError(error, CV_ERROR_INVALID_INPUT, "Command completion record is null");
        return false;
    }
    auto* relay = static_cast<Relay*>(CvAlloc(sizeof(Relay)));
    if (relay == nullptr) {
        CvSetThreadError(error, CV_ERROR_INTERNAL, "Out of memory while relaying a submitted command");
        return false;
    }
    relay->machine = &machine;
    std::memcpy(&relay->saved, completion, sizeof relay->saved);
    completion->context = relay;
    CvSetNoThreadError(&completion->error);
    completion->complete = RelayComplete;
    return true;
}

void UndoRelay(CvCommandCompletion* completion)
{
    auto* relay = static_cast<Relay*>(completion->context);
    std::memcpy(completion, &relay->saved, sizeof *completion);
    CvFree(relay);
}

}  // namespace cvpl_local
