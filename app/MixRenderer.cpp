#include "MixRenderer.hpp"

#include <somnara/audio/AudioEngine.hpp>
#include <somnara/foundation/Bundle.hpp>
#include <somnara/linux/ffmpeg/FfmpegAudioFile.hpp>
#include <somnara/platform/AudioOutput.hpp>
#include <somnara/platform/FileLocations.hpp>
#include <somnara/player/AudioFileFactory.hpp>
#include <somnara/player/AudioGraph.hpp>
#include <somnara/player/Oscillator.hpp>
#include <somnara/player/SoundTrackPlayerNode.hpp>
#include <somnara/runtime/Loop.hpp>
#include <somnara/runtime/Task.hpp>
#include <somnara/settings/NoisePlayerSettingsStore.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>

namespace somnara::app {

namespace {

/// The loop's step while the nodes prepare, and how long they may take before the render gives up.
constexpr Seconds preparationStep{0.001};
constexpr Seconds preparationLimit{10.0};

/// The render's block: the pace at which playback moves volumes and the pan.
constexpr double blockSeconds = 0.01;

/// Runs the loop on virtual time until `done()` holds. The audio does not move meanwhile, as a real
/// player prepares its nodes before its first frame reaches the speakers.
void advanceUntil(VirtualLoop& loop, const std::function<bool()>& done, const std::string& what) {
    loop.runUntilIdle();
    for (Seconds waited{0}; !done(); waited += preparationStep) {
        if (waited > preparationLimit) {
            throw std::runtime_error(what + " did not finish");
        }
        loop.advance(preparationStep);
    }
}

/// Opens every sound's file through the factory, as the nodes will; returns the lowest sample rate.
double lowestSampleRate(VirtualLoop& loop, AudioFileFactory& factory,
                        const std::vector<MixRequest::Sound>& sounds) {
    std::optional<double> lowest;
    for (const auto& sound : sounds) {
        std::shared_ptr<AudioFile> file;
        auto opening = spawn([&factory, &file, soundTrack = sound.soundTrack]() -> asio::awaitable<void> {
            auto request = factory.audioFile(soundTrack);
            file = co_await request.value();
        });
        advanceUntil(
            loop, [&opening] { return opening.isFinished(); },
            "Opening " + std::string(sound.soundTrack.englishName()));
        if (!file) {
            throw std::runtime_error("no audio file for " + std::string(sound.soundTrack.englishName()) +
                                     " (is the library's resources folder installed?)");
        }
        lowest = std::min(lowest.value_or(file->processingFormat().sampleRate),
                          file->processingFormat().sampleRate);
    }
    return lowest.value_or(44'100.0);
}

/// Starts every node at its volume, fading in over `fadeIn` seconds unless the request has no fades, and
/// runs the loop until each is under way; returns the tasks that set the volumes.
std::vector<Task<void>> startSounds(VirtualLoop& loop,
                                    const std::vector<std::shared_ptr<SoundTrackPlayerNode>>& nodes,
                                    const MixRequest& request, double fadeIn) {
    std::vector<Task<void>> volumeTasks;
    for (std::size_t index = 0; index < nodes.size(); ++index) {
        const float volume = request.sounds[index].volume;
        if (request.fades) {
            volumeTasks.push_back(nodes[index]->fadeIn(volume, fadeIn));
        } else {
            // Preparing a node silences it, so the volume comes after `play`.
            volumeTasks.push_back(spawn([node = nodes[index], volume]() -> asio::awaitable<void> {
                auto play = node->play();
                co_await play.value();
                auto setVolume = node->setVolume(volume);
                co_await setVolume.value();
            }));
        }
    }
    // A sound is under way once it plays; one set to volume 0 is paused again, which ends its task.
    advanceUntil(
        loop,
        [&] {
            for (std::size_t index = 0; index < nodes.size(); ++index) {
                if (!nodes[index]->audioPlayerNode()->isPlaying() && !volumeTasks[index].isFinished()) {
                    return false;
                }
            }
            return true;
        },
        "Preparing the sounds");
    return volumeTasks;
}

std::shared_ptr<AudioFile> openSharedAudioFile(const std::filesystem::path& url) {
    return openAudioFile(url);
}

/// Raw interleaved float32 stereo on standard output, for pipes into other tools.
void writeInterleaved(const std::vector<float>& left, const std::vector<float>& right, std::size_t frames,
                      std::vector<float>& interleaved) {
    for (std::size_t frame = 0; frame < frames; ++frame) {
        interleaved[2 * frame] = left[frame];
        interleaved[2 * frame + 1] = right[frame];
    }
    if (std::fwrite(interleaved.data(), sizeof(float), 2 * frames, stdout) != 2 * frames) {
        throw std::runtime_error("cannot write to standard output");
    }
}

} // namespace

RenderedMix renderMix(const MixRequest& request, const RenderProgress& progress) {
    VirtualLoop loop{Date::fromSystemClock(std::chrono::system_clock::now())};
    const auto stored = NoisePlayerSettingsStore::make()->currentSettings();
    const auto documents = FileLocations::shared()->requireDocumentsDirectory(__FILE__, __LINE__);
    auto factory =
        std::make_shared<AudioFileFactory>(documents / "sounds", Bundle::module(), openSharedAudioFile);

    const bool toStandardOutput = request.output == "-";
    AudioOutputConfiguration configuration;
    configuration.sampleRate = lowestSampleRate(loop, *factory, request.sounds);
    if (std::llround(request.durationSeconds * configuration.sampleRate) < 1) {
        throw std::invalid_argument("the duration is shorter than one frame at " +
                                    std::to_string(static_cast<long>(configuration.sampleRate)) + " Hz");
    }
    configuration.path = request.output;
    auto engine = std::make_shared<AudioEngine>(
        AudioOutput::make(toStandardOutput ? "offline" : "file", configuration));

    std::vector<std::shared_ptr<SoundTrackPlayerNode>> nodes;
    std::vector<std::shared_ptr<AudioPlayerNode>> playerNodes;
    for (const auto& sound : request.sounds) {
        nodes.push_back(std::make_shared<SoundTrackPlayerNode>(sound.soundTrack, factory));
        playerNodes.push_back(nodes.back()->audioPlayerNode());
    }
    AudioGraph graph{engine};
    graph.configure(playerNodes, configuration.sampleRate);
    graph.applySoundSettings(stored.soundSettings);
    auto oscillator = std::make_shared<Oscillator>();
    oscillator->setPlayers(nodes);
    oscillator->setSettings(stored.soundSettings.oscillation);
    engine->start();

    const auto fadeTiming = stored.fadeTiming;
    auto volumeTasks = startSounds(loop, nodes, request, fadeTiming.start);

    const double rate = configuration.sampleRate;
    const auto total = static_cast<std::int64_t>(std::llround(request.durationSeconds * rate));
    const auto fadeOutFrame =
        request.fades ? std::max<std::int64_t>(0, total - std::llround(fadeTiming.stop * rate)) : total;
    const auto block = static_cast<std::size_t>(std::lround(blockSeconds * rate));
    std::vector<float> left(block);
    std::vector<float> right(block);
    std::vector<float> interleaved(toStandardOutput ? 2 * block : 0);
    bool fadingOut = false;
    for (std::int64_t done = 0; done < total;) {
        if (!fadingOut && done >= fadeOutFrame) {
            fadingOut = true;
            for (const auto& node : nodes) {
                volumeTasks.push_back(node->fadeOut(fadeTiming.stop));
            }
        }
        const auto frames =
            static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(block), total - done));
        engine->renderOffline(left.data(), right.data(), frames);
        if (toStandardOutput) {
            writeInterleaved(left, right, frames, interleaved);
        }
        done += static_cast<std::int64_t>(frames);
        loop.advance(Seconds(static_cast<double>(frames) / rate));
        progress(done, total);
    }
    engine->stop();
    if (toStandardOutput) {
        std::fflush(stdout);
    }
    return {rate, total};
}

} // namespace somnara::app
