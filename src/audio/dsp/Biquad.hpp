#pragma once

#include <somnara/audio/AudioUnitTypes.hpp>

namespace somnara::dsp {

/// Normalised second-order section: y = b0·x + b1·x[-1] + b2·x[-2] - a1·y[-1] - a2·y[-2].
struct BiquadCoefficients {
    double b0 = 1.0;
    double b1 = 0.0;
    double b2 = 0.0;
    double a1 = 0.0;
    double a2 = 0.0;
};

/// Designs one band from the audio EQ cookbook (bilinear transform with pre-warping). Bandwidth is in
/// octaves: for the peaking type between the frequencies where the gain is half the peak gain in dB, for
/// band pass, band stop and the resonant types between the -3 dB points. The plain low and high pass are
/// Butterworth (Q = 1/√2) and the plain shelves have slope 1; both ignore the bandwidth, and the pass and
/// stop types ignore the gain. Inputs are clamped to what the design can take: frequency to
/// [1 Hz, 0.495·rate], bandwidth to [0.05, 5] octaves, gain to [-96, 24] dB.
BiquadCoefficients designBiquad(EQFilterType type, double frequency, double bandwidthOctaves, double gainDb,
                                double sampleRate) noexcept;

/// |H(e^jω)| of a section at `frequency`.
double biquadMagnitude(const BiquadCoefficients& c, double frequency, double sampleRate) noexcept;

} // namespace somnara::dsp
