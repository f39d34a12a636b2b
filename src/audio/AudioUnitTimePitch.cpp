#include "rt/SharedParameters.hpp"

#include <somnara/audio/AudioUnitTimePitch.hpp>

#include <algorithm>

namespace somnara {

AudioUnitTimePitch::AudioUnitTimePitch()
    : AudioNode(Kind::timePitch), parameters_(std::make_shared<rt::TimePitchParameters>()) {}

AudioUnitTimePitch::~AudioUnitTimePitch() = default;

void AudioUnitTimePitch::setPitch(float cents) noexcept {
    pitch_ = std::clamp(cents, -2'400.0F, 2'400.0F);
    parameters_->pitch.store(pitch_, std::memory_order_relaxed);
}

void AudioUnitTimePitch::setBypass(bool bypass) noexcept {
    bypass_ = bypass;
    parameters_->bypass.store(bypass, std::memory_order_relaxed);
}

} // namespace somnara
