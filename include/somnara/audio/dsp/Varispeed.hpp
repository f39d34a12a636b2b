#pragma once

#include <somnara/audio/dsp/AudioSource.hpp>
#include <somnara/audio/dsp/PathSwitch.hpp>

#include <cstddef>
#include <cstdint>
#include <vector>

struct soxr;

namespace somnara::dsp {

/// Playback rate that changes pitch and speed together: a variable-rate resampler (libsoxr) that, for
/// every N frames it renders, pulls about rate × N frames from its upstream. A rate of 2 plays an octave
/// higher and twice as fast.
///
/// Every render() produces exactly the frames asked for. Rate changes glide over 50 ms of output inside
/// the resampler, so a new speed never clicks. The player times completions from
/// upstreamFramesConsumed() and latencyFrames().
///
/// Bypassed, the unit pulls exactly the frames asked for and passes them through bit for bit. Switching
/// dips the output to silence over 5 ms, changes path and fades back in over 5 ms.
///
/// Render thread only: prepare() creates the resampler (sized for the largest rate, 4) and runs it once
/// so that its lazy allocations happen there; render() and the setters do not allocate.
class Varispeed {
public:
    static constexpr double minRate = 0.25;
    static constexpr double maxRate = 4.0;
    static constexpr double rateGlideSeconds = 0.05;

    Varispeed() = default;
    ~Varispeed();
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

    /// The resampler's current delay in output frames (0 when bypassed).
    [[nodiscard]] double latencyFrames() const noexcept;
    /// Frames pulled from upstream by the last render() call.
    [[nodiscard]] std::size_t lastUpstreamFrames() const noexcept { return lastUpstreamFrames_; }
    /// Frames pulled from upstream since prepare() or reset().
    [[nodiscard]] std::uint64_t upstreamFramesConsumed() const noexcept { return consumed_; }

private:
    static std::size_t supplyInput(void* state, const void** data, std::size_t requested) noexcept;
    void renderChunk(float* left, float* right, std::size_t frames, AudioSource& upstream) noexcept;
    void renderWet(float* left, float* right, std::size_t frames, AudioSource& upstream) noexcept;
    void destroy() noexcept;
    void restartResampler() noexcept;

    struct Silence final : AudioSource {
        void pull(float* left, float* right, std::size_t frames) noexcept override {
            for (std::size_t i = 0; i < frames; ++i) {
                left[i] = right[i] = 0.0f;
            }
        }
    };

    // Render thread only.
    Silence silence_;
    soxr* resampler_ = nullptr;
    double sampleRate_ = 44100.0;
    std::size_t maxFrames_ = 0;
    std::size_t inputFrames_ = 0;
    std::size_t glideFrames_ = 2205;
    std::size_t inputRampFrames_ = 240;
    std::size_t inputRampRemaining_ = 0;
    float rate_ = 1.0f;
    float appliedRate_ = 1.0f;
    AudioSource* upstream_ = nullptr; // set for the duration of a render() call
    std::vector<float> inLeft_, inRight_;
    std::vector<float> inInterleaved_, outInterleaved_; // the resampler's own I/O is interleaved
    // Bypass switches paths through a short dip (fade out, switch, fade in): the two paths sit at
    // different points of the upstream, so crossfading them would smear two unrelated moments.
    PathSwitch path_;
    bool stateCleared_ = true;
    bool running_ = false; // rendered since prepare() or reset()
    std::uint64_t consumed_ = 0;
    std::size_t lastUpstreamFrames_ = 0;
};

} // namespace somnara::dsp
