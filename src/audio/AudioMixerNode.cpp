#include "rt/SharedParameters.hpp"

#include <somnara/audio/AudioMixerNode.hpp>

#include <algorithm>

namespace somnara {

AudioMixerNode::AudioMixerNode()
    : AudioNode(Kind::mixer), parameters_(std::make_shared<rt::MixerParameters>()) {}

AudioMixerNode::~AudioMixerNode() = default;

void AudioMixerNode::setOutputVolume(float volume) noexcept {
    outputVolume_ = std::clamp(volume, 0.0F, 1.0F);
    parameters_->outputVolume.store(outputVolume_, std::memory_order_relaxed);
}

} // namespace somnara
