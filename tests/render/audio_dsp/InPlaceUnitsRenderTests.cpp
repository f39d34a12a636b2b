#include "DspRenderSupport.hpp"

#include <gtest/gtest.h>
#include <support/SignalMeasurements.hpp>

#include <memory>

namespace somnara::dsp::test {
namespace {

using somnara::test::makeNoise;
using somnara::test::makeSine;
using somnara::test::maxStep;

template <class Unit>
std::shared_ptr<Unit> bypassed(std::shared_ptr<Unit> unit) {
    unit->setBypass(true);
    return unit;
}

// Each unit, with its parameters changing (one change arriving during another's glide) and its bypass
// switching mid-way, gives the same samples whatever the block size.
TEST(InPlaceUnitsRender, OutputDoesNotDependOnBlockSize) {
    const std::size_t frames = 40000;
    const Stereo in(makeNoise(frames), makeNoise(frames, 0.5, 11));
    using Render = std::function<Stereo(const std::vector<std::size_t>&)>;
    const std::vector<std::pair<const char*, Render>> units{
        {"eq",
         [&](const std::vector<std::size_t>& blocks) {
             const auto eq = makeShelf(9.0f);
             eq->setBandFilterType(1, EQFilterType::highShelf);
             eq->setBandFrequency(1, 6000.0f);
             eq->setBandGain(1, -6.0f);
             eq->setBandBypass(1, false);
             return processInBlocks(*eq, in, blocks,
                                    {{5000, [&] { eq->setBandGain(0, -12.0f); }},
                                     {9001, [&] { eq->setBandFrequency(1, 2000.0f); }},
                                     {12000, [&] { eq->setGlobalGain(-3.0f); }},
                                     {15000, [&] { eq->setBandBypass(0, true); }},
                                     {20000, [&] { eq->setBypass(true); }},
                                     {25000, [&] { eq->setBypass(false); }}});
         }},
        {"delay",
         [&](const std::vector<std::size_t>& blocks) {
             const auto delay = makeDelay(0.05f, -60.0f, 50.0f);
             return processInBlocks(*delay, in, blocks,
                                    {{7000, [&] { delay->setDelayTime(0.021f); }},
                                     {7100, [&] { delay->setDelayTime(0.08f); }},
                                     {15000, [&] { delay->setLowPassCutoff(800.0f); }},
                                     {20000, [&] { delay->setBypass(true); }},
                                     {30000, [&] { delay->setBypass(false); }},
                                     {30500, [&] { delay->setWetDryMix(100.0f); }}});
         }},
        {"reverb",
         [&](const std::vector<std::size_t>& blocks) {
             const auto reverb = makeReverb(30.0f);
             return processInBlocks(*reverb, in, blocks,
                                    {{8000, [&] { reverb->setWetDryMix(60.0f); }},
                                     {20000, [&] { reverb->setBypass(true); }},
                                     {25000, [&] { reverb->setBypass(false); }},
                                     {30000, [&] { reverb->setWetDryMix(0.0f); }},
                                     {35000, [&] { reverb->setWetDryMix(10.0f); }}});
         }},
    };
    for (const auto& [name, render] : units) {
        const Stereo whole = render({frames});
        for (const auto& blocks :
             std::vector<std::vector<std::size_t>>{{1}, {64}, {441}, {4096}, {7, 4096, 1, 441, 3}}) {
            SCOPED_TRACE(testing::Message() << name << ", blocks from " << blocks[0]);
            const Stereo split = render(blocks);
            EXPECT_EQ(split.left, whole.left);
            EXPECT_EQ(split.right, whole.right);
        }
    }
}

// A 100 Hz sine (amplitude 0.25, steady step 2π·100·0.25/fs ≈ 0.0033) while a parameter jumps or the
// bypass switches at 1.5 s. The delay of 0.5025 s puts its echo a quarter cycle off the input, its new
// time in opposite phase. Bound: the largest step while they settle (and one delay later, when a new
// feedback comes round) stays within 10 % of the largest steady step (of the input, or of the output
// before or after) plus what a crossfade between two signals of amplitude 0.25 and `peak` adds per frame
// over the shortest fade (10 ms): (0.25 + peak)/480. An unsmoothed change steps by up to the difference
// between the two phases or levels, tenths.
TEST(InPlaceUnitsRender, ParameterJumpsAndBypassSwitchesDoNotStepTheWaveform) {
    const std::size_t frames = static_cast<std::size_t>(4 * rate);
    const Stereo in(makeSine(100, rate, frames, 0.25), makeSine(100, rate, frames, 0.25));
    using Render = std::function<Stereo(std::size_t)>;
    const auto jump = [&](auto unit, auto change) -> Render {
        return [=, &in](std::size_t at) {
            return processInBlocks(*unit, in, {512}, {{at, [&] { change(*unit); }}});
        };
    };
    const auto bypass = [](bool on) { return [on](auto& unit) { unit.setBypass(on); }; };
    const struct {
        const char* name;
        Render render;
        // Past the 1.5 s zero crossing of the sine.
        std::size_t offset = 37;
    } cases[] = {
        {"delay wet/dry 0 -> 100", jump(makeDelay(0.5025f, 0, 0), [](Delay& d) { d.setWetDryMix(100.0f); })},
        {"delay time 0.5025 -> 0.3175 s",
         jump(makeDelay(0.5025f, 0, 100), [](Delay& d) { d.setDelayTime(0.3175f); })},
        {"delay feedback 0 -> 50", jump(makeDelay(0.5025f, 0, 100), [](Delay& d) { d.setFeedback(50.0f); })},
        // 60 % is the player's largest mix.
        {"reverb wet/dry 0 -> 60", jump(makeReverb(0), [](Reverb& r) { r.setWetDryMix(60.0f); })},
        // A shelf this wide reacts within a fraction of a millisecond: unsmoothed, the waveform would
        // grow fourfold from one sample to the next.
        {"low shelf 0 -> +12 dB", jump(makeShelf(0), [](ParametricEQ& eq) { eq.setBandGain(0, 12.0f); })},
        {"delay bypass on", jump(makeDelay(0.5025f, 0, 100), bypass(true))},
        {"delay bypass off", jump(bypassed(makeDelay(0.5025f, 0, 100)), bypass(false))},
        {"reverb bypass on", jump(makeReverb(60), bypass(true))},
        {"reverb bypass off", jump(bypassed(makeReverb(60)), bypass(false))},
        {"low shelf bypass on", jump(makeShelf(12), bypass(true))},
        {"low shelf bypass off", jump(bypassed(makeShelf(12)), bypass(false))},
    };
    for (const auto& [name, render, offset] : cases) {
        SCOPED_TRACE(name);
        const std::size_t at = static_cast<std::size_t>(1.5 * rate) + offset;
        const Stereo out = render(at);
        const auto before = slice(out.left, at - frames / 8, frames / 8);
        const auto after = slice(out.left, frames - frames / 8, frames / 8);
        const double steady = std::max({maxStep(in.left), maxStep(before), maxStep(after)});
        const double peak = std::max(somnara::test::peak(before), somnara::test::peak(after));
        const double bound = 1.1 * steady + (0.25 + std::max(0.25, peak)) / (0.01 * rate);
        EXPECT_LE(maxStep(slice(out.left, at - 1, static_cast<std::size_t>(1.2 * rate))), bound);
    }
}

// Dry is the input bit for bit: a wet/dry mix of zero, or the bypass once its fade has run; from the
// start, and again once the unit was made wet (and did change the signal) and then dry again.
template <class Unit, class SetDry>
void expectDryIsTheInput(const char* name, Unit& unit, SetDry setDry, double settleSeconds) {
    SCOPED_TRACE(name);
    const Stereo in(makeNoise(30000), makeNoise(30000, 0.5, 5));
    setDry(unit, true);
    const Stereo out = processInBlocks(
        unit, in, {333}, {{5000, [&] { setDry(unit, false); }}, {10000, [&] { setDry(unit, true); }}});
    const auto same = [&](std::size_t from, std::size_t to) {
        return std::equal(out.left.begin() + from, out.left.begin() + to, in.left.begin() + from) &&
               std::equal(out.right.begin() + from, out.right.begin() + to, in.right.begin() + from);
    };
    EXPECT_TRUE(same(0, 5000));
    EXPECT_FALSE(same(6000, 9000));
    EXPECT_TRUE(same(10000 + static_cast<std::size_t>(settleSeconds * rate), 30000));
}

TEST(InPlaceUnitsRender, DryIsTheInputBitForBit) {
    const auto mix = [](auto& unit, bool dry) { unit.setWetDryMix(dry ? 0.0f : 40.0f); };
    const auto bypass = [](auto& unit, bool dry) { unit.setBypass(dry); };
    const double fade = BypassFader::fadeSeconds;
    expectDryIsTheInput("delay mix", *makeDelay(0.01f, 70.0f, 0), mix, Delay::rampSeconds);
    expectDryIsTheInput("reverb mix", *makeReverb(0), mix, Reverb::rampSeconds);
    expectDryIsTheInput("delay bypass", *makeDelay(0.01f, 70.0f, 40), bypass, fade);
    expectDryIsTheInput("reverb bypass", *makeReverb(40), bypass, fade);
    expectDryIsTheInput("low shelf bypass", *makeShelf(12), bypass, fade);
}

} // namespace
} // namespace somnara::dsp::test
