#include "ProgressBar.h"

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace
{
constexpr int kBarWidth = 32;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
} // namespace

ProgressBar::ProgressBar(std::int64_t totalAmount, bool enable)
    : total(totalAmount), enabled(enable), start(std::chrono::steady_clock::now()), lastDraw(start)
{
}

ProgressBar::~ProgressBar()
{
    std::lock_guard<std::mutex> guard(lock);
    erase();
}

bool ProgressBar::stderrIsTerminal()
{
    return isatty(STDERR_FILENO) != 0;
}

std::string ProgressBar::format(std::int64_t done, std::int64_t total, double secondsElapsed, int width)
{
    const double fraction = total > 0 ? std::min(1.0, static_cast<double>(done) / static_cast<double>(total)) : 0.0;
    const int filled = static_cast<int>(fraction * width);
    std::string text = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                       std::string(static_cast<std::size_t>(width - filled), '-') + "]";
    char tail[64];
    if (fraction > 0.0 && secondsElapsed >= 0.5) // early estimates are noise
    {
        const long left = static_cast<long>(secondsElapsed * (1.0 - fraction) / fraction + 0.5);
        std::snprintf(tail, sizeof tail, " %3d%%  %ld:%02ld left", static_cast<int>(fraction * 100.0), left / 60,
                      left % 60);
    }
    else
    {
        std::snprintf(tail, sizeof tail, " %3d%%", static_cast<int>(fraction * 100.0));
    }
    return text + tail;
}

void ProgressBar::advance(std::int64_t amount)
{
    if (!enabled)
        return;
    std::lock_guard<std::mutex> guard(lock);
    done += amount;
    const auto now = std::chrono::steady_clock::now();
    if (drawn && now - lastDraw < kRedrawInterval && done < total)
        return;
    lastDraw = now;
    draw();
}

void ProgressBar::printAbove(std::ostream& stream, const std::string& text)
{
    std::lock_guard<std::mutex> guard(lock);
    const bool wasDrawn = drawn;
    erase();
    stream << text << std::flush;
    if (wasDrawn)
        draw();
}

void ProgressBar::draw()
{
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fprintf(stderr, "\r%s\033[K", format(done, total, elapsed, kBarWidth).c_str());
    std::fflush(stderr);
    drawn = true;
}

void ProgressBar::erase()
{
    if (!drawn)
        return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
    drawn = false;
}
