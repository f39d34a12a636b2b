#include "UnitStages.hpp"

#include <array>

namespace somnara::rt {

namespace {
constexpr auto relaxed = std::memory_order_relaxed;
}

void DelayStage::applyParameters() noexcept {
    // Only changes go to the unit: a new delay time starts a crossfade there.
    const std::array<float, 4> values{
        parameters_->delayTime.load(relaxed), parameters_->feedback.load(relaxed),
        parameters_->lowPassCutoff.load(relaxed), parameters_->wetDryMix.load(relaxed)};
    if (values != applied_) {
        unit_.setDelayTime(values[0]);
        unit_.setFeedback(values[1]);
        unit_.setLowPassCutoff(values[2]);
        unit_.setWetDryMix(values[3]);
        applied_ = values;
    }
    unit_.setBypass(parameters_->bypass.load(relaxed));
}

void ReverbStage::applyParameters() noexcept {
    const int preset = parameters_->preset.load(relaxed);
    if (preset != preset_) {
        preset_ = preset;
        unit_.loadFactoryPreset(static_cast<dsp::ReverbPreset>(preset));
    }
    unit_.setWetDryMix(parameters_->wetDryMix.load(relaxed));
    unit_.setBypass(parameters_->bypass.load(relaxed));
}

void EqStage::loadAll() noexcept {
    loaded_ = true;
    version_ = parameters_->version.load(std::memory_order_acquire);
    for (std::size_t i = 0; i < EqParameters::bandCount; ++i) {
        const auto& band = parameters_->bands[i];
        unit_.setBandFilterType(i, static_cast<dsp::EQFilterType>(band.filterType.load(relaxed)));
        unit_.setBandFrequency(i, band.frequency.load(relaxed));
        unit_.setBandBandwidth(i, band.bandwidth.load(relaxed));
        unit_.setBandGain(i, band.gain.load(relaxed));
        unit_.setBandBypass(i, band.bypass.load(relaxed));
    }
    unit_.setGlobalGain(parameters_->globalGain.load(relaxed));
    unit_.setBypass(parameters_->bypass.load(relaxed));
}

void EqStage::applyParameters() noexcept {
    // Band values change together (type, frequency, gain); the version says when to look again.
    if (!loaded_ || parameters_->version.load(std::memory_order_acquire) != version_) {
        loadAll();
    }
}

void TimePitchStage::applyParameters() noexcept {
    // A new pitch makes the stretcher redesign its filter: hand over changes only.
    const float pitch = parameters_->pitch.load(relaxed);
    if (pitch != appliedPitch_) {
        unit_.setPitch(pitch);
        appliedPitch_ = pitch;
    }
    unit_.setBypass(parameters_->bypass.load(relaxed));
}

void VarispeedStage::applyParameters() noexcept {
    const float rate = parameters_->rate.load(relaxed);
    const bool bypass = parameters_->bypass.load(relaxed);
    if (rate != appliedRate_) {
        unit_.setRate(rate);
        appliedRate_ = rate;
    }
    unit_.setBypass(bypass);
    effectiveRate_ = bypass ? 1.0 : static_cast<double>(rate);
}

} // namespace somnara::rt
