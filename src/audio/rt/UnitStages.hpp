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

/// A unit that changes the audio in place: pulls its upstream, then processes.
template <class Unit>
class InPlaceStage : public Stage {
public:
    void setUpstream(Stage* upstream) noexcept { upstream_ = upstream; }
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
    virtual void forgetApplied() noexcept {}

    void produce(float* left, float* right, std::size_t frames) noexcept override {
        upstream_->pull(left, right, frames);
        unit_.process(left, right, frames);
    }

    Unit unit_;
    Stage* upstream_ = nullptr;
};

class DelayStage final : public InPlaceStage<dsp::Delay> {
public:
    explicit DelayStage(std::shared_ptr<DelayParameters> parameters) : parameters_(std::move(parameters)) {}
    void applyParameters() noexcept override;

private:
    void forgetApplied() noexcept override { applied_.fill(std::numeric_limits<float>::quiet_NaN()); }

    const std::shared_ptr<DelayParameters> parameters_;
    // Delay time, feedback, cut-off and mix as last handed to the unit.
    std::array<float, 4> applied_{};
};

class ReverbStage final : public InPlaceStage<dsp::Reverb> {
public:
    explicit ReverbStage(std::shared_ptr<ReverbParameters> parameters) : parameters_(std::move(parameters)) {}
    void applyParameters() noexcept override;

private:
    void forgetApplied() noexcept override { preset_ = -1; }

    const std::shared_ptr<ReverbParameters> parameters_;
    int preset_ = -1;
};

class EqStage final : public InPlaceStage<dsp::ParametricEQ> {
public:
    explicit EqStage(std::shared_ptr<EqParameters> parameters) : parameters_(std::move(parameters)) {}
    void applyParameters() noexcept override;

private:
    void forgetApplied() noexcept override { loaded_ = false; }
    void loadAll() noexcept;

    bool loaded_ = false;

    const std::shared_ptr<EqParameters> parameters_;
    std::uint32_t version_ = 0;
};

class TimePitchStage final : public Stage {
public:
    explicit TimePitchStage(std::shared_ptr<TimePitchParameters> parameters)
        : parameters_(std::move(parameters)) {}
    void setUpstream(Stage* upstream) noexcept { upstream_ = upstream; }
    void prepare(double sampleRate, std::size_t maxFrames) override;
    void reset() noexcept override { unit_.reset(); }
    void applyParameters() noexcept override;

private:
    void produce(float* left, float* right, std::size_t frames) noexcept override {
        unit_.render(left, right, frames, *upstream_);
    }
    double upstreamFramesFor(std::size_t) const noexcept override {
        return static_cast<double>(unit_.lastUpstreamFrames());
    }
    double latencyFrames() const noexcept override { return static_cast<double>(unit_.latencyFrames()); }

    const std::shared_ptr<TimePitchParameters> parameters_;
    dsp::TimePitch unit_;
    Stage* upstream_ = nullptr;
    float appliedPitch_ = 0.0F;
};

class VarispeedStage final : public Stage {
public:
    explicit VarispeedStage(std::shared_ptr<VarispeedParameters> parameters)
        : parameters_(std::move(parameters)) {}
    void setUpstream(Stage* upstream) noexcept { upstream_ = upstream; }
    void prepare(double sampleRate, std::size_t maxFrames) override;
    void reset() noexcept override { unit_.reset(); }
    void applyParameters() noexcept override;

private:
    void produce(float* left, float* right, std::size_t frames) noexcept override {
        unit_.render(left, right, frames, *upstream_);
    }
    // What the resampler pulls runs ahead of what it plays by whatever its input buffer holds, so
    // upstream time is taken from the rate instead: each output frame plays `rate` upstream frames.
    // The resampler's own delay is reported in output frames.
    double upstreamFramesFor(std::size_t frames) const noexcept override {
        return static_cast<double>(frames) * effectiveRate_;
    }
    double latencyFrames() const noexcept override { return unit_.latencyFrames() * effectiveRate_; }

    const std::shared_ptr<VarispeedParameters> parameters_;
    dsp::Varispeed unit_;
    Stage* upstream_ = nullptr;
    double effectiveRate_ = 1.0;
    float appliedRate_ = 1.0F;
};

} // namespace somnara::rt
