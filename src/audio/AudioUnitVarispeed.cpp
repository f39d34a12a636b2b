#include "rt/SharedParameters.hpp"

#include <somnara/audio/AudioUnitVarispeed.hpp>

#include <algorithm>

namespace somnara {

AudioUnitVarispeed::AudioUnitVarispeed()
    : AudioNode(Kind::varispeed), parameters_(std::make_shared<rt::VarispeedParameters>()) {}

AudioUnitVarispeed::~AudioUnitVarispeed() = default;

void AudioUnitVarispeed::setRate(float rate) noexcept {
    rate_ = std::clamp(rate, 0.25F, 4.0F);
    parameters_->rate.store(rate_, std::memory_order_relaxed);
}

void AudioUnitVarispeed::setBypass(bool bypass) noexcept {
    bypass_ = bypass;
    parameters_->bypass.store(bypass, std::memory_order_relaxed);
}

} // namespace somnara
