#pragma once

#include "audio/dsp/Denormals.hpp"
#include "audio/dsp/LinearSmoother.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <vector>

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

    /// Sizes the dry copy for blocks of at most `maxFrames`: the only place the switch allocates.
    void prepare(double sampleRate, std::size_t maxFrames) {
        rampFrames_ = static_cast<std::size_t>(std::lround(fadeSeconds * sampleRate));
        maxFrames_ = maxFrames;
        dryLeft_.assign(maxFrames, 0.0f);
        dryRight_.assign(maxFrames, 0.0f);
    }

    /// Ends any running fade at its destination; until audio is processed again, switching is immediate.
    void reset() noexcept {
        wet_.reset(wet_.target());
        running_ = false;
    }

    void setBypass(bool bypass) noexcept {
        wet_.setTarget(bypass ? 0.0f : 1.0f, rampFrames_);
        if (!running_) {
            reset();
        }
    }

    [[nodiscard]] bool isBypassed() const noexcept { return wet_.target() == 0.0f; }
    [[nodiscard]] bool isFullyBypassed() const noexcept { return isBypassed() && !wet_.isSmoothing(); }
    /// Whether the unit has processed audio since prepare or reset and is heard: only then do its
    /// parameter changes glide rather than jump.
    [[nodiscard]] bool isAudible() const noexcept { return running_ && !isFullyBypassed(); }

    /// The process loop of a unit behind the switch, in pieces of at most the prepared block size, with
    /// denormals flushed. While `silent()` (fully bypassed, or idle by the unit's own settings) the input
    /// passes untouched and `clear()` drops the unit's state once, so that it resumes from silence rather
    /// than replaying a stale tail. Otherwise `wet(left, right, n)` processes in place, crossfaded with the
    /// dry input while a fade runs; a piece ends where the fade ends, so that the unit switches state on the
    /// exact frame whatever the caller's block size.
    template <class Silent, class Clear, class Wet>
    void process(float* left, float* right, std::size_t frames, Silent silent, Clear clear,
                 Wet wet) noexcept {
        if (maxFrames_ == 0) {
            return;
        }
        ScopedFlushDenormals flushDenormals;
        for (std::size_t done = 0; done < frames;) {
            running_ = true;
            float* l = left + done;
            float* r = right + done;
            std::size_t n = std::min(maxFrames_, frames - done);
            if (isFullyBypassed() || silent()) {
                if (!stateCleared_) {
                    clear();
                    stateCleared_ = true;
                }
            } else if (!wet_.isSmoothing()) {
                stateCleared_ = false;
                wet(l, r, n);
            } else {
                stateCleared_ = false;
                n = std::min(n, wet_.remainingFrames());
                std::memcpy(dryLeft_.data(), l, n * sizeof(float));
                std::memcpy(dryRight_.data(), r, n * sizeof(float));
                wet(l, r, n);
                for (std::size_t i = 0; i < n; ++i) {
                    const float w = wet_.next();
                    l[i] = dryLeft_[i] + w * (l[i] - dryLeft_[i]);
                    r[i] = dryRight_[i] + w * (r[i] - dryRight_[i]);
                }
            }
            done += n;
        }
    }

private:
    LinearSmoother wet_{1.0f};
    std::size_t rampFrames_ = 441;
    std::size_t maxFrames_ = 0;
    bool running_ = false;
    bool stateCleared_ = true;
    std::vector<float> dryLeft_, dryRight_;
};

} // namespace somnara::dsp
