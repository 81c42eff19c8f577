// Ctrl-C and termination requests, turned into a flag that long-running work
// polls, so it can stop cleanly and remove its temporary files.
#pragma once

#include <atomic>

class InterruptFlag
{
public:
    // Installs handlers for SIGINT, SIGTERM and SIGHUP, and ignores SIGXFSZ so
    // that exceeding a file-size limit fails the write instead of killing us.
    static void install();
    static const std::atomic<bool>& flag();
    static bool raised() { return flag().load(); }
};
