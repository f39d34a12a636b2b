#pragma once

#include <cstddef>

namespace somnara::dsp {

/// A parameter that glides linearly, in the parameter's own units, from where it is to a new target over
/// a given number of frames. Used for every smoothed value of the render side (unit parameters, voice
/// volume, pan, output volume), so that no parameter change produces a step in the signal.
///
/// Runs on the render thread. Every member is noexcept and allocation-free.
///
/// The value after k of the remaining frames is computed as `target - step * remaining` rather than by
/// accumulating steps, so that advancing by n frames at once and calling next() n times give bit-identical
/// values: rendering in any block size gives the same output.
class LinearSmoother {
public:
    LinearSmoother() = default;
    explicit LinearSmoother(float value) noexcept { reset(value); }

    /// Jumps to `value` at once and stops any glide.
    void reset(float value) noexcept {
        target_ = value;
        step_ = 0.0f;
        remaining_ = 0;
    }

    /// Starts a glide from the current value to `target` over `rampFrames` frames (0 jumps at once).
    /// Setting the target the smoother already heads for leaves the glide as it is.
    void setTarget(float target, std::size_t rampFrames) noexcept {
        if (target == target_) {
            return;
        }
        if (rampFrames == 0) {
            reset(target);
            return;
        }
        const float start = current();
        target_ = target;
        remaining_ = rampFrames;
        step_ = (target - start) / static_cast<float>(rampFrames);
    }

    /// Advances by one frame and returns the value for that frame.
    float next() noexcept {
        if (remaining_ == 0) {
            return target_;
        }
        --remaining_;
        return current();
    }

    /// Advances by `frames` frames without producing the values.
    void skip(std::size_t frames) noexcept {
        remaining_ = frames >= remaining_ ? 0 : remaining_ - frames;
        if (remaining_ == 0) {
            step_ = 0.0f;
        }
    }

    /// Writes the values of the next `frames` frames to `out` and advances.
    void fill(float* out, std::size_t frames) noexcept {
        for (std::size_t i = 0; i < frames; ++i) {
            out[i] = next();
        }
    }

    /// Multiplies `frames` samples of `data` by the next values, advancing; a steady value of exactly 1
    /// leaves the samples untouched.
    void applyGain(float* data, std::size_t frames) noexcept {
        if (!isSmoothing()) {
            if (target_ != 1.0f) {
                for (std::size_t i = 0; i < frames; ++i) {
                    data[i] *= target_;
                }
            }
            return;
        }
        for (std::size_t i = 0; i < frames; ++i) {
            data[i] *= next();
        }
    }

    [[nodiscard]] float current() const noexcept { return target_ - step_ * static_cast<float>(remaining_); }
    [[nodiscard]] float target() const noexcept { return target_; }
    [[nodiscard]] bool isSmoothing() const noexcept { return remaining_ > 0; }
    [[nodiscard]] std::size_t remainingFrames() const noexcept { return remaining_; }

private:
    float target_ = 0.0f;
    float step_ = 0.0f;
    std::size_t remaining_ = 0;
};

} // namespace somnara::dsp
