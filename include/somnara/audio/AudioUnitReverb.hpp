#pragma once

#include <somnara/audio/AudioNode.hpp>
#include <somnara/audio/AudioUnitTypes.hpp>

#include <memory>

namespace somnara {

namespace rt {
struct ReverbParameters;
}

/// The reverb's factory presets, with the platform's raw values.
using AudioUnitReverbPreset = dsp::ReverbPreset;

/// An algorithmic room reverb. Starts with the medium hall preset. Loop only.
class AudioUnitReverb final : public AudioNode {
public:
    AudioUnitReverb();
    ~AudioUnitReverb() override;

    void loadFactoryPreset(AudioUnitReverbPreset preset) noexcept;
    AudioUnitReverbPreset preset() const noexcept { return preset_; }
    /// Percent, 0 (all dry) to 100 (all wet). The platform does not say its default; 100, so that a
    /// reverb someone inserts is heard, as with the delay.
    float wetDryMix() const noexcept { return wetDryMix_; }
    void setWetDryMix(float percent) noexcept;
    bool bypass() const noexcept { return bypass_; }
    void setBypass(bool bypass) noexcept;

private:
    friend class AudioEngine;

    AudioUnitReverbPreset preset_ = AudioUnitReverbPreset::mediumHall;
    float wetDryMix_ = 100.0F;
    bool bypass_ = false;
    const std::shared_ptr<rt::ReverbParameters> parameters_;
};

} // namespace somnara
