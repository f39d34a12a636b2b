// Colour and loudness, measured on the decoded files: the noises' spectral slopes, grey noise's
// equal-loudness shape, and one loudness for all fifty sounds.

#include "SoundFiles.hpp"
#include "support/SignalMeasurements.hpp"

#include <gtest/gtest.h>
#include <soundgen/Fft.hpp>
#include <soundgen/Mastering.hpp>

#include <cmath>
#include <map>
#include <numbers>

namespace somnara::test {
namespace {

constexpr double rate = 44'100;

// Welch's averaged periodogram of both channels: Hann windows of 8192 frames, half overlapping.
// Returns the power density per bin of 44100 / 8192 Hz.
std::vector<double> powerSpectrum(const soundgen::Stereo& stereo) {
    constexpr std::size_t size = 8192;
    const soundgen::Fft fft(size);
    std::vector<double> power(size / 2 + 1, 0.0);
    std::vector<double> window(size);
    for (std::size_t i = 0; i < size; ++i) {
        window[i] = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * static_cast<double>(i) / size);
    }
    std::size_t segments = 0;
    std::vector<std::complex<double>> data(size);
    for (const soundgen::Signal* channel : {&stereo.left, &stereo.right}) {
        for (std::size_t start = 0; start + size <= channel->size(); start += size / 2) {
            for (std::size_t i = 0; i < size; ++i) {
                data[i] = (*channel)[start + i] * window[i];
            }
            fft.forward(data);
            for (std::size_t k = 0; k < power.size(); ++k) {
                power[k] += std::norm(data[k]);
            }
            ++segments;
        }
    }
    for (auto& p : power) {
        p /= static_cast<double>(segments);
    }
    return power;
}

// Mean power density between two frequencies, in dB.
double bandLevel(const std::vector<double>& power, double low, double high) {
    const double binHz = rate / 8192;
    const auto first = static_cast<std::size_t>(std::ceil(low / binHz));
    const auto last = static_cast<std::size_t>(std::floor(high / binHz));
    double sum = 0;
    for (std::size_t k = first; k <= last; ++k) {
        sum += power[k];
    }
    return 10 * std::log10(sum / static_cast<double>(last - first + 1));
}

struct Fit {
    double slope;         // dB per octave
    double worstResidual; // dB, the band farthest from the line
};

// A straight line through the half-octave band levels from 100 Hz to 10 kHz, against log2 frequency.
Fit fitSlope(const std::vector<double>& power) {
    std::vector<double> xs;
    std::vector<double> ys;
    for (int k = 0; k < 13; ++k) {
        const double low = 100 * std::pow(2.0, k / 2.0);
        const double high = std::min(10'000.0, low * std::numbers::sqrt2);
        xs.push_back(std::log2(std::sqrt(low * high)));
        ys.push_back(bandLevel(power, low, high));
    }
    const Line line = fitLine(xs, ys);
    double worst = 0;
    for (std::size_t i = 0; i < xs.size(); ++i) {
        worst = std::max(worst, std::abs(ys[i] - (line.intercept + line.slope * xs[i])));
    }
    return {line.slope, worst};
}

TEST(SoundSpectra, ColouredNoisesHaveTheirSlopes) {
    // Power per octave: white flat, pink 1/f, brown 1/f^2, blue f, violet f^2.
    const double octave = 10 * std::log10(2.0);
    const std::map<std::string, double> targets = {
        {"white", 0.0},   {"pink", -octave},      {"brown", -2 * octave},
        {"blue", octave}, {"violet", 2 * octave}, {"brown_og", -2 * octave},
    };
    for (const auto& [name, target] : targets) {
        SCOPED_TRACE(name);
        const Fit fit = fitSlope(powerSpectrum(decode(losslessDir / (name + ".m4a"))));
        EXPECT_NEAR(fit.slope, target, 0.5);
        EXPECT_LT(fit.worstResidual, 1.0);
    }
}

TEST(SoundSpectra, GreyNoiseFollowsTheInverseOfTheEarsWeighting) {
    // A-weighting (IEC 61672) at third-octave centres, in dB: grey noise is the opposite.
    const std::vector<std::pair<double, double>> aWeighting = {
        {100, -19.1}, {125, -16.1}, {160, -13.4}, {200, -10.9}, {250, -8.6},  {315, -6.6},  {400, -4.8},
        {500, -3.2},  {630, -1.9},  {800, -0.8},  {1000, 0.0},  {1250, 0.6},  {1600, 1.0},  {2000, 1.2},
        {2500, 1.3},  {3150, 1.2},  {4000, 1.0},  {5000, 0.5},  {6300, -0.1}, {8000, -1.1}, {10000, -2.5},
    };
    const auto power = powerSpectrum(decode(losslessDir / "grey.m4a"));
    const auto level = [&](double centre) {
        // A narrow band (a sixth of an octave) so that the slope inside it hardly matters.
        return bandLevel(power, centre * std::pow(2.0, -1.0 / 12), centre * std::pow(2.0, 1.0 / 12));
    };
    const double reference = level(1000);
    for (const auto& [hz, weight] : aWeighting) {
        EXPECT_NEAR(level(hz) - reference, -weight, 1.0) << hz << " Hz";
    }
}

TEST(SoundLoudness, AllFiftyAreWithinOneLuOfTheTargetAndNoneClips) {
    const auto names = soundNames();
    std::vector<double> compressed(names.size());
    std::vector<double> lossless(names.size());
    std::vector<double> peaks(names.size());
    parallelFor(names.size(), [&](std::size_t i) {
        compressed[i] = soundgen::integratedLoudness(decode(compressedDir / (names[i] + ".m4a")), rate);
        const soundgen::Stereo loop = decode(losslessDir / (names[i] + ".m4a"));
        lossless[i] = soundgen::integratedLoudness(loop, rate);
        peaks[i] = std::max(peak(loop.left), peak(loop.right));
    });
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_NEAR(lossless[i], soundgen::targetLoudness, 1.0) << names[i];
        EXPECT_NEAR(compressed[i], soundgen::targetLoudness, 1.0) << names[i];
        // The limiter's ceiling plus the dither's last bit.
        EXPECT_LE(peaks[i], soundgen::peakCeiling + 2.0 / 32768) << names[i];
    }
}

} // namespace
} // namespace somnara::test
