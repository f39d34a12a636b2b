#pragma once

#include <somnara/platform/AudioFile.hpp>

#include <cstdint>
#include <vector>

namespace somnara {

/// Audio in memory: deinterleaved float32 channels of equal length, at the format's rate.
struct AudioPcmBuffer {
    AudioFormat format;
    std::vector<std::vector<float>> channels;

    std::int64_t frameLength() const noexcept {
        return channels.empty() ? 0 : static_cast<std::int64_t>(channels.front().size());
    }
};

} // namespace somnara
