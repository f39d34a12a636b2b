#include "foundation/Base64.hpp"

namespace somnara {

namespace {

constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int sextet(char c) noexcept {
    const auto position = alphabet.find(c);
    return position == std::string_view::npos ? -1 : static_cast<int>(position);
}

} // namespace

// Hand-written rather than OpenSSL's EVP_EncodeBlock: that one has no strict decoder (it accepts
// padding in the middle and reports lengths that include padding), and this is twenty lines.
std::string base64Encode(std::span<const std::uint8_t> data) {
    std::string text;
    text.reserve((data.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= data.size(); i += 3) {
        const std::uint32_t group = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6) {
            text += alphabet[(group >> shift) & 0x3f];
        }
    }
    const auto rest = data.size() - i;
    if (rest > 0) {
        const std::uint32_t group = (data[i] << 16) | (rest == 2 ? data[i + 1] << 8 : 0);
        text += alphabet[(group >> 18) & 0x3f];
        text += alphabet[(group >> 12) & 0x3f];
        text += rest == 2 ? alphabet[(group >> 6) & 0x3f] : '=';
        text += '=';
    }
    return text;
}

std::optional<std::vector<std::uint8_t>> base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> data;
    data.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        const int padding = last ? (text[i + 3] == '=') + (text[i + 2] == '=') : 0;
        if (padding == 1 && text[i + 2] == '=') {
            return std::nullopt;
        }
        std::uint32_t group = 0;
        for (int j = 0; j < 4; ++j) {
            const int value = j >= 4 - padding ? 0 : sextet(text[i + j]);
            if (value < 0) {
                return std::nullopt;
            }
            group = (group << 6) | static_cast<std::uint32_t>(value);
        }
        data.push_back(static_cast<std::uint8_t>(group >> 16));
        if (padding < 2) {
            data.push_back(static_cast<std::uint8_t>(group >> 8));
        }
        if (padding < 1) {
            data.push_back(static_cast<std::uint8_t>(group));
        }
    }
    return data;
}

} // namespace somnara
