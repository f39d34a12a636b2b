#include "DspRenderSupport.hpp"

#include <gtest/gtest.h>
#include <support/SignalMeasurements.hpp>

#include <cmath>

namespace somnara::dsp::test {
namespace {

using somnara::test::makeNoise;
using somnara::test::rms;
using somnara::test::schroederDecayTime;

Stereo impulseResponse(ReverbPreset preset, double seconds) {
    Stereo in(static_cast<std::size_t>(seconds * rate));
    in.left[0] = in.right[0] = 1.0f;
    return processInBlocks(*makeReverb(100.0f, preset), in, {1024});
}

// Each preset's broadband T30 lies in the range of its kind of space, and they decay in the order of
// their spaces. The large hall, designed for 2.4 s at low frequencies and half that at the top, must lie
// between 1.8 and 2.6 s in both channels; nothing arrives in its first 25 ms (the pre-delay), and its
// left and right are different mixes of the network: decorrelated, not a copy; its highs die away first.
TEST(ReverbRender, PresetsDecayInTheOrderOfTheirSpaces) {
    struct Case {
        ReverbPreset preset;
        double minT30;
        double maxT30;
    };
    const std::vector<Case> cases = {
        {ReverbPreset::smallRoom, 0.2, 0.7},  {ReverbPreset::mediumRoom, 0.4, 1.0},
        {ReverbPreset::mediumHall, 1.2, 2.0}, {ReverbPreset::largeHall, 1.8, 2.6},
        {ReverbPreset::largeHall2, 2.0, 3.0}, {ReverbPreset::cathedral, 3.2, 5.5},
        {ReverbPreset::plate, 1.1, 1.9},
    };
    double previous = 0.0;
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.preset));
        const Stereo ir = impulseResponse(c.preset, 2.5 * c.maxT30);
        for (const auto* channel : {&ir.left, &ir.right}) {
            const auto t30 = schroederDecayTime(*channel, rate);
            ASSERT_TRUE(t30.has_value());
            EXPECT_GE(*t30, c.minT30);
            EXPECT_LE(*t30, c.maxT30);
            if (c.preset != ReverbPreset::plate && channel == &ir.left) {
                EXPECT_GT(*t30, previous);
                previous = *t30;
            }
        }
        if (c.preset != ReverbPreset::largeHall) {
            continue;
        }
        EXPECT_LT(somnara::test::peak(slice(ir.left, 0, static_cast<std::size_t>(0.024 * rate))), 1e-6);
        double cross = 0, ll = 0, rr = 0;
        for (std::size_t i = 0; i < ir.frames(); ++i) {
            cross += static_cast<double>(ir.left[i]) * ir.right[i];
            ll += static_cast<double>(ir.left[i]) * ir.left[i];
            rr += static_cast<double>(ir.right[i]) * ir.right[i];
        }
        EXPECT_LT(std::abs(cross) / std::sqrt(ll * rr), 0.3);
        // High frequencies die away faster.
        const auto tail = [&](double from) {
            return brightness(
                slice(ir.left, static_cast<std::size_t>(from * rate), static_cast<std::size_t>(0.2 * rate)));
        };
        EXPECT_LT(tail(1.5), 0.7 * tail(0.1));
    }
}

TEST(ReverbRender, WetLevelIsComparableToTheDryLevel) {
    // A steady noise through the fully wet reverb comes out neither buried nor much louder (within ±6 dB),
    // for every preset, so moving between presets or raising the mix does not jump in loudness.
    for (int p = 0; p <= 12; ++p) {
        SCOPED_TRACE(p);
        const std::size_t frames = static_cast<std::size_t>(4 * rate);
        const Stereo in(makeNoise(frames, 0.3), makeNoise(frames, 0.3, 9));
        const Stereo out = processInBlocks(*makeReverb(100.0f, static_cast<ReverbPreset>(p)), in, {1024});
        const double db =
            somnara::test::toDecibels(rms(slice(out.left, frames / 2, frames / 2)) / rms(in.left));
        EXPECT_GT(db, -6.0);
        EXPECT_LT(db, 6.0);
    }
}

} // namespace
} // namespace somnara::dsp::test
