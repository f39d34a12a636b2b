#include "DspRenderSupport.hpp"
#include "audio/dsp/Delay.hpp"
#include "audio/dsp/ParametricEQ.hpp"
#include "audio/dsp/Reverb.hpp"

#include <gtest/gtest.h>
#include <support/SignalMeasurements.hpp>

#include <memory>

namespace somnara::dsp::test {
namespace {

using somnara::test::makeNoise;
using somnara::test::makeSine;
using somnara::test::maxStep;

constexpr double rate = 48000.0;

// One in-place unit set up to change the signal audibly, behind a uniform face for the table below.
struct UnitUnderTest {
    const char* name;
    std::function<void(float*, float*, std::size_t)> process;
    std::function<void(bool)> setBypass;
    std::shared_ptr<void> owner;
};

std::vector<UnitUnderTest> makeUnits() {
    auto eq = std::make_shared<ParametricEQ>();
    eq->prepare(rate, 512);
    eq->setBandFilterType(0, EQFilterType::lowShelf);
    eq->setBandFrequency(0, 1000.0f);
    eq->setBandGain(0, 12.0f);
    eq->setBandBypass(0, false);
    auto delay = std::make_shared<Delay>();
    delay->prepare(rate, 512);
    delay->setDelayTime(0.0125f); // 1¼ cycles of 100 Hz: the echo is a quarter cycle off
    delay->setWetDryMix(100.0f);
    auto reverb = std::make_shared<Reverb>();
    reverb->prepare(rate, 512);
    reverb->loadFactoryPreset(ReverbPreset::largeHall);
    reverb->setWetDryMix(60.0f);
    return {
        {"eq", [eq](float* l, float* r, std::size_t n) { eq->process(l, r, n); },
         [eq](bool b) { eq->setBypass(b); }, eq},
        {"delay", [delay](float* l, float* r, std::size_t n) { delay->process(l, r, n); },
         [delay](bool b) { delay->setBypass(b); }, delay},
        {"reverb", [reverb](float* l, float* r, std::size_t n) { reverb->process(l, r, n); },
         [reverb](bool b) { reverb->setBypass(b); }, reverb},
    };
}

TEST(InPlaceUnitsRender, BypassIsBitExactAfterTheFadeAndTogglingDoesNotClick) {
    // A 100 Hz sine of amplitude 0.25 while bypass goes on at 0.5 s, off at 1 s, on at 1.5 s. After each
    // 10 ms fade to bypass the output is the input bit for bit. Bound on the largest step throughout:
    // 10 % over the larger steady step (input, or the processed signal before the first switch) plus the
    // crossfade allowance: two signals of up to `peak` amplitude apart, over 480 frames.
    const std::size_t frames = static_cast<std::size_t>(2 * rate);
    const Stereo in(makeSine(100, rate, frames, 0.25), makeSine(100, rate, frames, 0.25));
    const std::vector<std::size_t> switches = {24000, 48000, 72000};
    for (auto& unit : makeUnits()) {
        SCOPED_TRACE(unit.name);
        Stereo out = in;
        std::size_t pos = 0;
        bool bypass = false;
        for (const std::size_t at : {switches[0], switches[1], switches[2], frames}) {
            for (; pos < at; pos += std::min<std::size_t>(300, at - pos)) {
                unit.process(out.left.data() + pos, out.right.data() + pos,
                             std::min<std::size_t>(300, at - pos));
            }
            bypass = !bypass;
            unit.setBypass(bypass);
        }
        const std::size_t fade = static_cast<std::size_t>(BypassFader::fadeSeconds * rate);
        for (const auto& [from, to] :
             {std::pair{switches[0] + fade, switches[1]}, std::pair{switches[2] + fade, frames}}) {
            EXPECT_TRUE(std::equal(out.left.begin() + static_cast<long>(from),
                                   out.left.begin() + static_cast<long>(to),
                                   in.left.begin() + static_cast<long>(from)));
            EXPECT_TRUE(std::equal(out.right.begin() + static_cast<long>(from),
                                   out.right.begin() + static_cast<long>(to),
                                   in.right.begin() + static_cast<long>(from)));
        }
        // ...and while processing, it was not the input.
        EXPECT_FALSE(std::equal(out.left.begin() + 12000, out.left.begin() + 20000, in.left.begin() + 12000));

        const auto processed = slice(out.left, switches[0] - 4800, 4800);
        const double steady = std::max(maxStep(in.left), maxStep(processed));
        const double peak = std::max(0.25, somnara::test::peak(processed));
        const double bound = 1.1 * steady + (0.25 + peak) / static_cast<double>(fade);
        EXPECT_LE(maxStep(slice(out.left, 4800, frames - 4800)), bound);
    }
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
             ParametricEQ eq;
             eq.prepare(rate, 4096);
             eq.setBandFrequency(0, 300.0f);
             eq.setBandGain(0, 9.0f);
             eq.setBandBypass(0, false);
             eq.setBandFilterType(1, EQFilterType::highShelf);
             eq.setBandFrequency(1, 6000.0f);
             eq.setBandGain(1, -6.0f);
             eq.setBandBypass(1, false);
             return processInBlocks(eq, in, blocks,
                                    {{5000, [&] { eq.setBandGain(0, -12.0f); }},
                                     {9001, [&] { eq.setBandFrequency(1, 2000.0f); }},
                                     {12000, [&] { eq.setGlobalGain(-3.0f); }},
                                     {15000, [&] { eq.setBandBypass(0, true); }},
                                     {20000, [&] { eq.setBypass(true); }},
                                     {25000, [&] { eq.setBypass(false); }}});
         }},
        {"delay",
         [&](const std::vector<std::size_t>& blocks) {
             Delay delay;
             delay.prepare(rate, 4096);
             delay.setDelayTime(0.05f);
             delay.setFeedback(-60.0f);
             delay.setWetDryMix(50.0f);
             return processInBlocks(delay, in, blocks,
                                    {{7000, [&] { delay.setDelayTime(0.021f); }},
                                     {7100, [&] { delay.setDelayTime(0.08f); }},
                                     {15000, [&] { delay.setLowPassCutoff(800.0f); }},
                                     {20000, [&] { delay.setBypass(true); }},
                                     {30000, [&] { delay.setBypass(false); }},
                                     {30500, [&] { delay.setWetDryMix(100.0f); }}});
         }},
        {"reverb",
         [&](const std::vector<std::size_t>& blocks) {
             Reverb reverb;
             reverb.prepare(rate, 4096);
             reverb.loadFactoryPreset(ReverbPreset::largeHall);
             reverb.setWetDryMix(30.0f);
             return processInBlocks(reverb, in, blocks,
                                    {{8000, [&] { reverb.setWetDryMix(60.0f); }},
                                     {20000, [&] { reverb.setBypass(true); }},
                                     {25000, [&] { reverb.setBypass(false); }},
                                     {30000, [&] { reverb.setWetDryMix(0.0f); }},
                                     {35000, [&] { reverb.setWetDryMix(10.0f); }}});
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

// A 100 Hz sine (amplitude 0.25, steady step 2π·100·0.25/fs ≈ 0.0033) while a parameter jumps at 1.5 s.
// The delay of 0.5025 s puts its echo a quarter cycle off the input, its new time in opposite phase. Bound:
// the largest step while they settle (and one delay later, when a new feedback comes round) stays within
// 10 % of the largest steady step (of the input, or of the louder output) plus what a crossfade between
// two signals of amplitude 0.25 adds per frame over the shortest fade (10 ms): 2·0.25/480 ≈ 0.001. An
// unsmoothed change steps by up to the difference between the two phases or levels, tenths.
TEST(InPlaceUnitsRender, ParameterJumpsDoNotStepTheWaveform) {
    const std::size_t frames = static_cast<std::size_t>(4 * rate);
    const Stereo in(makeSine(100, rate, frames, 0.25), makeSine(100, rate, frames, 0.25));
    const auto delay = [](float mix) {
        auto unit = std::make_shared<Delay>();
        unit->prepare(rate, 512);
        unit->setDelayTime(0.5025f);
        unit->setFeedback(0.0f);
        unit->setWetDryMix(mix);
        return unit;
    };
    const auto reverb = [] {
        auto unit = std::make_shared<Reverb>();
        unit->prepare(rate, 512);
        unit->loadFactoryPreset(ReverbPreset::largeHall);
        unit->setWetDryMix(0.0f);
        return unit;
    };
    const auto shelf = [] {
        auto unit = std::make_shared<ParametricEQ>();
        unit->prepare(rate, 512);
        unit->setBandFilterType(0, EQFilterType::lowShelf);
        unit->setBandFrequency(0, 1000.0f);
        unit->setBandBypass(0, false);
        return unit;
    };
    using Render = std::function<Stereo(std::size_t)>;
    const auto jump = [&](auto unit, auto change) -> Render {
        return [=, &in](std::size_t at) {
            return processInBlocks(*unit, in, {512}, {{at, [&] { change(*unit); }}});
        };
    };
    const std::pair<const char*, Render> cases[] = {
        {"delay wet/dry 0 -> 100", jump(delay(0.0f), [](Delay& d) { d.setWetDryMix(100.0f); })},
        {"delay time 0.5025 -> 0.3175 s", jump(delay(100.0f), [](Delay& d) { d.setDelayTime(0.3175f); })},
        {"delay feedback 0 -> 50", jump(delay(100.0f), [](Delay& d) { d.setFeedback(50.0f); })},
        // 60 % is the player's largest mix.
        {"reverb wet/dry 0 -> 60", jump(reverb(), [](Reverb& r) { r.setWetDryMix(60.0f); })},
        // A shelf this wide reacts within a fraction of a millisecond: unsmoothed, the waveform would
        // grow fourfold from one sample to the next.
        {"low shelf 0 -> +12 dB", jump(shelf(), [](ParametricEQ& eq) { eq.setBandGain(0, 12.0f); })},
    };
    const double steady = maxStep(in.left);
    for (const auto& [name, render] : cases) {
        SCOPED_TRACE(name);
        const std::size_t at = static_cast<std::size_t>(1.5 * rate) + 37;
        const Stereo out = render(at);
        const double steadyOut = maxStep(slice(out.left, frames - frames / 8, frames / 8));
        const double bound = 1.1 * std::max(steady, steadyOut) + 2 * 0.25 / (0.01 * rate);
        EXPECT_LE(maxStep(slice(out.left, at - 1, static_cast<std::size_t>(1.2 * rate))), bound);
    }
}

// A wet/dry mix of zero is the dry input bit for bit: from the start, and again once a mix that was
// raised has glided back down.
template <class Unit>
void expectDryAtMixZero(Unit& unit) {
    const Stereo in(makeNoise(30000), makeNoise(30000, 0.5, 5));
    unit.prepare(rate, 512);
    unit.setWetDryMix(0.0f);
    const Stereo out = processInBlocks(
        unit, in, {333},
        {{5000, [&] { unit.setWetDryMix(40.0f); }}, {10000, [&] { unit.setWetDryMix(0.0f); }}});
    const auto same = [&](std::size_t from, std::size_t to) {
        return std::equal(out.left.begin() + from, out.left.begin() + to, in.left.begin() + from) &&
               std::equal(out.right.begin() + from, out.right.begin() + to, in.right.begin() + from);
    };
    EXPECT_TRUE(same(0, 5000));
    EXPECT_FALSE(same(6000, 9000));
    EXPECT_TRUE(same(10000 + static_cast<std::size_t>(Unit::rampSeconds * rate), 30000));
}

TEST(InPlaceUnitsRender, WetDryZeroIsTheDryInputBitForBit) {
    Delay delay;
    delay.setDelayTime(0.01f);
    delay.setFeedback(70.0f);
    expectDryAtMixZero(delay);
    Reverb reverb;
    reverb.loadFactoryPreset(ReverbPreset::largeHall);
    expectDryAtMixZero(reverb);
}

} // namespace
} // namespace somnara::dsp::test
