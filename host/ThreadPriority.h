// Scheduling priority of the host's helper threads (reading, writing and
// measuring beside the plug-in): a few steps below the thread that runs the
// plug-in, so that when they share a core the plug-in goes first. The helpers
// have blocks queued to spare, and idle cores still run them at full speed.
#pragma once

class ThreadPriority
{
public:
    // Lowers the calling thread's priority (its nice value, on Linux) by a
    // few steps. Best effort: nothing happens where it is not possible.
    static void lowerCurrent();
};
