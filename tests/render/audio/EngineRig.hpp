#pragma once

// An engine on the offline output with the player's whole chain, for render tests.

#include <somnara/audio/AudioEngine.hpp>
#include <somnara/audio/AudioUnitDelay.hpp>
#include <somnara/audio/AudioUnitEQ.hpp>
#include <somnara/audio/AudioUnitReverb.hpp>
#include <somnara/audio/AudioUnitTimePitch.hpp>
#include <somnara/audio/AudioUnitVarispeed.hpp>

#include <memory>
#include <vector>

namespace somnara::test {

struct EngineRig {
    static constexpr double rate = 44'100;

    /// `block` is the largest block the output renders at once; `chain` puts the five units between
    /// the players' mixer and the main mixer, every one bypassed.
    explicit EngineRig(std::size_t block, int playerCount = 1, bool chain = true) {
        AudioOutputConfiguration configuration;
        configuration.sampleRate = rate;
        configuration.maximumFramesPerRender = block;
        engine = std::make_shared<AudioEngine>(AudioOutput::make("offline", configuration));
        for (int i = 0; i < playerCount; ++i) {
            players.push_back(std::make_shared<AudioPlayerNode>());
            engine->attach(players.back());
            engine->connect(players.back(), playersMixer);
        }
        if (!chain) {
            engine->connect(playersMixer, engine->mainMixerNode());
            return;
        }
        timePitch->setBypass(true);
        varispeed->setBypass(true);
        delay->setBypass(true);
        reverb->setBypass(true);
        eq->setBypass(true);
        engine->connect(playersMixer, timePitch);
        engine->connect(timePitch, varispeed);
        engine->connect(varispeed, delay);
        engine->connect(delay, reverb);
        engine->connect(reverb, eq);
        engine->connect(eq, engine->mainMixerNode());
    }

    /// Queues `copies` copies of `buffer` back to back on the first player and starts it and the engine;
    /// the completions land in `completions`.
    void playCopies(const std::shared_ptr<AudioPcmBuffer>& buffer, int copies) {
        for (int copy = 0; copy < copies; ++copy) {
            players[0]->scheduleBuffer(buffer,
                                       [this](const PlaybackCompletion& c) { completions.push_back(c); });
        }
        players[0]->play();
        engine->start();
    }

    /// Renders `frames` frames in calls of `block` frames.
    std::vector<float> render(std::size_t frames, std::size_t block, std::vector<float>* right = nullptr) {
        std::vector<float> left(frames);
        std::vector<float> r(frames);
        for (std::size_t done = 0; done < frames; done += block) {
            const std::size_t count = std::min(block, frames - done);
            engine->renderOffline(left.data() + done, r.data() + done, count);
        }
        if (right != nullptr) {
            *right = std::move(r);
        }
        return left;
    }

    std::shared_ptr<AudioEngine> engine;
    std::vector<std::shared_ptr<AudioPlayerNode>> players;
    std::vector<PlaybackCompletion> completions;
    std::shared_ptr<AudioMixerNode> playersMixer = std::make_shared<AudioMixerNode>();
    std::shared_ptr<AudioUnitTimePitch> timePitch = std::make_shared<AudioUnitTimePitch>();
    std::shared_ptr<AudioUnitVarispeed> varispeed = std::make_shared<AudioUnitVarispeed>();
    std::shared_ptr<AudioUnitDelay> delay = std::make_shared<AudioUnitDelay>();
    std::shared_ptr<AudioUnitReverb> reverb = std::make_shared<AudioUnitReverb>();
    std::shared_ptr<AudioUnitEQ> eq = std::make_shared<AudioUnitEQ>();
};

} // namespace somnara::test
