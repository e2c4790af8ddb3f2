#include "app/thread_priority.h"

#include <sys/resource.h>
#include <unistd.h>

namespace qs {

void LowerThreadPriority() {
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19);
}

}  // namespace qs
