// A stand-in for the system seam (platform/system.h) in the command and search job tests. Linked
// into the test executable, it defines every routine of the seam, so the platform's own system
// object is never taken from its library: workers are real threads that the tests can wait for,
// and addresses handed to the default browser are recorded instead of opened.
#pragma once

#include "text/text_value.h"

#include <vector>

namespace recording {

// Forgets the addresses opened and the workers started so far. Workers still running are not
// touched.
void ResetSystem();

// Workers started since the last ResetSystem.
int WorkersStarted();
// The next count starts fail as when the system cannot create a thread: the job is dropped unrun.
void FailWorkerStarts(int count);
// The next worker started waits before it runs its job until ReleaseHeldWorker, as a thread that
// the system runs late.
void HoldNextWorker();
void ReleaseHeldWorker();
// Waits until every worker started so far has ended and joins it. False when the timeout passes
// first; the workers still running are then left to end on their own.
bool JoinWorkers(int timeoutMs = 20000);

std::vector<AnsiText> OpenedAddresses();

}  // namespace recording
