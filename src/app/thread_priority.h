#pragma once

#include <functional>
#include <thread>

namespace qs {

// Lowers the calling thread's priority to the lowest (nice 19), as every worker runs.
void LowerThreadPriority();

// A thread inherits the priority of the thread that starts it, and cannot raise it again
// without privileges: a thread a worker starts would run at the lowest priority too.
// StartAtNormalPriority starts `body` on a thread of the priority of the thread that called
// KeepNormalPriorityHere (the engine's, when it opens), whichever thread asks. Before that
// call, or in a forked child, it starts the thread itself.
void KeepNormalPriorityHere();
std::thread StartAtNormalPriority(std::function<void()> body);

}  // namespace qs
