#pragma once

#include <somnara/audio/AudioNode.hpp>

#include <memory>

namespace somnara {

namespace rt {
struct TimePitchParameters;
}

/// Shifts the pitch and keeps the tempo. Loop only; the render twin smooths towards what is set here.
class AudioUnitTimePitch final : public AudioNode {
public:
    AudioUnitTimePitch();
    ~AudioUnitTimePitch() override;

    /// Cents, −2400 to 2400 (default 0); values outside are clamped.
    float pitch() const noexcept { return pitch_; }
    void setPitch(float cents) noexcept;
    /// Bypassed, the unit passes its input through unchanged, bit for bit (default false).
    bool bypass() const noexcept { return bypass_; }
    void setBypass(bool bypass) noexcept;

private:
    friend class AudioEngine;

    float pitch_ = 0.0F;
    bool bypass_ = false;
    const std::shared_ptr<rt::TimePitchParameters> parameters_;
};

} // namespace somnara
