#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace somnara::test {

/// The bytes of the file at `path`; empty when it cannot be read.
inline std::string fileContents(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    if (error) {
        return {};
    }
    std::string bytes(static_cast<std::size_t>(size), '\0');
    file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

} // namespace somnara::test
