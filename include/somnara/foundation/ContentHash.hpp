#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace somnara {

/// A short, stable name for some bytes: their 64-bit FNV-1a hash as sixteen hexadecimal digits. Not for
/// security: it names files and identifiers that must stay the same for the same content.
inline std::string contentHashHex(std::string_view bytes) {
    std::uint64_t hash = 14695981039346656037ULL;
    for (const unsigned char c : bytes) {
        hash = (hash ^ c) * 1099511628211ULL;
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return hex;
}

} // namespace somnara
