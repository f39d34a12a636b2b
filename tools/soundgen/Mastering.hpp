#pragma once

#include "Synth.hpp"

#include <cstdint>

namespace somnara::soundgen {

/// The loudness every sound is brought to, in LUFS (EBU R128 integrated loudness). -20 rather than
/// broadcast's -23: these play on laptop and phone speakers, often quietly mixed under other sounds,
/// and at -23 the quieter sounds needed the volume near its top. Noise at -20 LUFS peaks around
/// -8 dBFS, which leaves headroom for a few sounds mixed at full volume.
inline constexpr double targetLoudness = -20.0;
/// The highest sample peak allowed before quantising (-1 dBFS): the limiter holds impulsive sounds
/// (drips, thunder cracks) under it.
inline constexpr double peakCeiling = 0.891;

/// EBU R128 integrated loudness of a stereo loop, in LUFS (libebur128).
double integratedLoudness(const Stereo& stereo, double rate);

/// Brings a loop to `targetLoudness`, limiting peaks to `peakCeiling` (a look-ahead gain curve run
/// round the loop, so the seam is untouched), then quantises it to 16 bits with triangular dither.
/// Afterwards every sample is an exact multiple of 1/32768: the PCM that the lossless files hold.
/// Returns the loudness reached.
double master(Stereo& stereo, double rate, std::uint64_t seed);

} // namespace somnara::soundgen
