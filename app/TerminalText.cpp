#include "TerminalText.hpp"

#include <cstdio>
#include <optional>
#include <stdexcept>

namespace somnara::app {

namespace {

struct CodePoint {
    char32_t value;
    std::size_t length;
};

/// The code point that starts `text`; none when its first bytes are not well-formed UTF-8.
std::optional<CodePoint> decodeFirst(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    if (lead < 0x80) {
        return CodePoint{lead, 1};
    }
    std::size_t length = 0;
    char32_t value = 0;
    char32_t lowest = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, value = lead & 0x1F, lowest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, value = lead & 0x0F, lowest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, value = lead & 0x07, lowest = 0x10000;
    } else {
        return std::nullopt;
    }
    if (text.size() < length) {
        return std::nullopt;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if ((byte & 0xC0) != 0x80) {
            return std::nullopt;
        }
        value = value << 6 | (byte & 0x3F);
    }
    if (value < lowest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return std::nullopt;
    }
    return CodePoint{value, length};
}

} // namespace

bool isValidUtf8(std::string_view text) {
    while (!text.empty()) {
        const auto codePoint = decodeFirst(text);
        if (!codePoint) {
            return false;
        }
        text.remove_prefix(codePoint->length);
    }
    return true;
}

std::string printable(std::string_view text) {
    std::string result;
    char escape[16];
    while (!text.empty()) {
        const auto codePoint = decodeFirst(text);
        if (!codePoint) {
            std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(text[0]));
            result += escape;
            text.remove_prefix(1);
            continue;
        }
        const auto value = codePoint->value;
        if (value == '\n') {
            result += "\\n";
        } else if (value == '\t') {
            result += "\\t";
        } else if (value == '\r') {
            result += "\\r";
        } else if (value == '\\') {
            result += "\\\\";
        } else if (value < 0x20 || value == 0x7F) {
            std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(value));
            result += escape;
        } else if (value >= 0x80 && value < 0xA0) {
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(value));
            result += escape;
        } else {
            result.append(text.substr(0, codePoint->length));
        }
        text.remove_prefix(codePoint->length);
    }
    return result;
}

void requireUtf8(std::string_view text, std::string_view what) {
    if (!isValidUtf8(text)) {
        throw std::invalid_argument(std::string(what) + " must be UTF-8 text; \"" + printable(text) +
                                    "\" is not");
    }
}

} // namespace somnara::app
