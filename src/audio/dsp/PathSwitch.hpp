#pragma once

#include "audio/dsp/AudioSource.hpp"
#include "audio/dsp/LinearSmoother.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace somnara::dsp {

/// The bypass switch of the pull units (time pitch, varispeed). Their processed and unprocessed paths
/// read the upstream at different points (the processed one runs ahead by what it buffers), so a
/// crossfade would blend two unrelated moments and cannot keep both paths continuous. Instead the switch
/// dips: the output fades to silence over 5 ms, the path changes at silence, and the new path fades in
/// over 5 ms. Once settled on the unprocessed path the output is the input, bit for bit.
///
/// Render thread only.
class PathSwitch {
public:
    static constexpr double halfFadeSeconds = 0.005;

    void prepare(double sampleRate, std::size_t maxFrames) noexcept {
        halfFadeFrames_ = static_cast<std::size_t>(std::lround(halfFadeSeconds * sampleRate));
        maxFrames_ = maxFrames;
    }

    /// Asks for the processed (`processed` = true) or the unprocessed path. `immediately` switches with no
    /// dip (nothing has been heard yet).
    void request(bool processed, bool immediately) noexcept {
        wanted_ = processed;
        if (immediately) {
            processed_ = processed;
            gain_.reset(1.0f);
        }
    }

    /// The render loop of a pull unit: renders `frames` frames piece by piece, each on one path and no
    /// longer than the prepared block size: `wet(left, right, n)` on the processed one, the upstream
    /// itself on the other, with the dip's gain applied. `switched(processed)` runs at the silent moment
    /// the path changes, for the unit to drop the old path's state. Unprepared, the upstream passes
    /// through. Returns the frames pulled straight from the upstream.
    template <class Switched, class Wet>
    std::size_t render(float* left, float* right, std::size_t frames, AudioSource& upstream,
                       Switched switched, Wet wet) noexcept {
        if (maxFrames_ == 0) {
            upstream.pull(left, right, frames);
            return frames;
        }
        std::size_t passed = 0;
        while (frames > 0) {
            bool changed = false;
            const std::size_t n = nextPiece(std::min(frames, maxFrames_), changed);
            if (changed) {
                switched(processed_);
            }
            if (processed_) {
                wet(left, right, n);
            } else {
                upstream.pull(left, right, n);
                passed += n;
            }
            apply(left, right, n);
            left += n;
            right += n;
            frames -= n;
        }
        return passed;
    }

    [[nodiscard]] bool isProcessed() const noexcept { return processed_; }

private:
    /// Frames that may be rendered on the current path before the switch changes state, at most `frames`.
    /// Sets `switched` when the path has just changed.
    std::size_t nextPiece(std::size_t frames, bool& switched) noexcept {
        switched = false;
        if (!gain_.isSmoothing()) {
            if (wanted_ != processed_) {
                if (gain_.target() == 0.0f) {
                    processed_ = wanted_;
                    switched = true;
                    gain_.setTarget(1.0f, halfFadeFrames_);
                } else {
                    gain_.setTarget(0.0f, halfFadeFrames_);
                }
            } else if (gain_.target() == 0.0f) {
                gain_.setTarget(1.0f, halfFadeFrames_);
            }
        }
        return gain_.isSmoothing() ? std::min(frames, gain_.remainingFrames()) : frames;
    }

    /// Applies the dip's gain to a piece (nothing when settled).
    void apply(float* left, float* right, std::size_t frames) noexcept {
        if (!gain_.isSmoothing() && gain_.target() == 1.0f) {
            return;
        }
        for (std::size_t i = 0; i < frames; ++i) {
            const float g = gain_.next();
            left[i] *= g;
            right[i] *= g;
        }
    }

    bool wanted_ = true;
    bool processed_ = true;
    LinearSmoother gain_{1.0f};
    std::size_t halfFadeFrames_ = 240;
    std::size_t maxFrames_ = 0;
};

} // namespace somnara::dsp
