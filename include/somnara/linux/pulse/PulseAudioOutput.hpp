#pragma once

#include <somnara/platform/AudioOutput.hpp>

#include <memory>

namespace somnara {

/// Makes a PulseAudio output: a playback stream (float32 stereo at the configured rate) on the
/// configured sink or the server's default, named after the application and carrying media role
/// "music". Starting fails with `AudioOutputErrc::serverUnreachable` when no server answers and
/// `deviceFailed` when the server refuses the stream. Renders on libpulse's own thread.
std::unique_ptr<AudioOutput> makePulseAudioOutput(const AudioOutputConfiguration& configuration);

/// Registers the output under the name "pulse".
void registerPulseAudioOutput();

} // namespace somnara
