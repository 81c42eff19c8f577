#include "ThreadPriority.h"

#include <algorithm>
#include <cerrno>

#if defined(__linux__)
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace
{
constexpr int kSteps = 5;
constexpr int kLowest = 19;
} // namespace

void ThreadPriority::lowerCurrent()
{
#if defined(__linux__)
    // Linux keeps a nice value per thread; the thread id selects this one.
    const auto thread = static_cast<id_t>(syscall(SYS_gettid));
    errno = 0;
    const int current = getpriority(PRIO_PROCESS, thread);
    if (errno == 0)
        static_cast<void>(setpriority(PRIO_PROCESS, thread, std::min(current + kSteps, kLowest)));
#endif
}
