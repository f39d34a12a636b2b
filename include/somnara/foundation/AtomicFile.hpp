#pragma once

#include <chrono>
#include <cstddef>
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

/// Far above any value the library stores: a larger file is not one of ours.
inline constexpr std::size_t maximumReadSize = std::size_t{64} << 20;

/// The whole contents of the file at `path`, or none when it does not exist. Throws
/// `std::filesystem::filesystem_error` naming the path when it exists but cannot be read, is not a
/// regular file (a FIFO, a device, a socket: refused without blocking) or is larger than
/// `maximumReadSize`.
std::optional<std::string> readWholeFile(const std::filesystem::path& path);

/// ".corrupt-<UTC time>" for `time`, as in ".corrupt-20260105T221500Z": the name's tail of a copy kept
/// of something that could not be read.
std::string corruptCopySuffix(std::chrono::system_clock::time_point time);

/// Keeps `contents`, an unreadable version of the file at `path`, beside it as
/// "<name>.corrupt-<UTC time>" before the file is replaced, so that nothing a user had is lost without
/// a copy. Returns the copy's path, or none when an earlier copy holds the same bytes (kept, and said,
/// before); throws `std::filesystem::filesystem_error` when it cannot be written.
std::optional<std::filesystem::path> keepCorruptCopy(const std::filesystem::path& path,
                                                     std::string_view contents);

} // namespace somnara
