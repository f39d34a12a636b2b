#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace somnara::ffmpeg {

/// The gapless information an "iTunSMPB" tag carries: hexadecimal fields "0 priming padding length ...".
struct ITunSmpb {
    std::int64_t priming = 0;
    std::int64_t padding = 0;
    std::int64_t length = 0;
};

/// Parses the tag's text; none when it does not have at least the four leading fields in hexadecimal.
std::optional<ITunSmpb> parseITunSmpb(std::string_view text);

} // namespace somnara::ffmpeg
