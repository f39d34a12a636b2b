#pragma once

#include "audio/dsp/BypassFader.hpp"
#include "audio/dsp/LinearSmoother.hpp"

#include <somnara/audio/AudioUnitTypes.hpp>

#include <array>
#include <cstddef>
#include <vector>

namespace somnara::dsp {

/// What a preset sets.
struct ReverbPresetParameters {
    double decaySeconds;            ///< RT60 at low frequencies
    double highFrequencyDecayRatio; ///< RT60 at the Nyquist frequency ÷ RT60 at DC
    double size;                    ///< scale of the delay lines (1 = a large hall, ~33-63 ms)
    double preDelaySeconds;         ///< gap between the direct sound and the reverberation
};

/// Algorithmic stereo reverb, in place on planar stereo float32: a pre-delay, four series all-pass
/// diffusers, then an eight-line feedback delay network with a Hadamard feedback matrix. Each line's
/// loop gain is set from the preset's RT60 and each line has a one-pole absorption filter, so high
/// frequencies die away faster, as in a real room. The left and right outputs are different sign
/// combinations of the lines, which keeps them decorrelated.
///
/// The large hall (the preset the player uses) is designed for an RT60 of 2.4 s at low frequencies, half
/// of that at the top of the spectrum, with a 25 ms pre-delay: measured broadband (Schroeder backward
/// integration, T30) it decays in 2.1 s at 48 kHz, in the 1.8-2.6 s of a large concert hall.
///
/// Render thread only: prepare() allocates lines long enough for every preset; everything else is
/// noexcept and allocation-free. The wet/dry mix glides over 20 ms. While the mix rests at 0 the network
/// is not run at all and the output is the input, bit for bit.
class Reverb {
public:
    static constexpr std::size_t lineCount = 8;
    static constexpr double rampSeconds = 0.02;

    /// The values each factory preset loads.
    [[nodiscard]] static ReverbPresetParameters presetParameters(ReverbPreset preset) noexcept;

    void prepare(double sampleRate, std::size_t maxFrames);
    void reset() noexcept;
    void process(float* left, float* right, std::size_t frames) noexcept;

    /// Loads a preset (default mediumHall). The tail of the previous preset is dropped, so a change while
    /// the reverb is heard cuts its tail; the player loads the preset once, when it sets up the graph.
    void loadFactoryPreset(ReverbPreset preset) noexcept;
    /// Percent, 0 = dry … 100 = wet. Defaults to 100 so that a freshly inserted reverb is heard.
    void setWetDryMix(float percent) noexcept;
    void setBypass(bool bypass) noexcept { bypass_.setBypass(bypass); }

    [[nodiscard]] ReverbPreset preset() const noexcept { return preset_; }

private:
    struct AllPass {
        std::vector<float> buffer;
        std::size_t length = 1;
        std::size_t position = 0;
    };

    void configure() noexcept;
    void clearState() noexcept;
    void processBlock(float* left, float* right, std::size_t frames) noexcept;

    // Render thread only.
    double sampleRate_ = 44100.0;
    std::size_t rampFrames_ = 882;
    ReverbPreset preset_ = ReverbPreset::mediumHall;

    std::vector<float> preDelay_;
    std::size_t preDelayMask_ = 0;
    std::size_t preDelayFrames_ = 1;
    std::size_t preDelayWrite_ = 0;
    std::array<AllPass, 4> diffusers_;

    std::vector<float> lines_; // the eight lines interleaved, frame by frame
    std::size_t lineMask_ = 0; // frames per line, less one (a power of two)
    std::array<std::size_t, lineCount> lineLengths_{};
    std::size_t lineWrite_ = 0;
    std::array<float, lineCount> lineGains_{};
    std::array<float, lineCount> damping_{};
    std::array<float, lineCount> filterState_{};
    float wetGain_ = 1.0f;

    LinearSmoother mix_{1.0f};
    BypassFader bypass_;
    // Scratch of one block: the diffused input and the network's two outputs.
    std::vector<float> input_, wetLeft_, wetRight_;
};

} // namespace somnara::dsp
