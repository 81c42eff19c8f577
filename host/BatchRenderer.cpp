#include "BatchRenderer.h"

#include "HostError.h"
#include "InterruptFlag.h"
#include "ProgressBar.h"
#include "RenderReport.h"
#include "SoundFileReader.h"

#include <algorithm>
#include <atomic>
#include <sys/stat.h>
#include <thread>

namespace
{
struct FileId
{
    dev_t device;
    ino_t inode;
    bool operator==(const FileId& other) const { return device == other.device && inode == other.inode; }
};

bool identify(const std::string& path, FileId& id)
{
    struct stat info{};
    if (stat(path.c_str(), &info) != 0)
        return false;
    id = {info.st_dev, info.st_ino};
    return true;
}

// The reason a job must not run, or empty.
std::string conflict(const std::vector<RenderJob>& jobs, std::size_t job)
{
    FileId out{};
    const bool outputExists = identify(jobs[job].output, out);
    for (std::size_t other = 0; other < jobs.size(); ++other)
    {
        FileId in{};
        if ((outputExists && identify(jobs[other].input, in) && in == out) || jobs[other].input == jobs[job].output)
            return "refusing to overwrite the input " + jobs[other].input + "; choose another output";
        if (other < job && jobs[other].output == jobs[job].output)
            return "two inputs would both be written to " + jobs[job].output;
    }
    return {};
}

std::int64_t totalFrames(const std::vector<RenderJob>& jobs)
{
    std::int64_t total = 0;
    for (const RenderJob& job : jobs)
    {
        try
        {
            total += SoundFileReader(job.input).frames();
        }
        catch (const HostError&)
        {
            // Reported when the job runs.
        }
    }
    return total;
}
} // namespace

BatchOutcome BatchRenderer::run(const std::vector<RenderJob>& jobs, std::ostream& reports, std::ostream& errors,
                       bool showProgress) const
{
    ProgressBar progress(showProgress ? totalFrames(jobs) : 0, showProgress);
    std::atomic<std::size_t> next{0};
    std::atomic<int> failures{0};
    std::atomic<int> damaged{0};

    auto worker = [&] {
        for (std::size_t job = next++; job < jobs.size(); job = next++)
        {
            if (InterruptFlag::raised())
            {
                ++failures;
                continue;
            }
            try
            {
                const std::string reason = conflict(jobs, job);
                if (!reason.empty())
                    throw HostError(reason);
                const RenderResult result = renderer.render(
                    jobs[job].input, jobs[job].output, [&](std::int64_t frames) { progress.advance(frames); },
                    &InterruptFlag::flag());
                std::string warnings;
                if (!result.inputDamage.empty())
                {
                    ++damaged;
                    warnings += "orvex: warning: " + jobs[job].input + " is damaged: " + result.inputDamage +
                                "; rendered the " + std::to_string(result.frames) + " frames it holds\n";
                }
                if (!result.inputWarning.empty())
                    warnings += "orvex: warning: " + jobs[job].input + ": " + result.inputWarning + "\n";
                if (!warnings.empty())
                    progress.printAbove(errors, warnings);
                progress.printAbove(reports, RenderReport::format(jobs[job].input, jobs[job].output, result));
            }
            catch (const DamagedInputError& error)
            {
                ++damaged;
                progress.printAbove(errors, std::string("orvex: ") + error.what() + "\n");
            }
            catch (const std::exception& error)
            {
                ++failures;
                progress.printAbove(errors, std::string("orvex: ") + error.what() + "\n");
            }
        }
    };
    const int count = std::max(1, std::min<int>(threads, static_cast<int>(jobs.size())));
    std::vector<std::thread> pool;
    for (int i = 1; i < count; ++i)
        pool.emplace_back(worker);
    worker();
    for (std::thread& thread : pool)
        thread.join();
    return {failures.load(), damaged.load()};
}
