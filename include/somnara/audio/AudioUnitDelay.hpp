#pragma once

#include <somnara/audio/AudioNode.hpp>

#include <memory>

namespace somnara {

namespace rt {
struct DelayParameters;
}

/// Echo with feedback and a low-pass in the loop, like a tape delay. Defaults are the platform's: 1 s,
/// 50 % feedback, 15 kHz cut-off, 100 % wet. Loop only.
class AudioUnitDelay final : public AudioNode {
public:
    AudioUnitDelay();
    ~AudioUnitDelay() override;

    /// Seconds, 0 to 2.
    float delayTime() const noexcept { return delayTime_; }
    void setDelayTime(float seconds) noexcept;
    /// Percent of the output fed back, −100 to 100.
    float feedback() const noexcept { return feedback_; }
    void setFeedback(float percent) noexcept;
    /// Hz, 10 to half the engine's sample rate (clamped by the render side to its own rate).
    float lowPassCutoff() const noexcept { return lowPassCutoff_; }
    void setLowPassCutoff(float hertz) noexcept;
    /// Percent, 0 (all dry) to 100 (all wet).
    float wetDryMix() const noexcept { return wetDryMix_; }
    void setWetDryMix(float percent) noexcept;
    bool bypass() const noexcept { return bypass_; }
    void setBypass(bool bypass) noexcept;

private:
    friend class AudioEngine;

    float delayTime_ = 1.0F;
    float feedback_ = 50.0F;
    float lowPassCutoff_ = 15'000.0F;
    float wetDryMix_ = 100.0F;
    bool bypass_ = false;
    const std::shared_ptr<rt::DelayParameters> parameters_;
};

} // namespace somnara
