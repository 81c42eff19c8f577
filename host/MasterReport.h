// The report of a mastering run for a pipeline: per file and for the album,
// as JSON (figures that do not exist, such as the loudness of silence, are
// null), and as the lines printed after each file's loudness table.
#pragma once

#include "Mastering.h"

#include <string>
#include <vector>

class MasterReport
{
public:
    static std::string json(const std::vector<MasterOutcome>& outcomes, const MasterOptions& options);
    static std::string text(const MasterOutcome& outcome, const MasterOptions& options);
    // True when every file was written and met every target.
    static bool allMet(const std::vector<MasterOutcome>& outcomes);
};
