#pragma once

#include <somnara/audio/dsp/AudioSource.hpp>
#include <somnara/audio/dsp/PathSwitch.hpp>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace soundtouch {
class SoundTouch;
}

namespace somnara::dsp {

/// Pitch shift with the tempo kept (SoundTouch: resampling plus a time-domain stretch), pulling its input
/// from an upstream source.
///
/// Every render() produces exactly the frames asked for. The stretcher works in batches of tens of
/// milliseconds, so the unit pulls from upstream whatever it needs to have that many frames ready: the
/// first call after a reset pulls about 0.1 s ahead, later calls pull about as many frames as they
/// produce. The output is aligned with the input (the stretcher adds no leading silence), so the frames
/// held inside, latencyFrames(), are how far the upstream runs ahead of what has been heard.
///
/// Bypassed, the unit pulls exactly the frames asked for and passes them through bit for bit. Switching
/// dips the output to silence over 5 ms, changes path and fades back in over 5 ms; leaving the stretcher
/// drops the ~0.1 s it held (at silence, so nothing is heard of the jump) rather than stalling the output.
///
/// Render thread only: prepare() allocates (and exercises the stretcher at the extreme pitches so its
/// internal buffers reach full size); render() and the setters do not allocate, except that the
/// stretcher redesigns its anti-alias filter on the heap when the pitch changes.
class TimePitch {
public:
    static constexpr float minPitch = -2400.0f;
    static constexpr float maxPitch = 2400.0f;

    TimePitch();
    ~TimePitch();
    TimePitch(const TimePitch&) = delete;
    TimePitch& operator=(const TimePitch&) = delete;

    void prepare(double sampleRate, std::size_t maxFrames);
    void reset() noexcept;
    void render(float* left, float* right, std::size_t frames, AudioSource& upstream) noexcept;

    /// Cents, -2400…2400 (default 0).
    void setPitch(float cents) noexcept;
    void setBypass(bool bypass) noexcept;

    /// Frames pulled from upstream but not yet rendered.
    [[nodiscard]] std::size_t latencyFrames() const noexcept;
    /// Frames pulled from upstream by the last render() call.
    [[nodiscard]] std::size_t lastUpstreamFrames() const noexcept { return lastUpstreamFrames_; }
    /// Frames pulled from upstream since prepare() or reset().
    [[nodiscard]] std::uint64_t upstreamFramesConsumed() const noexcept { return consumed_; }
    /// Frames rendered since prepare() or reset().
    [[nodiscard]] std::uint64_t framesRendered() const noexcept { return rendered_; }

private:
    void renderChunk(float* left, float* right, std::size_t frames, AudioSource& upstream) noexcept;
    void feed(const float* left, const float* right, std::size_t frames) noexcept;
    void renderWet(float* left, float* right, std::size_t frames, AudioSource& upstream) noexcept;
    void applyPitch() noexcept;
    void leaveWetPath() noexcept;

    // Render thread only.
    std::unique_ptr<soundtouch::SoundTouch> stretcher_;
    double sampleRate_ = 44100.0;
    std::size_t maxFrames_ = 0;
    float pitch_ = 0.0f;
    float appliedPitch_ = 0.0f;
    std::vector<float> interleaved_;
    std::vector<float> pullLeft_, pullRight_;
    // Bypass switches paths through a short dip (fade out, switch, fade in): the two paths sit at
    // different points of the upstream, so crossfading them would smear two unrelated moments.
    PathSwitch path_;
    bool stateCleared_ = true;
    std::uint64_t consumed_ = 0;
    std::uint64_t rendered_ = 0;
    std::uint64_t wetConsumed_ = 0; // of consumed_, what went into the stretcher
    std::uint64_t wetRendered_ = 0;
    std::size_t lastUpstreamFrames_ = 0;
};

} // namespace somnara::dsp
