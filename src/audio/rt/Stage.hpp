#pragma once

#include "audio/dsp/AudioSource.hpp"

#include <cstddef>
#include <cstdint>

namespace somnara::rt {

/// One node of the render chain: a source the next stage pulls from. Besides producing audio, a stage
/// keeps its own clock (frames produced) and says how much upstream time its output covers, so that the
/// graph can tell when a frame that entered it has come out (latency, and a varispeed that makes
/// upstream time run faster or slower than the output's).
///
/// Render thread only, after `prepare` (which allocates and runs on the loop before the first render).
class Stage : public dsp::AudioSource {
public:
    virtual ~Stage() = default;

    /// The stage this one takes its input from (none for a mixer that begins the chain).
    void setUpstream(Stage* upstream) noexcept { upstream_ = upstream; }

    virtual void prepare(double sampleRate, std::size_t maxFrames) = 0;
    /// Clears internal state (tails, filter memories).
    virtual void reset() noexcept {}
    /// Reads the published parameter targets; called once per rendered piece.
    virtual void applyParameters() noexcept {}

    void pull(float* left, float* right, std::size_t frames) noexcept final {
        produce(left, right, frames);
        produced_ += static_cast<std::int64_t>(frames);
        inputTime_ += upstreamFramesFor(frames);
    }

    /// Notes the clocks at the start of a piece.
    void markPiece() noexcept {
        producedBefore_ = produced_;
        inputBefore_ = inputTime_ - latencyFrames();
    }

    /// Upstream time that has come out of this stage: frames of the upstream's output, less the
    /// latency. A frame at upstream time t has left once this reaches t.
    double inputOut() const noexcept { return inputTime_ - latencyFrames(); }
    double inputOutBefore() const noexcept { return inputBefore_; }
    std::int64_t produced() const noexcept { return produced_; }
    std::int64_t producedBefore() const noexcept { return producedBefore_; }

protected:
    virtual void produce(float* left, float* right, std::size_t frames) noexcept = 0;
    /// How much upstream time `frames` output frames cover: the same for every stage but a varispeed.
    virtual double upstreamFramesFor(std::size_t frames) const noexcept {
        return static_cast<double>(frames);
    }
    /// Frames (of upstream time) that are inside the stage and not yet out.
    virtual double latencyFrames() const noexcept { return 0.0; }

    // Immutable after the graph is built.
    Stage* upstream_ = nullptr;

private:
    std::int64_t produced_ = 0;
    std::int64_t producedBefore_ = 0;
    double inputTime_ = 0.0;
    double inputBefore_ = 0.0;
};

} // namespace somnara::rt
