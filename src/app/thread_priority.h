#pragma once

namespace qs {

// Lowers the calling thread's priority to the lowest (nice 19), as every worker runs.
void LowerThreadPriority();

}  // namespace qs
