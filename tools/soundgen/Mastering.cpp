#include "Mastering.hpp"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <stdexcept>

namespace somnara::soundgen {
namespace {

double peak(const Stereo& stereo) {
    double result = 0;
    for (const Signal* channel : {&stereo.left, &stereo.right}) {
        for (const float sample : *channel) {
            result = std::max(result, static_cast<double>(std::abs(sample)));
        }
    }
    return result;
}

void applyGain(Stereo& stereo, double gain) {
    scale(stereo.left, gain);
    scale(stereo.right, gain);
}

// Circular sliding minimum of width 2 * radius + 1 (van Herk / Gil-Werman would be faster; the
// limiter runs on a few sounds only).
std::vector<float> slidingMinimum(const std::vector<float>& values, std::size_t radius) {
    const std::size_t n = values.size();
    std::vector<float> result(n);
    // Blocks of the window's width: prefix minima from the left and suffix minima from the right.
    const std::size_t width = 2 * radius + 1;
    std::vector<float> extended(n + 2 * radius);
    for (std::size_t i = 0; i < extended.size(); ++i) {
        extended[i] = values[(i + n - radius) % n];
    }
    std::vector<float> prefix(extended.size());
    std::vector<float> suffix(extended.size());
    for (std::size_t i = 0; i < extended.size(); ++i) {
        prefix[i] = i % width == 0 ? extended[i] : std::min(prefix[i - 1], extended[i]);
    }
    for (std::size_t i = extended.size(); i-- > 0;) {
        suffix[i] = (i + 1) % width == 0 || i + 1 == extended.size() ? extended[i]
                                                                     : std::min(suffix[i + 1], extended[i]);
    }
    for (std::size_t i = 0; i < n; ++i) {
        result[i] = std::min(suffix[i], prefix[i + width - 1]);
    }
    return result;
}

// Holds every sample under the ceiling with a smooth gain: the gain each sample needs, widened to the
// minimum over 5 ms around it and averaged over the same 5 ms, never exceeds what any sample needs.
void limit(Stereo& stereo, double rate) {
    const std::size_t n = stereo.left.size();
    std::vector<float> needed(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double level = std::max(std::abs(stereo.left[i]), std::abs(stereo.right[i]));
        needed[i] = level > peakCeiling ? static_cast<float>(peakCeiling / level) : 1.0F;
    }
    const auto radius = static_cast<std::size_t>(0.0025 * rate);
    const std::vector<float> floor = slidingMinimum(needed, radius);
    const std::size_t width = 2 * radius + 1;
    double sum = 0;
    for (std::size_t j = 0; j < width; ++j) {
        sum += floor[(j + n - radius) % n];
    }
    for (std::size_t i = 0; i < n; ++i) {
        const double gain = sum / static_cast<double>(width);
        stereo.left[i] = static_cast<float>(stereo.left[i] * gain);
        stereo.right[i] = static_cast<float>(stereo.right[i] * gain);
        sum += floor[(i + radius + 1) % n] - floor[(i + n - radius) % n];
    }
}

} // namespace

double integratedLoudness(const Stereo& stereo, double rate) {
    std::unique_ptr<ebur128_state, void (*)(ebur128_state*)> state(
        ebur128_init(2, static_cast<unsigned long>(rate), EBUR128_MODE_I),
        [](ebur128_state* s) { ebur128_destroy(&s); });
    if (!state) {
        throw std::runtime_error("cannot start the loudness meter");
    }
    std::vector<float> interleaved(stereo.left.size() * 2);
    for (std::size_t i = 0; i < stereo.left.size(); ++i) {
        interleaved[2 * i] = stereo.left[i];
        interleaved[2 * i + 1] = stereo.right[i];
    }
    if (ebur128_add_frames_float(state.get(), interleaved.data(), stereo.left.size()) != EBUR128_SUCCESS) {
        throw std::runtime_error("the loudness meter refused the audio");
    }
    double loudness = 0;
    if (ebur128_loudness_global(state.get(), &loudness) != EBUR128_SUCCESS) {
        throw std::runtime_error("the loudness meter has no result");
    }
    return loudness;
}

double master(Stereo& stereo, double rate, std::uint64_t seed) {
    // Gain to the target, limit what then peaks too high, and again: limiting lowers the loudness a
    // little, so a few rounds settle both (sounds made mostly of sharp clicks need the most).
    for (int round = 0; round < 16; ++round) {
        const double loudness = integratedLoudness(stereo, rate);
        if (!std::isfinite(loudness)) {
            break; // silent, or shorter than the meter's 400 ms blocks
        }
        applyGain(stereo, std::pow(10.0, (targetLoudness - loudness) / 20.0));
        if (peak(stereo) <= peakCeiling) {
            break;
        }
        limit(stereo, rate);
    }
    Rng dither(seed ^ 0xD1D1D1D1ULL);
    for (Signal* channel : {&stereo.left, &stereo.right}) {
        for (auto& sample : *channel) {
            const double noisy = sample * 32768.0 + (dither.uniform() - dither.uniform());
            sample = static_cast<float>(std::clamp(std::round(noisy), -32768.0, 32767.0) / 32768.0);
        }
    }
    return integratedLoudness(stereo, rate);
}

} // namespace somnara::soundgen
