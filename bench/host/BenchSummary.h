// A console reporter that also keeps each benchmark's real and CPU time per
// iteration (seconds, for benchmarks timed in milliseconds), for a summary
// line of ratios measured in the same run:
// the median of the repetitions when there are several, else the single run.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

class SummaryReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
        {
            const std::string name =
                run.run_name.function_name + (run.run_name.args.empty() ? "" : "/" + run.run_name.args);
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
            {
                medians[name] = run.GetAdjustedRealTime() / 1e3;
                medians["cpu:" + name] = run.GetAdjustedCPUTime() / 1e3;
            }
            else if (run.run_type == Run::RT_Iteration && run.iterations > 0)
            {
                singles[name] = run.GetAdjustedRealTime() / 1e3;
                singles["cpu:" + name] = run.GetAdjustedCPUTime() / 1e3;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    // Real time; the CPU time under the name "cpu:" + name.
    double seconds(const std::string& name) const
    {
        const auto median = medians.find(name);
        if (median != medians.end())
            return median->second;
        const auto single = singles.find(name);
        return single != singles.end() ? single->second : 0.0;
    }

private:
    std::map<std::string, double> medians;
    std::map<std::string, double> singles;
};
