#include "rt/SharedParameters.hpp"

#include <somnara/audio/AudioUnitEQ.hpp>
#include <somnara/system/ZelAnalyticsLogger.hpp>

#include <algorithm>

namespace somnara {

namespace {
constexpr auto relaxed = std::memory_order_relaxed;
}

AudioUnitEQFilterParameters::AudioUnitEQFilterParameters(std::shared_ptr<rt::EqParameters> parameters,
                                                         std::size_t index)
    : parameters_(std::move(parameters)), index_(index) {}

void AudioUnitEQFilterParameters::published() noexcept {
    // Release: the render side reads the band's values after an acquire load of the version.
    parameters_->version.fetch_add(1, std::memory_order_release);
}

void AudioUnitEQFilterParameters::setFilterType(AudioUnitEQFilterType type) noexcept {
    filterType_ = type;
    parameters_->bands[index_].filterType.store(static_cast<int>(type), relaxed);
    published();
}

void AudioUnitEQFilterParameters::setFrequency(float hertz) noexcept {
    frequency_ = std::max(hertz, 20.0F);
    parameters_->bands[index_].frequency.store(frequency_, relaxed);
    published();
}

void AudioUnitEQFilterParameters::setBandwidth(float octaves) noexcept {
    bandwidth_ = std::clamp(octaves, 0.05F, 5.0F);
    parameters_->bands[index_].bandwidth.store(bandwidth_, relaxed);
    published();
}

void AudioUnitEQFilterParameters::setGain(float decibels) noexcept {
    gain_ = std::clamp(decibels, -96.0F, 24.0F);
    parameters_->bands[index_].gain.store(gain_, relaxed);
    published();
}

void AudioUnitEQFilterParameters::setBypass(bool bypass) noexcept {
    bypass_ = bypass;
    parameters_->bands[index_].bypass.store(bypass, relaxed);
    published();
}

AudioUnitEQ::AudioUnitEQ(std::size_t numberOfBands)
    : AudioNode(Kind::eq), parameters_(std::make_shared<rt::EqParameters>()) {
    if (numberOfBands > maximumBandCount) {
        ZelAnalyticsLogger::shared().loggedAssertionFailure(
            "Too many equaliser bands", "SomnaraKit/AudioUnitEQ", "AudioUnitEQ(numberOfBands:)", __LINE__);
        numberOfBands = maximumBandCount;
    }
    bands_.reserve(numberOfBands);
    for (std::size_t i = 0; i < numberOfBands; ++i) {
        bands_.emplace_back(parameters_, i);
    }
}

AudioUnitEQ::~AudioUnitEQ() = default;

void AudioUnitEQ::setGlobalGain(float decibels) noexcept {
    globalGain_ = std::clamp(decibels, -96.0F, 24.0F);
    parameters_->globalGain.store(globalGain_, relaxed);
    parameters_->version.fetch_add(1, std::memory_order_release);
}

void AudioUnitEQ::setBypass(bool bypass) noexcept {
    bypass_ = bypass;
    parameters_->bypass.store(bypass, relaxed);
    parameters_->version.fetch_add(1, std::memory_order_release);
}

} // namespace somnara
