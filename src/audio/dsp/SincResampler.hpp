#pragma once

#include "audio/dsp/AudioSource.hpp"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace somnara::dsp {

/// A band-limited variable-rate resampler for planar stereo: each output frame is the input read at a
/// fractional position through a Kaiser-windowed sinc of 32 input frames, tabulated at 256 phases per
/// frame and interpolated linearly between phases. The position advances by the ratio (input frames per
/// output frame) after every frame, and a new ratio is reached by a linear glide, so a rate change never
/// steps.
///
/// Up to a ratio of 1 the kernel runs at full bandwidth (cut-off at 0.45 of the input rate, about 70 dB
/// down at the input's Nyquist frequency); above 1 it is widened by the ratio, so that what the faster
/// reading folds back is filtered first. Below 1 the cost per output frame is fixed and vectorised (AVX2
/// and FMA where the processor has them); above 1 it grows with the ratio.
///
/// Output frame n is the input at position t(n), with t(0) = 0 the first frame pulled after a reset: the
/// kernel is centred, so the resampler pulls half a kernel ahead of what it plays and adds no delay of
/// its own beyond that.
///
/// Render thread only: prepare() allocates; reset(), setRatio() and render() do not.
class SincResampler {
public:
    static constexpr std::size_t taps = 32;
    static constexpr std::size_t phases = 256;
    static constexpr unsigned fractionBits = 32;

    SincResampler() = default;
    SincResampler(const SincResampler&) = delete;
    SincResampler& operator=(const SincResampler&) = delete;

    /// Sizes the input buffer for ratios up to `maxRatio` and renders of up to `maxFrames` frames. A
    /// single pull asks for at most maxRatio × maxFrames frames (at least 64).
    void prepare(double maxRatio, std::size_t maxFrames);
    /// Forgets every input frame: the next one pulled is treated as the start of a new signal.
    void reset() noexcept;
    /// Glides linearly to `ratio` over `glideFrames` output frames (0: at once).
    void setRatio(double ratio, std::size_t glideFrames) noexcept;
    /// Renders `frames` frames, pulling what they need from `upstream` (in one pull when it fits).
    void render(float* left, float* right, std::size_t frames, AudioSource& upstream) noexcept;

    [[nodiscard]] double ratio() const noexcept { return ratio_; }
    /// Input frames pulled since the last reset.
    [[nodiscard]] std::int64_t framesPulled() const noexcept { return end_; }
    /// How far, in input frames, the pulled input runs ahead of the position played last.
    [[nodiscard]] double inputAhead() const noexcept;

    /// What a run of full-bandwidth frames reads and moves (the run itself is in the source file).
    struct Run {
        const float* rows;
        const float* deltas;
        const float* left;
        const float* right;
        std::int64_t start;
        std::int64_t end;
        std::int64_t index;
        std::uint64_t fraction; // below 1 << fractionBits
        std::uint64_t increment;
    };

private:
    using Runner = std::size_t (*)(Run& run, float* left, float* right, std::size_t frames) noexcept;

    void pullInput(std::size_t frames, AudioSource& upstream) noexcept;
    void advance() noexcept;
    void stepGlide() noexcept;
    [[nodiscard]] double fraction() const noexcept;
    /// Renders up to `frames` frames at the current ratio (at most 1) from the input held; returns how many.
    std::size_t runSteady(float* left, float* right, std::size_t frames) noexcept;
    /// The last input frame the kernel reads for the current position, plus one.
    [[nodiscard]] std::int64_t needEnd() const noexcept;
    void renderWide(float* outLeft, float* outRight, double scale) const noexcept;

    // Immutable after prepare().
    std::vector<float> table_;  // the kernel at taps × phases + 1 points across its width
    std::vector<float> rows_;   // per phase: the taps' coefficients, each row summing to one
    std::vector<float> deltas_; // per phase: the next row minus this one
    Runner runner_ = nullptr;
    double maxRatio_ = 1.0;
    std::size_t history_ = 0; // input frames kept behind the position: half the widest kernel
    std::size_t maxPull_ = 0;
    std::size_t capacity_ = 0;
    // Render thread only.
    std::vector<float> left_, right_;
    std::int64_t start_ = 0;     // input frame held at index 0 of the buffers
    std::int64_t end_ = 0;       // input frames pulled since the reset
    std::int64_t index_ = 0;     // integer part of the position
    std::uint64_t fraction_ = 0; // fractional part, fixed point with fractionBits bits
    double ratio_ = 1.0;
    double target_ = 1.0;
    double step_ = 0.0;
    std::size_t glideLeft_ = 0;
};

} // namespace somnara::dsp
