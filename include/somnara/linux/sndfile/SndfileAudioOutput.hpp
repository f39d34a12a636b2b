#pragma once

#include <somnara/platform/AudioOutput.hpp>

#include <memory>

namespace somnara {

/// Makes a file output: a manual output that appends every frame it renders to the configured path,
/// as 32-bit float WAV (".wav") or 24-bit FLAC (".flac"); the file is complete once the output stops.
/// Starting fails with `AudioOutputErrc::fileNotWritable` when the file cannot be created, and with
/// `invalidConfiguration` for another extension.
std::unique_ptr<AudioOutput> makeSndfileAudioOutput(const AudioOutputConfiguration& configuration);

/// Registers the output under the name "file".
void registerSndfileAudioOutput();

} // namespace somnara
