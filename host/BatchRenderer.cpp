#include "BatchRenderer.h"

#include "HostError.h"
#include "InterruptFlag.h"
#include "ParallelFor.h"
#include "ProgressBar.h"
#include "RenderReport.h"
#include "SoundFileReader.h"
#include "TimelinePlot.h"

#include <algorithm>
#include <atomic>
#include <sys/stat.h>

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
} // namespace

std::string BatchRenderer::conflict(const std::vector<RenderJob>& jobs, std::size_t job)
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
    const std::string& plot = jobs[job].plot;
    FileId plotId{};
    const bool plotExists = !plot.empty() && identify(plot, plotId);
    for (std::size_t other = 0; other < jobs.size() && !plot.empty(); ++other)
    {
        FileId in{};
        if ((plotExists && identify(jobs[other].input, in) && in == plotId) || plot == jobs[other].input ||
            plot == jobs[other].output)
            return "refusing to write the plot " + plot + " over an input or output; choose another";
        if (other < job && jobs[other].plot == plot)
            return "two inputs would both be plotted to " + plot;
    }
    return {};
}

namespace
{
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
    std::atomic<int> failures{0};
    std::atomic<int> damaged{0};
    parallelFor(jobs.size(), threads, [&](std::size_t job) {
        if (InterruptFlag::raised())
        {
            ++failures;
            return;
        }
        try
        {
            const std::string reason = conflict(jobs, job);
            if (!reason.empty())
                throw HostError(reason);
            const RenderResult result = renderer.render(
                jobs[job].input, jobs[job].output, [&](std::int64_t frames) { progress.advance(frames); },
                &InterruptFlag::flag());
            if (!result.inputDamage.empty())
                ++damaged;
            const std::string warnings = RenderReport::inputWarnings(jobs[job].input, result);
            if (!warnings.empty())
                progress.printAbove(errors, warnings);
            progress.printAbove(reports, RenderReport::format(jobs[job].input, jobs[job].output, result));
            if (!jobs[job].plot.empty())
                TimelinePlot::write(jobs[job].plot, result, jobs[job].input + " -> " + jobs[job].output);
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
    });
    return {failures.load(), damaged.load()};
}
