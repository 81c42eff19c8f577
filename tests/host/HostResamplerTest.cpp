// Sample-rate conversion for the codec check: tones come out as the same
// tones at the new rate, whatever the input's chunking; content above the
// new Nyquist is removed.
#include "Resampler.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(HostResampler, TonesKeepTheirShapeAndChunkingDoesNotMatter)
{
    struct Row
    {
        int from;
        int to;
        double hz;
        double level; // expected amplitude out
    };
    const Row rows[] = {
        {44100, 48000, 1000.0, 1.0}, {44100, 48000, 19000.0, 1.0}, {96000, 48000, 5000.0, 1.0},
        {96000, 48000, 30000.0, 0.0}, {22050, 48000, 3000.0, 1.0},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(std::to_string(row.from) + " -> " + std::to_string(row.to) + " Hz, " + std::to_string(row.hz));
        const int frames = row.from; // one second, stereo: the right channel inverted
        std::vector<float> in;
        for (int n = 0; n < frames; ++n)
        {
            const float x = static_cast<float>(0.5 * std::sin(2.0 * M_PI * row.hz * n / row.from));
            in.push_back(x);
            in.push_back(-x);
        }
        std::vector<float> whole, chunked;
        Resampler one(2, row.from, row.to);
        one.process(in.data(), frames, whole);
        one.finish(whole);
        Resampler pieces(2, row.from, row.to);
        for (int done = 0, size = 1; done < frames; done += size, size = size * 3 % 4099 + 1)
            pieces.process(in.data() + 2 * done, std::min(size, frames - done), chunked);
        pieces.finish(chunked);
        EXPECT_EQ(whole, chunked);
        ASSERT_EQ(static_cast<int>(whole.size()), 2 * row.to); // the same second

        // Away from the ends, where the input's start and stop ring.
        double error = 0.0;
        for (int n = row.to / 10; n < row.to - row.to / 10; ++n)
        {
            const double expected = row.level * 0.5 * std::sin(2.0 * M_PI * row.hz * n / row.to);
            error = std::max(error, std::fabs(whole[static_cast<std::size_t>(2 * n)] - expected));
            EXPECT_EQ(whole[static_cast<std::size_t>(2 * n + 1)], -whole[static_cast<std::size_t>(2 * n)]);
        }
        EXPECT_LT(error, 0.5 * 2e-3); // -54 dB
    }
}
