#include "ITunSmpb.hpp"

#include <array>
#include <charconv>

namespace somnara::ffmpeg {

std::optional<ITunSmpb> parseITunSmpb(std::string_view text) {
    std::array<std::int64_t, 4> fields{};
    std::size_t at = 0;
    for (auto& field : fields) {
        while (at < text.size() && text[at] == ' ') {
            ++at;
        }
        const char* begin = text.data() + at;
        const char* end = text.data() + text.size();
        const auto [next, error] = std::from_chars(begin, end, field, 16);
        if (error != std::errc{} || next == begin || field < 0 || (next != end && *next != ' ')) {
            return std::nullopt;
        }
        at = static_cast<std::size_t>(next - text.data());
    }
    return ITunSmpb{fields[1], fields[2], fields[3]};
}

} // namespace somnara::ffmpeg
