#include "DspRenderSupport.hpp"
#include "audio/dsp/ParametricEQ.hpp"

#include <gtest/gtest.h>
#include <support/SignalMeasurements.hpp>

#include <cmath>
#include <numbers>

namespace somnara::dsp::test {
namespace {

using somnara::test::makeSine;
using somnara::test::toDecibels;
using somnara::test::toneAmplitude;

// A plain direct-form-I biquad with coefficients taken straight from the cookbook text, kept apart from
// the unit's design code so a slip in either shows up as a disagreement.
struct ReferenceBiquad {
    double b0, b1, b2, a0, a1, a2;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;

    static ReferenceBiquad make(EQFilterType type, double f0, double bwOctaves, double gainDb) {
        const double A = std::pow(10.0, gainDb / 40.0);
        const double w0 = 2 * std::numbers::pi * f0 / rate;
        const double cs = std::cos(w0), sn = std::sin(w0);
        const double alpha = sn * std::sinh(std::log(2.0) / 2 * bwOctaves * w0 / sn);
        const double alphaQ = sn / (2 * (1 / std::sqrt(2.0)));
        const double k = 2 * std::sqrt(A) * (sn / 2 * std::sqrt(2.0)); // shelves of slope 1
        switch (type) {
        case EQFilterType::lowPass:
            return {(1 - cs) / 2, 1 - cs, (1 - cs) / 2, 1 + alphaQ, -2 * cs, 1 - alphaQ};
        case EQFilterType::highPass:
            return {(1 + cs) / 2, -(1 + cs), (1 + cs) / 2, 1 + alphaQ, -2 * cs, 1 - alphaQ};
        case EQFilterType::lowShelf:
            return {A * ((A + 1) - (A - 1) * cs + k), 2 * A * ((A - 1) - (A + 1) * cs),
                    A * ((A + 1) - (A - 1) * cs - k), (A + 1) + (A - 1) * cs + k,
                    -2 * ((A - 1) + (A + 1) * cs),    (A + 1) + (A - 1) * cs - k};
        case EQFilterType::highShelf:
            return {A * ((A + 1) + (A - 1) * cs + k), -2 * A * ((A - 1) + (A + 1) * cs),
                    A * ((A + 1) + (A - 1) * cs - k), (A + 1) - (A - 1) * cs + k,
                    2 * ((A - 1) - (A + 1) * cs),     (A + 1) - (A - 1) * cs - k};
        case EQFilterType::bandPass:
            return {alpha, 0, -alpha, 1 + alpha, -2 * cs, 1 - alpha};
        default: // peaking
            return {1 + alpha * A, -2 * cs, 1 - alpha * A, 1 + alpha / A, -2 * cs, 1 - alpha / A};
        }
    }

    std::vector<float> run(const std::vector<float>& in) {
        std::vector<float> out(in.size());
        for (std::size_t i = 0; i < in.size(); ++i) {
            const double y = (b0 * in[i] + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2) / a0;
            x2 = x1;
            x1 = in[i];
            y2 = y1;
            y1 = y;
            out[i] = static_cast<float>(y);
        }
        return out;
    }
};

struct BandCase {
    EQFilterType type;
    double frequency;
    double bandwidth;
    double gain;
    double measureAt; // probe frequency as a multiple of the band frequency
    bool hasReference;
};

double steadyGainDb(const std::vector<float>& in, const std::vector<float>& out, double frequency,
                    double sampleRate = rate) {
    const std::size_t tail = static_cast<std::size_t>(sampleRate / 2);
    const auto a = toneAmplitude(slice(out, out.size() - tail, tail), frequency, sampleRate);
    const auto b = toneAmplitude(slice(in, in.size() - tail, tail), frequency, sampleRate);
    return toDecibels(a / b);
}

TEST(ParametricEQRender, SteadyStateGainOfASineMatchesTheDesignAndAPlainReference) {
    const std::vector<BandCase> cases = {
        {EQFilterType::parametric, 1000, 1.0, 12, 1.0, true},
        {EQFilterType::parametric, 1000, 1.0, 12, 1.41, true}, // half-gain edge of a one-octave band
        {EQFilterType::parametric, 100, 0.5, -9, 1.0, true},
        {EQFilterType::parametric, 8000, 0.1, 6, 1.0, true},
        {EQFilterType::parametric, 20, 0.1, 20, 1.0, true},
        {EQFilterType::parametric, 21602, 0.1, -24, 1.0, true},
        {EQFilterType::lowShelf, 200, 1.0, 6, 0.25, true},
        {EQFilterType::highShelf, 5000, 1.0, -8, 3.0, true},
        {EQFilterType::lowPass, 2000, 1.0, 0, 1.0, true},
        {EQFilterType::lowPass, 2000, 1.0, 0, 2.5, true},
        {EQFilterType::highPass, 500, 1.0, 0, 0.5, true},
        {EQFilterType::bandPass, 1000, 1.0, 0, 1.5, true},
        {EQFilterType::bandStop, 1000, 1.0, 0, 1.3, false},
        {EQFilterType::resonantLowPass, 1000, 0.5, 0, 1.0, false},
        {EQFilterType::resonantHighShelf, 3000, 2.0, 9, 2.0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << static_cast<int>(c.type) << " at " << c.frequency
                                        << " Hz, gain " << c.gain << ", probe x" << c.measureAt);
        ParametricEQ eq;
        eq.prepare(rate, 1024);
        eq.setBandFilterType(3, c.type);
        eq.setBandFrequency(3, static_cast<float>(c.frequency));
        eq.setBandBandwidth(3, static_cast<float>(c.bandwidth));
        eq.setBandGain(3, static_cast<float>(c.gain));
        eq.setBandBypass(3, false);

        const double probe = c.frequency * c.measureAt;
        // Narrow bands near DC ring for seconds: give them time to settle.
        const std::size_t frames = static_cast<std::size_t>((c.frequency < 100 ? 8 : 2) * rate);
        Stereo in(makeSine(probe, rate, frames, 0.25), makeSine(probe, rate, frames, 0.25, 1.0));
        const Stereo out = processInBlocks(eq, in, {512});

        const double designed = toDecibels(eq.magnitudeResponse(probe));
        EXPECT_NEAR(steadyGainDb(in.left, out.left, probe), designed, 0.5);
        EXPECT_NEAR(steadyGainDb(in.right, out.right, probe), designed, 0.5);
        if (c.hasReference) {
            auto ref = ReferenceBiquad::make(c.type, c.frequency, c.bandwidth, c.gain);
            EXPECT_NEAR(steadyGainDb(in.left, out.left, probe),
                        steadyGainDb(in.left, ref.run(in.left), probe), 0.5);
        }
        if (c.type == EQFilterType::parametric && c.measureAt == 1.0) {
            EXPECT_NEAR(designed, c.gain, 0.01); // the cookbook peak hits the requested gain exactly
        }
    }
}

TEST(ParametricEQRender, PlayerBandLayoutGivesEachBandItsGainAtItsCentreBelowTheGlobalGain) {
    // The player's layout at 44.1 kHz: ten parametric bands of 0.1 octave from 20 Hz up in even steps.
    constexpr double r = 44100.0;
    // Every other band is active, so each active band's centre is only touched by bypassed neighbours.
    const std::vector<float> gains = {-24, 0, 6, 0, 12, 0, -12, 0, 9, 0};
    ParametricEQ eq;
    eq.prepare(r, 512);
    eq.setGlobalGain(-6.0f);
    for (std::size_t i = 0; i < 10; ++i) {
        eq.setBandFrequency(i, static_cast<float>(20.0 + static_cast<double>(i) * (22050.0 - 20.0) / 10.0));
        eq.setBandBandwidth(i, 0.1f);
        eq.setBandGain(i, gains[i]);
        eq.setBandBypass(i, gains[i] == 0.0f);
    }
    for (std::size_t i = 0; i < 10; ++i) {
        const double f = 20.0 + static_cast<double>(i) * (22050.0 - 20.0) / 10.0;
        SCOPED_TRACE(f);
        eq.reset();
        const std::size_t frames = static_cast<std::size_t>((i == 0 ? 8 : 2) * r);
        Stereo in(makeSine(f, r, frames, 0.25), makeSine(f, r, frames, 0.25, 1.0));
        const Stereo out = processInBlocks(eq, in, {512});
        for (const auto& [input, output] :
             {std::pair{&in.left, &out.left}, std::pair{&in.right, &out.right}}) {
            const double measured = steadyGainDb(*input, *output, f, r);
            EXPECT_NEAR(measured, toDecibels(eq.magnitudeResponse(f)), 0.5);
            EXPECT_NEAR(measured, gains[i] == 0.0f ? -6.0 : gains[i] - 6.0, gains[i] == 0.0f ? 1.0 : 0.5);
        }
    }
}

} // namespace
} // namespace somnara::dsp::test
