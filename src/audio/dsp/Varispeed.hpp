#pragma once

#include "audio/dsp/AudioSource.hpp"
#include "audio/dsp/PathSwitch.hpp"
#include "audio/dsp/SincResampler.hpp"

#include <cstddef>
#include <cstdint>

namespace somnara::dsp {

/// Playback rate that changes pitch and speed together: a variable-rate resampler (SincResampler) that,
/// for every N frames it renders, pulls about rate × N frames from its upstream. A rate of 2 plays an
/// octave higher and twice as fast.
///
/// Every render() produces exactly the frames asked for. Rate changes glide over 50 ms of output inside
/// the resampler, so a new speed never clicks. The player times completions from
/// upstreamFramesConsumed() and latencyFrames().
///
/// libsoxr's variable-rate mode did this job first; it cost about 0.2 µs per stereo frame whatever quality
/// it was asked for (its variable-rate filter is fixed), several times the whole chain's budget.
///
/// Bypassed, the unit pulls exactly the frames asked for and passes them through bit for bit. Switching
/// dips the output to silence over 5 ms, changes path and fades back in over 5 ms; back on the resampler,
/// the unit starts at the rate asked for now, with no glide from the rate before the bypass.
///
/// Render thread only: prepare() sizes the resampler for the largest rate, 4; render() and the setters do
/// not allocate.
class Varispeed {
public:
    static constexpr double minRate = 0.25;
    static constexpr double maxRate = 4.0;
    static constexpr double rateGlideSeconds = 0.05;

    Varispeed() = default;
    Varispeed(const Varispeed&) = delete;
    Varispeed& operator=(const Varispeed&) = delete;

    void prepare(double sampleRate, std::size_t maxFrames);
    void reset() noexcept;
    void render(float* left, float* right, std::size_t frames, AudioSource& upstream) noexcept;

    /// Factor, 0.25…4 (default 1).
    void setRate(float rate) noexcept;
    void setBypass(bool bypass) noexcept;
    /// Fades the next few milliseconds of input in: for an owner whose upstream restarts mid-waveform.
    void fadeInInput() noexcept { inputRampRemaining_ = inputRampFrames_; }

    /// Output frames from a frame's playing position until it has left the resampler's kernel (0 when
    /// bypassed).
    [[nodiscard]] double latencyFrames() const noexcept;
    /// Frames pulled from upstream by the last render() call.
    [[nodiscard]] std::size_t lastUpstreamFrames() const noexcept { return lastUpstreamFrames_; }
    /// Frames pulled from upstream since prepare() or reset().
    [[nodiscard]] std::uint64_t upstreamFramesConsumed() const noexcept { return consumed_; }

private:
    /// The upstream as the resampler sees it: counted, and faded in after a restart.
    struct Input final : AudioSource {
        Varispeed* owner = nullptr;
        AudioSource* upstream = nullptr; // set for the duration of a render() call
        void pull(float* left, float* right, std::size_t frames) noexcept override {
            owner->pullInput(left, right, frames, *upstream);
        }
    };

    void pullInput(float* left, float* right, std::size_t frames, AudioSource& upstream) noexcept;
    void renderWet(float* left, float* right, std::size_t frames, AudioSource& upstream) noexcept;
    /// Forgets the input and settles on the rate asked for, with no glide.
    void restartResampler() noexcept;

    // Render thread only.
    SincResampler resampler_;
    Input input_;
    std::size_t maxFrames_ = 0;
    std::size_t glideFrames_ = 2205;
    std::size_t inputRampFrames_ = 240;
    std::size_t inputRampRemaining_ = 0;
    float rate_ = 1.0f;
    float appliedRate_ = 1.0f;
    // Bypass switches paths through a short dip (fade out, switch, fade in): the two paths sit at
    // different points of the upstream, so crossfading them would smear two unrelated moments.
    PathSwitch path_;
    bool running_ = false; // rendered since prepare() or reset()
    std::uint64_t consumed_ = 0;
    std::size_t lastUpstreamFrames_ = 0;
};

} // namespace somnara::dsp
