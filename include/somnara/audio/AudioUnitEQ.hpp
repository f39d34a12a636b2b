#pragma once

#include <somnara/audio/AudioNode.hpp>
#include <somnara/audio/AudioUnitTypes.hpp>

#include <cstddef>
#include <memory>
#include <vector>

namespace somnara {

namespace rt {
struct EqParameters;
}

/// Filter shapes of an equaliser band, with the platform's raw values.
using AudioUnitEQFilterType = dsp::EQFilterType;

/// One band of an `AudioUnitEQ`. Setting a value publishes it to the render side at once.
class AudioUnitEQFilterParameters {
public:
    AudioUnitEQFilterParameters(std::shared_ptr<rt::EqParameters> parameters, std::size_t index);

    AudioUnitEQFilterType filterType() const noexcept { return filterType_; }
    void setFilterType(AudioUnitEQFilterType type) noexcept;
    /// Hz, 20 to half the sample rate (clamped by the render side to its own rate). Default 1000.
    float frequency() const noexcept { return frequency_; }
    void setFrequency(float hertz) noexcept;
    /// Octaves, 0.05 to 5. Default 1.
    float bandwidth() const noexcept { return bandwidth_; }
    void setBandwidth(float octaves) noexcept;
    /// dB, −96 to 24. Default 0.
    float gain() const noexcept { return gain_; }
    void setGain(float decibels) noexcept;
    /// Every band starts bypassed, as the platform's do.
    bool bypass() const noexcept { return bypass_; }
    void setBypass(bool bypass) noexcept;

private:
    void published() noexcept;

    std::shared_ptr<rt::EqParameters> parameters_;
    std::size_t index_;
    AudioUnitEQFilterType filterType_ = AudioUnitEQFilterType::parametric;
    float frequency_ = 1'000.0F;
    float bandwidth_ = 1.0F;
    float gain_ = 0.0F;
    bool bypass_ = true;
};

/// A parametric equaliser of up to ten bands. Loop only.
class AudioUnitEQ final : public AudioNode {
public:
    static constexpr std::size_t maximumBandCount = 10;

    /// Bands beyond ten are not made (a broken expectation, reported).
    explicit AudioUnitEQ(std::size_t numberOfBands = maximumBandCount);
    ~AudioUnitEQ() override;

    std::vector<AudioUnitEQFilterParameters>& bands() noexcept { return bands_; }
    const std::vector<AudioUnitEQFilterParameters>& bands() const noexcept { return bands_; }
    /// dB, −96 to 24 (default 0), applied after the bands.
    float globalGain() const noexcept { return globalGain_; }
    void setGlobalGain(float decibels) noexcept;
    bool bypass() const noexcept { return bypass_; }
    void setBypass(bool bypass) noexcept;

private:
    friend class AudioEngine;

    const std::shared_ptr<rt::EqParameters> parameters_;
    std::vector<AudioUnitEQFilterParameters> bands_;
    float globalGain_ = 0.0F;
    bool bypass_ = false;
};

} // namespace somnara
