#include "Recipes.hpp"

#include <algorithm>

namespace somnara::soundgen::recipes {
namespace {

// Everything below 20 Hz is removed: it cannot be heard, only wastes headroom and moves a speaker.
double subsonicCut(double hz) {
    return hz < 20 ? std::pow(hz / 20.0, 2.0) : 1.0;
}

// And everything above 17 kHz: few adults hear it, yet blue, violet and grey noise would put much of
// their power there, which the compressed copies cannot keep; the two copies would then differ in
// loudness by up to 3 LU. A raised-cosine taper from 15 to 17 kHz.
double ultrasonicCut(double hz) {
    if (hz <= 15'000) {
        return 1.0;
    }
    if (hz >= 17'000) {
        return 0.0;
    }
    return 0.5 + 0.5 * std::cos(std::numbers::pi * (hz - 15'000) / 2'000);
}

double bandEdges(double hz) {
    return subsonicCut(hz) * ultrasonicCut(hz);
}

// A power-law spectrum: the magnitude for a power slope of `dbPerOctave` (1/f is -3.01 dB/octave).
Stereo powerLawNoise(Synth& synth, double dbPerOctave) {
    Stereo stereo = stereoNoise(synth, 0.25);
    const double exponent = dbPerOctave / (20.0 * std::log10(2.0));
    synth.shape(stereo, [exponent](double hz) {
        return std::pow(std::max(hz, 20.0) / 1000.0, exponent) * bandEdges(hz);
    });
    return stereo;
}

// A-weighting's magnitude (IEC 61672), 1 at 1 kHz.
double aWeighting(double hz) {
    const double f2 = hz * hz;
    const double numerator = 12194.0 * 12194.0 * f2 * f2;
    const double denominator = (f2 + 20.6 * 20.6) * std::sqrt((f2 + 107.7 * 107.7) * (f2 + 737.9 * 737.9)) *
                               (f2 + 12194.0 * 12194.0);
    return numerator / denominator * std::pow(10.0, 2.0 / 20.0);
}

} // namespace

// The exact slopes come from shaping one periodic spectrum, not from filters that only approximate
// 1/f; the ratio of powers is exactly 2^-1 per octave for pink noise and so on.
Stereo white(Synth& synth) {
    return powerLawNoise(synth, 0.0);
}
Stereo pink(Synth& synth) {
    return powerLawNoise(synth, -10 * std::log10(2.0));
}
Stereo brown(Synth& synth) {
    return powerLawNoise(synth, -20 * std::log10(2.0));
}
Stereo blue(Synth& synth) {
    return powerLawNoise(synth, 10 * std::log10(2.0));
}
Stereo violet(Synth& synth) {
    return powerLawNoise(synth, 20 * std::log10(2.0));
}

// Grey noise sounds equally loud at every frequency: the inverse of the ear's A-weighting, with the
// deep-bass boost held at +30 dB so that it does not turn into a rumble below 40 Hz.
Stereo grey(Synth& synth) {
    Stereo stereo = stereoNoise(synth, 0.25);
    const double ceiling = std::pow(10.0, 30.0 / 20.0);
    synth.shape(stereo, [ceiling](double hz) {
        return std::min(1.0 / aWeighting(std::max(hz, 1.0)), ceiling) * bandEdges(hz);
    });
    return stereo;
}

// Brown noise that breathes: its level rises and falls by about 4 dB over tens of seconds, and it
// drifts gently between the ears. The spectrum stays brown.
Stereo brownModulating(Synth& synth) {
    Stereo stereo = brown(synth);
    const Signal level = synth.wander(0.12);
    const Signal drift = synth.wander(0.07);
    for (std::size_t i = 0; i < synth.frames(); ++i) {
        const double swell = std::exp(0.22 * level[i]) * (1 + 0.15 * synth.sine(1.0 / 15.0, i));
        const double side = 0.12 * std::clamp(static_cast<double>(drift[i]), -2.0, 2.0);
        stereo.left[i] = static_cast<float>(stereo.left[i] * swell * (1 - side));
        stereo.right[i] = static_cast<float>(stereo.right[i] * swell * (1 + side));
    }
    return stereo;
}

} // namespace somnara::soundgen::recipes
