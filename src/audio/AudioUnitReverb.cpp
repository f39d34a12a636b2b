#include "rt/SharedParameters.hpp"

#include <somnara/audio/AudioUnitReverb.hpp>

#include <algorithm>

namespace somnara {

AudioUnitReverb::AudioUnitReverb()
    : AudioNode(Kind::reverb), parameters_(std::make_shared<rt::ReverbParameters>()) {}

AudioUnitReverb::~AudioUnitReverb() = default;

void AudioUnitReverb::loadFactoryPreset(AudioUnitReverbPreset preset) noexcept {
    const int raw = std::clamp(static_cast<int>(preset), 0, 12);
    preset_ = static_cast<AudioUnitReverbPreset>(raw);
    parameters_->preset.store(raw, std::memory_order_relaxed);
}

void AudioUnitReverb::setWetDryMix(float percent) noexcept {
    wetDryMix_ = std::clamp(percent, 0.0F, 100.0F);
    parameters_->wetDryMix.store(wetDryMix_, std::memory_order_relaxed);
}

void AudioUnitReverb::setBypass(bool bypass) noexcept {
    bypass_ = bypass;
    parameters_->bypass.store(bypass, std::memory_order_relaxed);
}

} // namespace somnara
