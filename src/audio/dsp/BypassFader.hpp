#pragma once

#include "audio/dsp/LinearSmoother.hpp"

#include <cmath>
#include <cstddef>

namespace somnara::dsp {

/// The bypass switch shared by every unit: switching crossfades linearly between the processed and the
/// unprocessed signal over 10 ms, so toggling never clicks; once the fade to bypass has finished the unit
/// passes its input through untouched (bit-exact). A linear law suits because the processed and the dry
/// signal are mostly correlated.
///
/// Render thread only.
class BypassFader {
public:
    static constexpr double fadeSeconds = 0.01;

    void prepare(double sampleRate) noexcept {
        rampFrames_ = static_cast<std::size_t>(std::lround(fadeSeconds * sampleRate));
    }

    void setBypass(bool bypass) noexcept { wet_.setTarget(bypass ? 0.0f : 1.0f, rampFrames_); }

    /// Ends any running fade at its destination.
    void finishFade() noexcept { wet_.reset(wet_.target()); }

    [[nodiscard]] bool isBypassed() const noexcept { return wet_.target() == 0.0f; }
    [[nodiscard]] bool isFullyBypassed() const noexcept { return isBypassed() && !wet_.isSmoothing(); }
    [[nodiscard]] bool isFullyActive() const noexcept { return !isBypassed() && !wet_.isSmoothing(); }
    /// Frames left in the running fade (0 when none runs).
    [[nodiscard]] std::size_t remainingFrames() const noexcept { return wet_.remainingFrames(); }

    /// Crossfades `frames` frames: left/right hold the processed signal on entry and the mix on return.
    void mix(const float* dryLeft, const float* dryRight, float* left, float* right,
             std::size_t frames) noexcept {
        for (std::size_t i = 0; i < frames; ++i) {
            const float w = wet_.next();
            left[i] = dryLeft[i] + w * (left[i] - dryLeft[i]);
            right[i] = dryRight[i] + w * (right[i] - dryRight[i]);
        }
    }

private:
    LinearSmoother wet_{1.0f};
    std::size_t rampFrames_ = 441;
};

} // namespace somnara::dsp
