#pragma once

// Measurements on rendered audio for render tests: levels, tone amplitude and frequency, steps between
// samples, reverberation decay. Plain and slow on purpose: they are the reference the engine is held to.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numbers>
#include <optional>
#include <span>
#include <vector>

namespace somnara::test {

/// A sine of `frames` samples.
inline std::vector<float> makeSine(double frequency, double sampleRate, std::size_t frames,
                                   double amplitude = 0.5, double phase = 0.0) {
    std::vector<float> out(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        out[i] = static_cast<float>(
            amplitude *
            std::sin(2.0 * std::numbers::pi * frequency * static_cast<double>(i) / sampleRate + phase));
    }
    return out;
}

/// Deterministic white noise in [-amplitude, amplitude] (a 64-bit LCG, so every run renders the same).
inline std::vector<float> makeNoise(std::size_t frames, double amplitude = 0.5, unsigned long long seed = 1) {
    std::vector<float> out(frames);
    unsigned long long s = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    for (auto& x : out) {
        s = s * 6364136223846793005ULL + 1442695040888963407ULL;
        const double u = static_cast<double>(s >> 11) / static_cast<double>(1ULL << 53);
        x = static_cast<float>(amplitude * (2.0 * u - 1.0));
    }
    return out;
}

inline double rms(std::span<const float> x) {
    if (x.empty()) {
        return 0.0;
    }
    double sum = 0.0;
    for (const float v : x) {
        sum += static_cast<double>(v) * v;
    }
    return std::sqrt(sum / static_cast<double>(x.size()));
}

inline double peak(std::span<const float> x) {
    double p = 0.0;
    for (const float v : x) {
        p = std::max(p, std::abs(static_cast<double>(v)));
    }
    return p;
}

inline double toDecibels(double ratio) {
    return 20.0 * std::log10(ratio);
}

/// Amplitude of the component at `frequency` (Goertzel over a Hann window): a steady sine of amplitude A
/// measures A, independently of where the window cuts its cycles.
inline double toneAmplitude(std::span<const float> x, double frequency, double sampleRate) {
    const std::size_t n = x.size();
    const double w = 2.0 * std::numbers::pi * frequency / sampleRate;
    const double coeff = 2.0 * std::cos(w);
    double s1 = 0.0, s2 = 0.0, windowSum = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double hann =
            0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(n));
        windowSum += hann;
        const double s0 = hann * x[i] + coeff * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double re = s1 - s2 * std::cos(w);
    const double im = s2 * std::sin(w);
    return 2.0 * std::sqrt(re * re + im * im) / windowSum;
}

/// Frequency from upward zero crossings (interpolated between samples): cycles between the first and the
/// last crossing over the time between them. Exact for a clean tone; robust to small noise over long spans.
inline std::optional<double> zeroCrossingFrequency(std::span<const float> x, double sampleRate) {
    std::optional<double> first;
    double last = 0.0;
    std::size_t cycles = 0;
    for (std::size_t i = 1; i < x.size(); ++i) {
        if (x[i - 1] < 0.0f && x[i] >= 0.0f) {
            const double t = static_cast<double>(i - 1) + x[i - 1] / (x[i - 1] - x[i]);
            if (!first) {
                first = t;
            } else {
                ++cycles;
                last = t;
            }
        }
    }
    if (!first || cycles == 0) {
        return std::nullopt;
    }
    return static_cast<double>(cycles) * sampleRate / (last - *first);
}

inline double centsBetween(double from, double to) {
    return 1200.0 * std::log2(to / from);
}

/// Largest |x[i] - x[i-1]|.
inline double maxStep(std::span<const float> x) {
    double m = 0.0;
    for (std::size_t i = 1; i < x.size(); ++i) {
        m = std::max(m, std::abs(static_cast<double>(x[i]) - x[i - 1]));
    }
    return m;
}

struct Line {
    double slope;
    double intercept;
};

/// The least-squares line through the points (xs[i], ys[i]).
inline Line fitLine(std::span<const double> xs, std::span<const double> ys) {
    const double n = static_cast<double>(xs.size());
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (std::size_t i = 0; i < xs.size(); ++i) {
        sx += xs[i];
        sy += ys[i];
        sxx += xs[i] * xs[i];
        sxy += xs[i] * ys[i];
    }
    const double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
    return {slope, (sy - slope * sx) / n};
}

/// Reverberation time from an impulse response by Schroeder backward integration: the energy decay curve
/// in dB is fitted with a line between `fromDb` and `toDb` (T30 by default) and extrapolated to -60 dB.
inline std::optional<double> schroederDecayTime(std::span<const float> ir, double sampleRate,
                                                double fromDb = -5.0, double toDb = -35.0) {
    std::vector<double> edc(ir.size());
    double acc = 0.0;
    for (std::size_t i = ir.size(); i-- > 0;) {
        acc += static_cast<double>(ir[i]) * ir[i];
        edc[i] = acc;
    }
    std::vector<double> times, levels;
    for (std::size_t i = 0; i < edc.size() && acc > 0.0; ++i) {
        const double db = 10.0 * std::log10(edc[i] / acc);
        if (db <= fromDb && db >= toDb) {
            times.push_back(static_cast<double>(i) / sampleRate);
            levels.push_back(db);
        }
    }
    const double slope = times.size() < 2 ? 0.0 : fitLine(times, levels).slope;
    return slope < 0.0 ? std::optional(-60.0 / slope) : std::nullopt;
}

} // namespace somnara::test
