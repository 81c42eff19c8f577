#include "InterruptFlag.h"

#include <csignal>
#include <initializer_list>

namespace
{
std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

extern "C" void onSignal(int)
{
    interrupted.store(true);
}
} // namespace

void InterruptFlag::install()
{
    struct sigaction action{};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    std::signal(SIGXFSZ, SIG_IGN);
}

const std::atomic<bool>& InterruptFlag::flag()
{
    return interrupted;
}
