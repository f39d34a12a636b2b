#pragma once

#include <somnara/audio/AudioNode.hpp>

#include <memory>

namespace somnara {

namespace rt {
struct VarispeedParameters;
}

/// Changes speed and pitch together: at rate 2 everything upstream plays twice as fast and an octave
/// higher. Loop only.
class AudioUnitVarispeed final : public AudioNode {
public:
    AudioUnitVarispeed();
    ~AudioUnitVarispeed() override;

    /// Factor, 0.25 to 4 (default 1); values outside are clamped.
    float rate() const noexcept { return rate_; }
    void setRate(float rate) noexcept;
    bool bypass() const noexcept { return bypass_; }
    void setBypass(bool bypass) noexcept;

private:
    friend class AudioEngine;

    float rate_ = 1.0F;
    bool bypass_ = false;
    const std::shared_ptr<rt::VarispeedParameters> parameters_;
};

} // namespace somnara
