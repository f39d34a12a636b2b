#pragma once

#include "audio/dsp/Biquad.hpp"
#include "audio/dsp/BypassFader.hpp"
#include "audio/dsp/LinearSmoother.hpp"

#include <array>
#include <cstddef>
#include <vector>

namespace somnara::dsp {

/// Ten-band parametric equaliser of cookbook biquads, in place on planar stereo float32.
///
/// Render thread only: prepare() allocates; every other member is noexcept and allocation-free.
/// Frequency, bandwidth, gain and the global gain glide over 20 ms; while a band glides its coefficients
/// are redesigned every 16 frames (counted on the unit's own frame clock, so the output does not depend on
/// how the caller splits its blocks). A band's bypass crossfades the band's output with its input, so the
/// pass and stop types switch in and out without a click as well. Filters run in double precision: the
/// lowest bands sit at a few hertz from DC with narrow bandwidths, where single precision is noisy.
class ParametricEQ {
public:
    static constexpr std::size_t bandCount = 10;
    static constexpr double rampSeconds = 0.02;
    static constexpr std::size_t redesignInterval = 16;

    ParametricEQ();

    void prepare(double sampleRate, std::size_t maxFrames);
    void reset() noexcept;
    void process(float* left, float* right, std::size_t frames) noexcept;

    // Band parameters; an out-of-range band index is ignored. Defaults: parametric, 1000 Hz, one octave,
    // 0 dB, and bypassed, as the platform's equaliser starts with every band bypassed.
    void setBandFilterType(std::size_t band, EQFilterType type) noexcept;
    void setBandFrequency(std::size_t band, float hertz) noexcept;
    void setBandBandwidth(std::size_t band, float octaves) noexcept;
    void setBandGain(std::size_t band, float decibels) noexcept;
    void setBandBypass(std::size_t band, bool bypass) noexcept;
    /// Gain applied after the bands, -96…24 dB.
    void setGlobalGain(float decibels) noexcept;
    void setBypass(bool bypass) noexcept { bypass_.setBypass(bypass); }

    /// The magnitude (linear) of the whole unit at `frequency` as designed from the target parameters:
    /// the product of every band that is not bypassed and the global gain; 1 when the unit is bypassed.
    [[nodiscard]] double magnitudeResponse(double frequency) const noexcept;

    /// One band of the steady pass: coefficients and state for both channels side by side.
    struct SteadySection {
        using Pair = double __attribute__((vector_size(2 * sizeof(double))));
        Pair b0, b1, b2, a1, a2, s1, s2;
    };

private:
    using SectionRunner = void (*)(SteadySection* sections, std::size_t count, float* left, float* right,
                                   std::size_t frames) noexcept;

    struct Band {
        EQFilterType type = EQFilterType::parametric;
        LinearSmoother frequency{1000.0f};
        LinearSmoother bandwidth{1.0f};
        LinearSmoother gain{0.0f};
        LinearSmoother mix{0.0f}; // 1 = filtered, 0 = bypassed
        BiquadCoefficients coefficients;
        // Transposed direct form II state, per channel.
        double leftS1 = 0.0, leftS2 = 0.0, rightS1 = 0.0, rightS2 = 0.0;
    };

    void processBands(float* left, float* right, std::size_t frames) noexcept;
    void processBand(Band& band, float* left, float* right, std::size_t frames) noexcept;
    /// All bands at once, while none of them fades in or out.
    void processSteadyBands(float* left, float* right, std::size_t frames) noexcept;
    void redesign(Band& band) noexcept;
    void resetFilterState() noexcept;
    [[nodiscard]] bool anyBandGliding() const noexcept;

    // Render thread only.
    double sampleRate_ = 44100.0;
    std::size_t rampFrames_ = 882;
    std::size_t framesUntilRedesign_ = redesignInterval;
    std::array<Band, bandCount> bands_;
    LinearSmoother globalGain_{1.0f}; // linear
    float globalGainDb_ = 0.0f;
    BypassFader bypass_;
    SectionRunner runSections_ = nullptr; // chosen for the processor in prepare()
};

} // namespace somnara::dsp
