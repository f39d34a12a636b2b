#pragma once

#include "Synth.hpp"

#include <filesystem>

namespace somnara::soundgen {

enum class Codec { aac, alac };

/// The AAC bit rate of the compressed copies: transparent enough for noise-like textures, and a
/// thirty-second loop stays under half a megabyte.
inline constexpr int aacBitRate = 128'000;

/// Writes a loop to an ".m4a" file.
///
/// ALAC holds the 16-bit PCM exactly. AAC cannot: its encoder delays the audio (priming) and its first
/// frames are poor. So the encoder is fed the loop's own tail before its start and its head after its
/// end, the file's edit list skips the priming and that tail, and its duration is exactly the loop's:
/// a decoder that honours the edit list yields the loop, and its seam decodes from real audio on both
/// sides.
void writeM4a(const std::filesystem::path& file, const Stereo& loop, int rate, Codec codec);

} // namespace somnara::soundgen
