#pragma once

#include <somnara/catalogue/SoundTrack.hpp>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

namespace somnara::app {

/// What `somnara render` renders: sounds at their volumes, for a time, into a file or a stream.
struct MixRequest {
    struct Sound {
        SoundTrack soundTrack;
        float volume = 1.0F;
    };
    std::vector<Sound> sounds;
    double durationSeconds = 60.0;
    /// A ".wav" or ".flac" file; "-" writes raw interleaved float32 stereo to standard output.
    std::filesystem::path output;
    /// Whether the sounds fade in and out as playback fades them at play and at stop.
    bool fades = true;
};

/// Called after each rendered block with the frames done and the frames in all.
using RenderProgress = std::function<void(std::int64_t done, std::int64_t total)>;

/// The format of a finished render, for the command's closing line.
struct RenderedMix {
    double sampleRate = 0;
    std::int64_t frames = 0;
};

/// Renders `request` offline, through the same graph, nodes and oscillator that playback uses, with
/// the stored sound settings applied. The loop runs on virtual time that advances with the rendered
/// audio, so the volume ramps and the slow pan land where they would in real playback, however fast
/// the render runs. Throws with a message for people when a sound has no file, the duration is shorter
/// than one frame or the output cannot be written.
RenderedMix renderMix(const MixRequest& request, const RenderProgress& progress);

} // namespace somnara::app
