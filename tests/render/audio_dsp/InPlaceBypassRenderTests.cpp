#include "DspRenderSupport.hpp"
#include "audio/dsp/Delay.hpp"
#include "audio/dsp/ParametricEQ.hpp"
#include "audio/dsp/Reverb.hpp"

#include <gtest/gtest.h>
#include <support/SignalMeasurements.hpp>

#include <memory>
#include <numbers>

namespace somnara::dsp::test {
namespace {

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

TEST(InPlaceBypassRender, BypassIsBitExactAfterTheFadeAndTogglingDoesNotClick) {
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

} // namespace
} // namespace somnara::dsp::test
