#include "MasterReport.h"

#include "RenderReport.h"
#include "SoundFormat.h"

#include <cmath>
#include <cstdio>
#include <sstream>

namespace
{
std::string quoted(const std::string& text)
{
    std::string out = "\"";
    for (const char c : text)
    {
        if (c == '"' || c == '\\')
            out += std::string("\\") + c;
        else if (static_cast<unsigned char>(c) < 0x20)
        {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        }
        else
            out += c;
    }
    return out + "\"";
}

std::string number(double value, int decimals = 3)
{
    return std::isfinite(value) ? RenderReport::number(value, decimals) : "null";
}

std::string flag(bool value)
{
    return value ? "true" : "false";
}

std::string figures(const LoudnessStats& stats)
{
    return "{\"integrated_lufs\": " + number(stats.integratedLufs) + ", \"range_lu\": " + number(stats.rangeLu) +
           ", \"sample_peak_dbfs\": " + number(stats.samplePeakDb) + ", \"true_peak_dbtp\": " +
           number(stats.truePeakDb) + "}";
}

// Each band's and the master's gain reduction; null for a plug-in without band meters.
std::string reduction(const GainReductionSummary& summary)
{
    if (!summary.present)
        return "null";
    auto instance = [&](std::size_t i) {
        return "{\"mean_db\": " + number(summary.meanDb[i]) + ", \"max_db\": " + number(summary.maxDb[i]) +
               ", \"limiting_share\": " + number(summary.limitingShare[i], 4) + "}";
    };
    std::string bands;
    for (std::size_t i = 0; i + 1 < summary.meanDb.size(); ++i)
        bands += (i ? ", " : "") + instance(i);
    return "{\"bands\": [" + bands + "], \"master\": " + instance(summary.meanDb.size() - 1) + "}";
}

std::string entry(const MasterOutcome& outcome, const MasterOptions& options, bool track, const char* indent)
{
    const DeliveryTarget& target = options.target;
    std::ostringstream out;
    const std::string in = std::string(indent) + "  ";
    out << "{\n";
    if (!outcome.input.empty() || !outcome.output.empty())
        out << in << "\"input\": " << quoted(outcome.input) << ",\n" << in << "\"output\": " << quoted(outcome.output) << ",\n";
    out << in << "\"written\": " << flag(outcome.error.empty()) << ",\n";
    if (!outcome.input.empty())
        out << in << "\"input_truncated\": " << (outcome.inputDamage.empty() ? "null" : quoted(outcome.inputDamage))
            << ",\n";
    if (!outcome.error.empty())
        return out.str() + in + "\"error\": " + quoted(outcome.error) + "\n" + indent + "}";
    out << in << "\"input_loudness\": " << figures(outcome.result.before) << ",\n"
        << in << "\"output_loudness\": " << figures(outcome.result.after) << ",\n"
        << in << "\"gain_db\": " << number(outcome.gainDb) << ",\n"
        << in << "\"drive_db\": " << number(outcome.driveDb) << ",\n"
        << in << "\"ceiling_dbtp\": " << number(outcome.ceilingDb) << ",\n"
        << in << "\"passes\": " << outcome.passes << ",\n";
    // The album's figures are its files' taken together; the meters are each file's own.
    if (!outcome.input.empty())
        out << in << "\"gain_reduction\": " << reduction(outcome.result.gainReduction) << ",\n";
    if (!options.codec.empty())
        out << in << "\"decoded_true_peak_dbtp\": " << number(outcome.decodedTruePeakDb) << ",\n";
    // An album's tracks share its loudness target: it is met or missed by
    // the album, not by each track.
    out << in << "\"loudness_target_met\": "
        << (target.hasLoudness() && !track ? flag(outcome.loudnessMet) : "null") << ",\n"
        << in << "\"true_peak_target_met\": " << (target.hasTruePeak() ? flag(outcome.truePeakMet) : "null") << ",\n"
        << in << "\"codec_target_met\": " << (options.codecSafe ? flag(outcome.codecMet) : "null") << "\n"
        << indent << "}";
    return out.str();
}
} // namespace

bool MasterReport::allMet(const std::vector<MasterOutcome>& outcomes)
{
    for (const MasterOutcome& outcome : outcomes)
        if (!outcome.met())
            return false;
    return true;
}

std::string MasterReport::json(const std::vector<MasterOutcome>& outcomes, const MasterOptions& options)
{
    const DeliveryTarget& target = options.target;
    std::ostringstream out;
    out << "{\n  \"target\": {\"loudness_lufs\": " << number(target.loudness) << ", \"true_peak_dbtp\": "
        << number(target.truePeak) << ", \"album\": " << flag(options.album) << ", \"codec\": "
        << (options.codec.empty() ? "null" : quoted(options.codec)) << ", \"codec_safe\": " << flag(options.codecSafe)
        << "},\n  \"files\": [";
    const std::size_t files = options.album ? outcomes.size() - 1 : outcomes.size();
    for (std::size_t i = 0; i < files; ++i)
        out << (i ? ", " : "") << entry(outcomes[i], options, options.album, "    ");
    out << "],\n";
    if (options.album)
        out << "  \"album\": " << entry(outcomes.back(), options, false, "  ") << ",\n";
    out << "  \"all_targets_met\": " << flag(allMet(outcomes)) << "\n}\n";
    return out.str();
}

std::string MasterReport::text(const MasterOutcome& outcome, const MasterOptions& options)
{
    const DeliveryTarget& target = options.target;
    std::string line = "  gain " + RenderReport::number(outcome.gainDb, 2) + " dB, drive " +
                       RenderReport::number(outcome.driveDb, 2) + " dB";
    if (!std::isnan(outcome.ceilingDb))
        line += ", ceiling " + RenderReport::number(outcome.ceilingDb, 2) + " dBTP";
    line += ", " + std::to_string(outcome.passes) + (outcome.passes == 1 ? " pass" : " passes");
    if (!options.codec.empty())
        line += ", " + options.codec + " decoded " + RenderReport::number(outcome.decodedTruePeakDb, 2) + " dBTP";
    line += "\n";
    std::string missed;
    if (target.hasLoudness() && !outcome.loudnessMet)
        missed += "  MISSED loudness target " + RenderReport::number(target.loudness, 1) + " LUFS by " +
                  RenderReport::number(outcome.result.after.integratedLufs - target.loudness, 2) + " LU\n";
    if (target.hasTruePeak() && !outcome.truePeakMet)
        missed += "  MISSED true-peak target " + RenderReport::number(target.truePeak, 1) + " dBTP by " +
                  RenderReport::number(outcome.result.after.truePeakDb - target.truePeak, 3) + " dB\n";
    if (options.codecSafe && !outcome.codecMet)
        missed += "  MISSED true-peak target after " + options.codec + " by " +
                  RenderReport::number(outcome.decodedTruePeakDb - target.truePeak, 3) + " dB\n";
    return line + missed;
}
