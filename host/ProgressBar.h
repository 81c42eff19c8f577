// A one-line progress bar with the time left, drawn on stderr when stderr is
// a terminal and silent otherwise. advance() may be called from any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <ostream>
#include <string>

class ProgressBar
{
public:
    ProgressBar(std::int64_t total, bool enabled);
    ~ProgressBar(); // erases the bar

    static bool stderrIsTerminal();

    void advance(std::int64_t amount);
    // Prints text (ending in a newline) on stream without tearing the bar.
    void printAbove(std::ostream& stream, const std::string& text);

    // "[#####-----]  50%  0:12 left", width characters of bar.
    static std::string format(std::int64_t done, std::int64_t total, double secondsElapsed, int width);

private:
    void draw();
    void erase();

    std::mutex lock;
    std::int64_t total;
    std::int64_t done = 0;
    bool enabled;
    bool drawn = false;
    std::chrono::steady_clock::time_point start;
    std::chrono::steady_clock::time_point lastDraw;
};
