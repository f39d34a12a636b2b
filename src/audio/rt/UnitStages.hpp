#pragma once

#include "SharedParameters.hpp"
#include "Stage.hpp"
#include "audio/dsp/Delay.hpp"
#include "audio/dsp/ParametricEQ.hpp"
#include "audio/dsp/Reverb.hpp"
#include "audio/dsp/TimePitch.hpp"
#include "audio/dsp/Varispeed.hpp"

#include <array>
#include <cstdint>
#include <limits>
#include <memory>

namespace somnara::rt {

// The render twins of the effect units: each reads its node's published targets once per piece, hands
// changed ones to its DSP unit (which smooths them per sample) and runs the unit. Render thread only
// after `prepare`.

/// The skeleton of every unit's stage. An in-place unit (delay, EQ, reverb) processes what its upstream
/// gave; a pull unit (time pitch, varispeed) pulls from the upstream what it needs itself.
template <class Unit, class Parameters>
class UnitStage : public Stage {
public:
    explicit UnitStage(std::shared_ptr<Parameters> parameters) : parameters_(std::move(parameters)) {}
    /// Prepares the unit and settles it on the published values: a unit that starts bypassed, or with
    /// a parameter away from its default, starts there instead of fading to it.
    void prepare(double sampleRate, std::size_t maxFrames) override {
        unit_.prepare(sampleRate, maxFrames);
        forgetApplied();
        applyParameters();
        unit_.reset();
    }
    void reset() noexcept override { unit_.reset(); }

protected:
    /// Makes the next `applyParameters` hand every value over.
    virtual void forgetApplied() noexcept = 0;

    void produce(float* left, float* right, std::size_t frames) noexcept override {
        if constexpr (requires(dsp::AudioSource & source) { unit_.render(left, right, frames, source); }) {
            unit_.render(left, right, frames, *upstream_);
        } else {
            upstream_->pull(left, right, frames);
            unit_.process(left, right, frames);
        }
    }

    const std::shared_ptr<Parameters> parameters_;
    Unit unit_;
};

class DelayStage final : public UnitStage<dsp::Delay, DelayParameters> {
public:
    using UnitStage::UnitStage;
    void applyParameters() noexcept override;

private:
    void forgetApplied() noexcept override { applied_.fill(std::numeric_limits<float>::quiet_NaN()); }

    // Delay time, feedback, cut-off and mix as last handed to the unit.
    std::array<float, 4> applied_{};
};

class ReverbStage final : public UnitStage<dsp::Reverb, ReverbParameters> {
public:
    using UnitStage::UnitStage;
    void applyParameters() noexcept override;

private:
    void forgetApplied() noexcept override { preset_ = -1; }

    int preset_ = -1;
};

class EqStage final : public UnitStage<dsp::ParametricEQ, EqParameters> {
public:
    using UnitStage::UnitStage;
    void applyParameters() noexcept override;

private:
    void forgetApplied() noexcept override { loaded_ = false; }
    void loadAll() noexcept;

    bool loaded_ = false;
    std::uint32_t version_ = 0;
};

class TimePitchStage final : public UnitStage<dsp::TimePitch, TimePitchParameters> {
public:
    using UnitStage::UnitStage;
    void applyParameters() noexcept override;

private:
    void forgetApplied() noexcept override { appliedPitch_ = std::numeric_limits<float>::quiet_NaN(); }
    double upstreamFramesFor(std::size_t) const noexcept override {
        return static_cast<double>(unit_.lastUpstreamFrames());
    }
    double latencyFrames() const noexcept override { return static_cast<double>(unit_.latencyFrames()); }

    float appliedPitch_ = 0.0F;
};

class VarispeedStage final : public UnitStage<dsp::Varispeed, VarispeedParameters> {
public:
    using UnitStage::UnitStage;
    void applyParameters() noexcept override;

private:
    void forgetApplied() noexcept override { appliedRate_ = std::numeric_limits<float>::quiet_NaN(); }
    // What the resampler pulls runs ahead of what it plays by whatever its input buffer holds, so
    // upstream time is taken from the rate instead: each output frame plays `rate` upstream frames.
    // The resampler's own delay is reported in output frames.
    double upstreamFramesFor(std::size_t frames) const noexcept override {
        return static_cast<double>(frames) * effectiveRate_;
    }
    double latencyFrames() const noexcept override { return unit_.latencyFrames() * effectiveRate_; }

    double effectiveRate_ = 1.0;
    float appliedRate_ = 1.0F;
};

} // namespace somnara::rt
