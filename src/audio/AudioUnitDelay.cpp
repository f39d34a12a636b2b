#include "rt/SharedParameters.hpp"

#include <somnara/audio/AudioUnitDelay.hpp>

#include <algorithm>

namespace somnara {

namespace {
constexpr auto relaxed = std::memory_order_relaxed;
}

AudioUnitDelay::AudioUnitDelay()
    : AudioNode(Kind::delay), parameters_(std::make_shared<rt::DelayParameters>()) {}

AudioUnitDelay::~AudioUnitDelay() = default;

void AudioUnitDelay::setDelayTime(float seconds) noexcept {
    delayTime_ = std::clamp(seconds, 0.0F, 2.0F);
    parameters_->delayTime.store(delayTime_, relaxed);
}

void AudioUnitDelay::setFeedback(float percent) noexcept {
    feedback_ = std::clamp(percent, -100.0F, 100.0F);
    parameters_->feedback.store(feedback_, relaxed);
}

void AudioUnitDelay::setLowPassCutoff(float hertz) noexcept {
    // The upper bound depends on the output's rate, which the render side knows; it clamps there.
    lowPassCutoff_ = std::max(hertz, 10.0F);
    parameters_->lowPassCutoff.store(lowPassCutoff_, relaxed);
}

void AudioUnitDelay::setWetDryMix(float percent) noexcept {
    wetDryMix_ = std::clamp(percent, 0.0F, 100.0F);
    parameters_->wetDryMix.store(wetDryMix_, relaxed);
}

void AudioUnitDelay::setBypass(bool bypass) noexcept {
    bypass_ = bypass;
    parameters_->bypass.store(bypass, relaxed);
}

} // namespace somnara
