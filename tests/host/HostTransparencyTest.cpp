// orvex measure's transparency figures for the built multiband plug-in,
// against the independent double-precision model of its crossover: the five
// band kernels summed, and how far that sum is from a delayed impulse.
#include "CrossoverReference.h"
#include "PluginInstance.h"
#include "Transparency.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>

namespace
{
// The model's five kernels summed, for the crossovers the settings give;
// a delayed impulse at the centre tap (half the length - 1) would be flat.
std::vector<double> modelSum(const std::shared_ptr<PluginLibrary>& library,
                             const std::vector<ParameterSetting>& settings, double rate)
{
    PluginInstance instance(library, static_cast<float>(rate), 1024);
    ParameterResolver(instance).apply(settings);
    std::array<float, 4> hz{}, slopes{};
    for (std::size_t i = 0; i < 4; ++i)
    {
        hz[i] = instance.getParameter(1 + 3 * static_cast<int>(i));
        slopes[i] = instance.getParameter(2 + 3 * static_cast<int>(i));
    }
    const auto bands = Reference::bands(hz, slopes, rate);
    const int len = Reference::commonHalfLength(bands, rate);
    std::vector<double> sum(static_cast<std::size_t>(2 * len), 0.0);
    for (const auto& band : bands)
    {
        const std::vector<double> taps = Reference::kernel(band, rate, len);
        for (std::size_t n = 0; n < taps.size(); ++n)
            sum[n] += taps[n];
    }
    return sum;
}
} // namespace

// The flatness is the model's to a hundred-thousandth of a dB (the plug-in
// cuts each band's kernel at its own length, the model all at the longest).
// The null residual is the model's error energy, which white noise reads
// exactly; the plug-in's single-precision convolution may add up to 3 dB
// where that error is as small as at the steepest slopes.
TEST(HostTransparency, FiguresMatchTheCrossoverModel)
{
    const auto library = PluginLibrary::load(ORVEX_MULTIBAND_PLUGIN);
    // Steepest slopes, and drive the measurement must take off again.
    const std::vector<ParameterSetting> steepest = {{"Slope1", "1"}, {"Slope2", "1"},   {"Slope3", "1"},
                                                    {"Slope4", "1"}, {"3.Thresh", "-12dB"}, {"M.Thresh", "-6dB"}};
    struct Case
    {
        double rate;
        std::vector<ParameterSetting> settings;
    };
    const double pi = std::acos(-1.0);
    for (const Case& row : {Case{44100.0, {}}, Case{48000.0, steepest}})
    {
        const Transparency measured =
            TransparencyMeasurer(library, static_cast<float>(row.rate), 1024).measure(row.settings);
        const std::vector<double> sum = modelSum(library, row.settings, row.rate);
        const std::size_t centre = sum.size() / 2 - 1;
        double errorEnergy = 0.0;
        for (std::size_t n = 0; n < sum.size(); ++n)
            errorEnergy += std::pow(sum[n] - (n == centre ? 1.0 : 0.0), 2);
        double deviation = 0.0;
        for (double hz = 20.0; hz <= 20000.0; hz += row.rate / (4.0 * static_cast<double>(sum.size())))
        {
            std::complex<double> response = 0.0;
            for (std::size_t n = 0; n < sum.size(); ++n)
                response += sum[n] * std::polar(1.0, -2.0 * pi * hz * static_cast<double>(n) / row.rate);
            deviation = std::max(deviation, std::fabs(20.0 * std::log10(std::abs(response))));
        }
        const double modelNullDb = 10.0 * std::log10(errorEnergy);
        SCOPED_TRACE(row.rate);
        EXPECT_EQ(measured.idledThresholds, 6);
        EXPECT_NEAR(std::fabs(measured.deviationDb), deviation, 1e-5);
        EXPECT_GT(measured.nullRmsDb, modelNullDb - 0.1);
        EXPECT_LT(measured.nullRmsDb, modelNullDb + 3.0);
    }
}
