#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace somnara {

/// Replaces the file at `path` with `contents` so that a reader, or the file after a crash or power
/// loss, holds either the old contents or the new ones, never a mixture or a truncated file: the bytes
/// go to a temporary file in the same directory, which is flushed to disk, renamed over `path`, and
/// the directory is flushed so that the rename itself is durable.
///
/// The directory must exist. An existing file keeps its permission bits; a new one gets 0644 less the
/// process's umask. Throws `std::filesystem::filesystem_error` on failure, leaving the old file (or no
/// file) in place and no temporary behind. Any thread; concurrent writers of one path each replace the
/// file whole, the last rename wins.
void writeFileAtomically(const std::filesystem::path& path, std::string_view contents);

/// The whole contents of the file at `path`, or none when it does not exist. Throws
/// `std::filesystem::filesystem_error` when it exists but cannot be read.
std::optional<std::string> readWholeFile(const std::filesystem::path& path);

} // namespace somnara
