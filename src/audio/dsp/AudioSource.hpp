#pragma once

#include <cstddef>

namespace somnara::dsp {

/// The upstream of a pull unit (time pitch, varispeed): something that always fills exactly `frames`
/// frames of planar stereo float32, with silence when it has nothing to play.
///
/// Called on the render thread only; implementations must not lock, allocate, log or throw.
struct AudioSource {
    virtual void pull(float* left, float* right, std::size_t frames) noexcept = 0;

protected:
    ~AudioSource() = default;
};

} // namespace somnara::dsp
