#include "audio/dsp/Biquad.hpp"
#include "audio/dsp/LinearSmoother.hpp"
#include "audio/dsp/Pan.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace somnara::dsp {
namespace {

TEST(LinearSmoother, ReachesTheTargetExactlyAfterTheRampAndMovesEvenlyOnTheWay) {
    struct Case {
        float from, to;
        std::size_t frames;
    };
    for (const Case c : {Case{0.0f, 1.0f, 100}, Case{1.0f, 0.0f, 441}, Case{-96.0f, 24.0f, 882},
                         Case{0.3f, 0.3001f, 7}, Case{5.0f, -5.0f, 1}}) {
        SCOPED_TRACE(testing::Message() << c.from << " -> " << c.to << " over " << c.frames);
        LinearSmoother s(c.from);
        s.setTarget(c.to, c.frames);
        float previous = c.from;
        const float step = (c.to - c.from) / static_cast<float>(c.frames);
        for (std::size_t i = 0; i < c.frames; ++i) {
            EXPECT_TRUE(s.isSmoothing());
            const float v = s.next();
            EXPECT_NEAR(v - previous, step, 1e-4f * std::max(1.0f, std::abs(c.to - c.from)));
            previous = v;
        }
        EXPECT_EQ(previous, c.to);
        EXPECT_FALSE(s.isSmoothing());
        EXPECT_EQ(s.next(), c.to);
    }
}

TEST(LinearSmoother, SkippingAndFillingGiveTheSameValuesAsSteppingOneByOne) {
    LinearSmoother stepped(0.0f), skipped(0.0f), filled(0.0f);
    for (auto* s : {&stepped, &skipped, &filled}) {
        s->setTarget(0.8f, 1000);
    }
    std::vector<float> block(37);
    for (int round = 0; round < 30; ++round) {
        float last = 0.0f;
        for (std::size_t i = 0; i < block.size(); ++i) {
            last = stepped.next();
        }
        skipped.skip(block.size());
        filled.fill(block.data(), block.size());
        EXPECT_EQ(skipped.current(), last);
        EXPECT_EQ(block.back(), last);
    }
}

TEST(LinearSmoother, RetargetingMidGlideStartsFromWhereItIs) {
    LinearSmoother s(0.0f);
    s.setTarget(1.0f, 100);
    for (int i = 0; i < 40; ++i) {
        s.next();
    }
    const float here = s.current();
    s.setTarget(0.0f, 10);
    EXPECT_NEAR(s.current(), here, 1e-6f);
    EXPECT_NEAR(s.next(), here - here / 10.0f, 1e-6f);
    // The same target again does not restart the glide.
    s.setTarget(0.0f, 1000);
    EXPECT_EQ(s.remainingFrames(), 9u);
}

TEST(LinearSmoother, ApplyGainLeavesSamplesUntouchedAtASteadyUnity) {
    std::vector<float> data = {0.1f, -0.2f, 0.3f};
    const auto copy = data;
    LinearSmoother unity(1.0f);
    unity.applyGain(data.data(), data.size());
    EXPECT_EQ(data, copy);
    LinearSmoother half(0.5f);
    half.applyGain(data.data(), data.size());
    EXPECT_FLOAT_EQ(data[2], 0.15f);
}

TEST(StereoPan, CentreIsIdentityAndTheSidesFoldOneChannelIntoTheOther) {
    struct Case {
        float pan;
        float l, r;             // input frame
        float expectL, expectR; // from the sine law written out
    };
    const float c45 = static_cast<float>(std::cos(std::numbers::pi / 4));
    const std::vector<Case> cases = {
        {0.0f, 0.3f, -0.7f, 0.3f, -0.7f},        {-1.0f, 0.3f, -0.7f, 0.3f - 0.7f, 0.0f},
        {1.0f, 0.3f, -0.7f, 0.0f, -0.7f + 0.3f}, {-0.5f, 1.0f, 1.0f, 1.0f + c45, c45},
        {0.5f, 1.0f, 1.0f, c45, 1.0f + c45},     {2.0f, 0.3f, -0.7f, 0.0f, -0.4f}, // clamped to 1
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pan);
        float l = c.l, r = c.r;
        applyStereoPan(stereoPanGains(c.pan), l, r);
        EXPECT_NEAR(l, c.expectL, 2e-6f);
        EXPECT_NEAR(r, c.expectR, 2e-6f);
    }
    float l = 0.123f, r = -0.456f;
    applyStereoPan(stereoPanGains(0.0f), l, r);
    EXPECT_EQ(l, 0.123f); // bit-exact at the centre
    EXPECT_EQ(r, -0.456f);
}

TEST(StereoPan, PowerOfUncorrelatedChannelsStaysConstantAcrossTheSweep) {
    // For independent unit-power channels the output power is gLL² + gLR² + gRL² + gRR², which the sine law
    // keeps at 2 everywhere; the gains also move monotonically.
    float previousRightFromRight = 0.0f;
    for (int i = 0; i <= 200; ++i) {
        const float pan = -1.0f + static_cast<float>(i) / 100.0f;
        const auto g = stereoPanGains(pan);
        const float power = g.leftFromLeft * g.leftFromLeft + g.leftFromRight * g.leftFromRight +
                            g.rightFromLeft * g.rightFromLeft + g.rightFromRight * g.rightFromRight;
        EXPECT_NEAR(power, 2.0f, 1e-5f) << pan;
        if (pan <= 0.0f) {
            EXPECT_GE(g.rightFromRight, previousRightFromRight);
            previousRightFromRight = g.rightFromRight;
        }
    }
}

TEST(BiquadDesign, MeetsTheCookbookDefinitionsOfItsParameters) {
    constexpr double fs = 48000.0;
    // Peaking: the requested gain at the centre and half of it (in dB) at the band edges f0·2^(±BW/2) (the
    // bilinear transform skews the edges as they near Nyquist, so those are checked in the lower range).
    for (const double bw : {0.1, 1.0, 3.0}) {
        for (const double f0 : {100.0, 1000.0, 10000.0}) {
            SCOPED_TRACE(testing::Message() << f0 << " Hz, " << bw << " oct");
            const auto c = designBiquad(EQFilterType::parametric, f0, bw, 12.0, fs);
            EXPECT_NEAR(20 * std::log10(biquadMagnitude(c, f0, fs)), 12.0, 1e-6);
            if (f0 * std::pow(2.0, bw / 2) < 0.05 * fs) {
                EXPECT_NEAR(20 * std::log10(biquadMagnitude(c, f0 * std::pow(2.0, bw / 2), fs)), 6.0, 0.1);
                EXPECT_NEAR(20 * std::log10(biquadMagnitude(c, f0 * std::pow(2.0, -bw / 2), fs)), 6.0, 0.1);
            }
        }
    }
    // Butterworth low and high pass: -3 dB at the frequency, unity far away in the pass band.
    const auto lp = designBiquad(EQFilterType::lowPass, 2000, 1, 0, fs);
    EXPECT_NEAR(20 * std::log10(biquadMagnitude(lp, 2000, fs)), -3.01, 0.01);
    EXPECT_NEAR(biquadMagnitude(lp, 20, fs), 1.0, 1e-3);
    const auto hp = designBiquad(EQFilterType::highPass, 500, 1, 0, fs);
    EXPECT_NEAR(20 * std::log10(biquadMagnitude(hp, 500, fs)), -3.01, 0.01);
    EXPECT_NEAR(biquadMagnitude(hp, 15000, fs), 1.0, 1e-3);
    // Shelves: full gain deep in the shelf, half at the frequency, none on the other side.
    const auto ls = designBiquad(EQFilterType::lowShelf, 300, 1, -10, fs);
    EXPECT_NEAR(20 * std::log10(biquadMagnitude(ls, 10, fs)), -10.0, 0.05);
    EXPECT_NEAR(20 * std::log10(biquadMagnitude(ls, 300, fs)), -5.0, 0.01);
    EXPECT_NEAR(20 * std::log10(biquadMagnitude(ls, 15000, fs)), 0.0, 0.05);
    const auto hs = designBiquad(EQFilterType::highShelf, 3000, 1, 8, fs);
    EXPECT_NEAR(20 * std::log10(biquadMagnitude(hs, 3000, fs)), 4.0, 0.01);
    EXPECT_NEAR(20 * std::log10(biquadMagnitude(hs, 20000, fs)), 8.0, 0.1);
    // Band pass peaks at 0 dB; band stop removes the centre.
    EXPECT_NEAR(biquadMagnitude(designBiquad(EQFilterType::bandPass, 1000, 1, 0, fs), 1000, fs), 1.0, 1e-9);
    EXPECT_LT(biquadMagnitude(designBiquad(EQFilterType::bandStop, 1000, 1, 0, fs), 1000, fs), 1e-9);
    // A gain of 0 dB is the identity; out-of-range input is clamped, never unstable.
    const auto flat = designBiquad(EQFilterType::parametric, 1000, 1, 0, fs);
    EXPECT_NEAR(biquadMagnitude(flat, 123, fs), 1.0, 1e-12);
    const auto clamped = designBiquad(EQFilterType::parametric, 1e9, 100, -1000, fs);
    EXPECT_LT(std::abs(clamped.a2), 1.0);
    EXPECT_TRUE(std::isfinite(clamped.b0));
}

} // namespace
} // namespace somnara::dsp
