#include "audio/dsp/Biquad.hpp"
#include "audio/dsp/LinearSmoother.hpp"

#include <gtest/gtest.h>

#include <cmath>

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

// Skipping a block (a silent voice) lands where stepping through it would have.
TEST(LinearSmoother, SkippingGivesTheSameValuesAsSteppingOneByOne) {
    LinearSmoother stepped(0.0f), skipped(0.0f);
    stepped.setTarget(0.8f, 1000);
    skipped.setTarget(0.8f, 1000);
    for (int round = 0; round < 30; ++round) {
        float last = 0.0f;
        for (int i = 0; i < 37; ++i) {
            last = stepped.next();
        }
        skipped.skip(37);
        EXPECT_EQ(skipped.current(), last);
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

// Measured responses are checked by rendering; here only that input out of range cannot make a filter
// unstable.
TEST(BiquadDesign, ClampsOutOfRangeInputToAStableFilter) {
    const auto clamped = designBiquad(EQFilterType::parametric, 1e9, 100, -1000, 48000.0);
    EXPECT_LT(std::abs(clamped.a2), 1.0);
    EXPECT_TRUE(std::isfinite(clamped.b0));
    EXPECT_NEAR(biquadMagnitude(designBiquad(EQFilterType::parametric, 1000, 1, 0, 48000.0), 123, 48000.0),
                1.0, 1e-12);
}

} // namespace
} // namespace somnara::dsp
