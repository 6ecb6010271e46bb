// Submitted commands through a local machine: the bridge stands between the
// service and the submitter's completion record so that the machine manager
// learns when the command is complete, after the submitter has.
#pragma once

#include <corvane.h>

namespace cvpl_local {

struct LocalMachine;

// Submits through `submit` (the local manager's submit call, bound to its
// service) with the bridge's relay in the completion record. A refusal leaves
// the submitter's record exactly as it was.
template <class Submit>
int RelaySubmit(LocalMachine& machine, CvCommandCompletion* completion, CvError* error, Submit&& submit);

// Installs the relay in the completion record; false (error filled) when the
// record is null or memory runs out. UndoRelay restores the record after a refusal.
bool InstallRelay(LocalMachine& machine, CvCommandCompletion* completion, CvError* error);
void UndoRelay(CvCommandCompletion* completion);

template <class Submit>
int RelaySubmit(LocalMachine& machine, CvCommandCompletion* completion, CvError* error, Submit&& submit)
{
    if (!InstallRelay(machine, completion, error)) return 0;
    if (submit(completion) != 0) return 1;
    UndoRelay(completion);
    return 0;
}

}  // namespace cvpl_local
