// Renders many files in parallel, one plug-in instance per file, reporting
// each file as it completes. One file's failure does not stop the others.
#pragma once

#include "Renderer.h"

#include <ostream>
#include <string>
#include <vector>

struct RenderJob
{
    std::string input;
    std::string output;
    std::string plot = {}; // where its TimelinePlot goes, or empty for none
};

struct BatchOutcome
{
    int failed = 0;  // jobs that wrote no output for any reason but a damaged input
    int damaged = 0; // damaged inputs, refused or (when allowed) rendered as far as they go
};

class BatchRenderer
{
public:
    BatchRenderer(const Renderer& renderer, int threads) : renderer(renderer), threads(threads) {}

    // Refuses (as failures, before rendering) jobs whose output is one of the
    // inputs or the output of an earlier job, or whose plot would replace an
    // input, an output or an earlier job's plot. A job with a plot writes it
    // once its output is written. Reports go to `reports`, one
    // "orvex: " line per failure or warning to `errors`.
    BatchOutcome run(const std::vector<RenderJob>& jobs, std::ostream& reports, std::ostream& errors,
                     bool showProgress) const;

    // Why job `job` must not run (its output is an input, or an earlier
    // job's output; its plot an input, an output or an earlier job's plot),
    // or empty.
    static std::string conflict(const std::vector<RenderJob>& jobs, std::size_t job);

private:
    const Renderer& renderer;
    int threads;
};
