#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace somnara {

/// Standard base64 (RFC 4648) with padding: the stored form of bytes in the user defaults and cloud files.
std::string base64Encode(std::span<const std::uint8_t> data);
/// None when `text` is not padded base64: a wrong length, a character outside the alphabet, padding
/// anywhere but at the end.
std::optional<std::vector<std::uint8_t>> base64Decode(std::string_view text);

} // namespace somnara
