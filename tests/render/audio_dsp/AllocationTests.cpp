#include "DspRenderSupport.hpp"
#include "audio/dsp/Delay.hpp"
#include "audio/dsp/ParametricEQ.hpp"
#include "audio/dsp/Reverb.hpp"
#include "audio/dsp/TimePitch.hpp"
#include "audio/dsp/Varispeed.hpp"

#include <gtest/gtest.h>
#include <support/AllocationCounter.hpp>
#include <support/SignalMeasurements.hpp>

#include <cstdlib>

namespace somnara::dsp::test {
namespace {

using somnara::test::allocationsDuring;

constexpr double rate = 48000.0;
constexpr std::size_t block = 512;

TEST(RenderAllocation, TheCounterSeesAnAllocation) {
    // Guards the guard: a counter that saw nothing would pass every test below.
    const auto n = allocationsDuring([] {
        auto* p = new std::vector<float>(1000);
        delete p;
#if SOMNARA_COUNT_MALLOC
        // Through a pointer the optimiser cannot see through, or it drops the pair as unused.
        void* (*volatile allocate)(std::size_t) = std::malloc;
        std::free(allocate(64));
#endif
    });
    EXPECT_GE(n, SOMNARA_COUNT_MALLOC ? 3u : 2u);
}

TEST(RenderAllocation, InPlaceUnitsDoNotAllocateWhileProcessingOrChangingParameters) {
    Stereo buffer(somnara::test::makeNoise(block), somnara::test::makeNoise(block, 0.5, 2));
    ParametricEQ eq;
    Delay delay;
    Reverb reverb;
    eq.prepare(rate, block);
    delay.prepare(rate, block);
    reverb.prepare(rate, block);
    reverb.loadFactoryPreset(ReverbPreset::largeHall);
    const auto n = allocationsDuring([&] {
        for (int i = 0; i < 400; ++i) {
            switch (i % 100) {
            case 10:
                eq.setBandBypass(2, false);
                eq.setBandGain(2, static_cast<float>(i % 24));
                eq.setBandFrequency(2, 100.0f + static_cast<float>(i));
                delay.setDelayTime(0.1f + 0.001f * static_cast<float>(i));
                delay.setFeedback(60.0f);
                delay.setLowPassCutoff(2000.0f);
                reverb.setWetDryMix(40.0f);
                break;
            case 50:
                eq.setBypass(true);
                delay.setBypass(true);
                reverb.setBypass(true);
                break;
            case 70:
                eq.setBypass(false);
                delay.setBypass(false);
                reverb.setBypass(false);
                reverb.loadFactoryPreset(ReverbPreset::cathedral);
                eq.setGlobalGain(-3.0f);
                break;
            default:
                break;
            }
            eq.process(buffer.left.data(), buffer.right.data(), block);
            delay.process(buffer.left.data(), buffer.right.data(), block);
            reverb.process(buffer.left.data(), buffer.right.data(), block);
            eq.reset();
        }
        delay.reset();
        reverb.reset();
    });
    EXPECT_EQ(n, 0u);
}

TEST(RenderAllocation, PullUnitsDoNotAllocateWhileRenderingChangingPitchOrRateOrSwitchingBypass) {
    Stereo buffer(block);
    SineSource source(330.0, rate);
    TimePitch pitch;
    Varispeed speed;
    pitch.prepare(rate, block);
    speed.prepare(rate, block);
    pitch.setPitch(-500.0f);
    speed.setRate(1.5f);
    const auto n = allocationsDuring([&] {
        for (int i = 0; i < 400; ++i) {
            if (i % 100 == 10) {
                pitch.setPitch(i % 200 == 10 ? 2400.0f : -1700.0f);
            } else if (i % 100 == 30) {
                speed.setRate(i % 200 == 30 ? 0.5f : 3.0f);
                pitch.setBypass(true);
                speed.setBypass(true);
            } else if (i % 100 == 60) {
                pitch.setBypass(false);
                speed.setBypass(false);
            }
            pitch.render(buffer.left.data(), buffer.right.data(), block, source);
            speed.render(buffer.left.data(), buffer.right.data(), block, source);
        }
        speed.reset();
        pitch.reset();
    });
    EXPECT_EQ(n, 0u);
}

} // namespace
} // namespace somnara::dsp::test
