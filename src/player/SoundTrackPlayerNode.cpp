#include "LinearRamp.hpp"

#include <somnara/audio/AudioEngine.hpp>
#include <somnara/catalogue/Mix.hpp>
#include <somnara/player/SoundTrackPlayerNode.hpp>
#include <somnara/runtime/Sleep.hpp>
#include <somnara/system/SomnaraLogger.hpp>
#include <somnara/system/ZelAnalyticsLogger.hpp>

#include <exception>
#include <string>
#include <utility>

namespace somnara {

namespace {

// The node's lines keep their own wording (the sound by identifier or display name, volumes as "%f").
// They go to the system log like every other line of the library, where syslog has no separate
// category to put them under.
void log(const std::string& message, LogType type = LogType::debug) {
    SomnaraLogger::log(message, type);
}

std::string identifierOf(SoundTrack soundTrack) {
    return std::string(soundTrack.identifier());
}

/// A number as "%f" writes it: six decimals.
std::string fixed(double value) {
    return std::to_string(value);
}

} // namespace

SoundTrackPlayerNode::SoundTrackPlayerNode(SoundTrack soundTrack,
                                           std::shared_ptr<AudioFileFactory> audioFileFactory)
    : soundTrack_(soundTrack), audioFileFactory_(std::move(audioFileFactory)),
      audioPlayerNode_(std::make_shared<AudioPlayerNode>()) {}

SoundTrackPlayerNode::~SoundTrackPlayerNode() {
    for (const auto& [identifier, task] : loopTasks_) {
        task.cancel();
    }
    changeVolumeTask_.cancel();
}

std::vector<std::string> SoundTrackPlayerNode::loopTaskIdentifiers() const {
    std::vector<std::string> identifiers;
    for (const auto& [identifier, task] : loopTasks_) {
        identifiers.push_back(identifier);
    }
    return identifiers;
}

Task<void> SoundTrackPlayerNode::run(Operation operation) {
    return spawn([self = shared_from_this(), operation = std::move(operation)]() -> asio::awaitable<void> {
        auto work = operation(self);
        co_await std::move(work);
    });
}

// MARK: - Loop tasks

Task<void> SoundTrackPlayerNode::prepare() {
    return run([](std::shared_ptr<SoundTrackPlayerNode> self) { return self->prepareOnNode(); });
}

asio::awaitable<void> SoundTrackPlayerNode::prepareOnNode() {
    switch (bufferState_) {
    case BufferState::preparing:
        log("Already preparing " + identifierOf(soundTrack_));
        co_return;
    case BufferState::prepared:
        log("Already prepared " + identifierOf(soundTrack_));
        co_return;
    case BufferState::notPrepared:
        break;
    }
    log("Preparing " + identifierOf(soundTrack_));
    bufferState_ = BufferState::preparing;
    // Topping up is immediate and an entry leaves only when its copy's completion has been posted, so
    // all three loop tasks exist here: there is nothing to wait for (a wait that ignored cancellation
    // could only have spun the loop).
    scheduleLoopTasks();
    applyVolume(0.0F);
    bufferState_ = BufferState::prepared;
    log("Prepared");
}

void SoundTrackPlayerNode::scheduleLoopTasks() {
    while (loopTasks_.size() < static_cast<std::size_t>(maxLoopTasks)) {
        auto identifier = makeUuidString();
        auto task = spawn([weakNode = weak_from_this(), soundTrack = soundTrack_, identifier]() {
            return loopTask(weakNode, soundTrack, identifier);
        });
        loopTasks_.emplace(std::move(identifier), std::move(task));
    }
}

asio::awaitable<void> SoundTrackPlayerNode::loopTask(std::weak_ptr<SoundTrackPlayerNode> weakNode,
                                                     SoundTrack soundTrack, std::string identifier) {
    log("Scheduling " + identifierOf(soundTrack));
    std::shared_ptr<AudioFileFactory> factory;
    std::shared_ptr<AudioPlayerNode> player;
    if (auto node = weakNode.lock()) {
        factory = node->audioFileFactory_;
        player = node->audioPlayerNode_;
    } else {
        log("No audio file " + identifierOf(soundTrack), LogType::error);
        co_return;
    }
    auto request = factory->audioFile(soundTrack);
    auto file = co_await request.value();
    if (!file) {
        // The entry stays: the node keeps its three tasks, stays silent, and preparing still ends.
        log("No audio file " + identifierOf(soundTrack), LogType::error);
        co_return;
    }
    auto scheduled = player->scheduleFile(std::move(file));
    const PlaybackCompletion completion = co_await std::move(scheduled);
    if (auto node = weakNode.lock()) {
        node->loopCopyEnded(identifier, completion.playedBack);
    }
}

void SoundTrackPlayerNode::loopCopyEnded(const std::string& identifier, bool playedBack) {
    loopTasks_.erase(identifier);
    if (playedBack) {
        scheduleLoopTasks();
        return;
    }
    // The copy was removed unplayed: the player node was stopped or detached, or the engine reset, and
    // its whole queue went. Queuing a successor at once would only be removed again (a detached node
    // gives copies back immediately, which would spin); the next play() prepares and fills the queue.
    bufferState_ = BufferState::notPrepared;
}

// MARK: - Playing

Task<void> SoundTrackPlayerNode::play() {
    return run([](std::shared_ptr<SoundTrackPlayerNode> self) { return self->playOnNode(); });
}

asio::awaitable<void> SoundTrackPlayerNode::playOnNode() {
    co_await prepareOnNode();
    const auto engine = audioPlayerNode_->engine();
    if (!engine) {
        ZelAnalyticsLogger::shared().loggedAssertionFailure("No engine on avaudio node", sourceFile, "play()",
                                                            227);
        co_return;
    }
    if (!engine->isRunning()) {
        log("Engine wasn't running", LogType::error);
        try {
            engine->start();
        } catch (const std::exception& error) {
            ZelAnalyticsLogger::shared().loggedAssertionFailure(
                std::string("Failed to restart engine ") + error.what(), sourceFile, "play()", 237);
        }
    }
    audioPlayerNode_->play();
    log("Playing " + soundTrack_.name());
}

Task<void> SoundTrackPlayerNode::pause() {
    return run([](std::shared_ptr<SoundTrackPlayerNode> self) -> asio::awaitable<void> {
        self->pauseNow();
        co_return;
    });
}

void SoundTrackPlayerNode::pauseNow() {
    // The queued copies stay; the next play() prepares again, which only tops the loop tasks up.
    audioPlayerNode_->pause();
    bufferState_ = BufferState::notPrepared;
    log("Paused " + soundTrack_.name());
}

// MARK: - Volume

void SoundTrackPlayerNode::applyVolume(float volume) {
    audioPlayerNode_->setVolume(volume);
    log(soundTrack_.name() + " volume set to " + fixed(volume));
}

Task<void> SoundTrackPlayerNode::setVolume(float volume) {
    return run([volume](std::shared_ptr<SoundTrackPlayerNode> self) -> asio::awaitable<void> {
        self->changeVolumeTask_.cancel();
        self->applyVolume(volume);
        log("Volume changed " + self->soundTrack_.name() + " : " + fixed(volume));
        if (volume <= 0.0F) {
            self->pauseNow();
        }
        co_return;
    });
}

Task<void> SoundTrackPlayerNode::fadeIn(float maxVolume, double duration) {
    return run([maxVolume, duration](std::shared_ptr<SoundTrackPlayerNode> self) -> asio::awaitable<void> {
        log("Starting Volume fade in " + identifierOf(self->soundTrack_) + ", duration " + fixed(duration) +
            ", maxVolume " + fixed(maxVolume) + ".");
        self->applyVolume(0.0F);
        co_await self->playOnNode();
        log("Play " + self->soundTrack_.name());
        auto ramp = self->startRamp(maxVolume, duration, RampKind::fadeIn);
        co_await ramp.value();
        log("Volume fading in completion. " + self->soundTrack_.name());
    });
}

Task<void> SoundTrackPlayerNode::fade(float to, double duration) {
    return run([to, duration](std::shared_ptr<SoundTrackPlayerNode> self) -> asio::awaitable<void> {
        co_await self->playOnNode();
        log("Starting Volume fade " + self->soundTrack_.name());
        auto ramp = self->startRamp(to, duration, RampKind::fade);
        co_await ramp.value();
        log("Volume fading completion. " + self->soundTrack_.name());
    });
}

Task<void> SoundTrackPlayerNode::fadeOut(double duration) {
    return run([duration](std::shared_ptr<SoundTrackPlayerNode> self) -> asio::awaitable<void> {
        log("Starting Volume fade out " + self->soundTrack_.name() + ", duration " + fixed(duration));
        const float volume = self->audioPlayerNode_->volume();
        // Scaled by the volume, so the volume falls at the same rate from wherever it starts.
        auto ramp = self->startRamp(0.0F, duration * volume, RampKind::fadeOut);
        const bool completed = co_await ramp.value();
        if (completed) {
            self->pauseNow();
        }
    });
}

Task<bool> SoundTrackPlayerNode::startRamp(float target, double duration, RampKind kind) {
    changeVolumeTask_.cancel();
    audioPlayerNode_->rampVolume(target, duration);
    switch (kind) {
    case RampKind::fadeIn:
        log("Volume fading in " + soundTrack_.name() + " : " + fixed(target));
        break;
    case RampKind::fade:
        log("Volume fading " + soundTrack_.name() + " : " + fixed(target));
        break;
    case RampKind::fadeOut:
        log("Volume fading out " + soundTrack_.name() + " : " + fixed(target));
        break;
    }
    changeVolumeTask_ = spawn([weakNode = weak_from_this(), target, duration]() -> asio::awaitable<bool> {
        auto ramp = runLinearRamp(duration);
        const bool completed = co_await std::move(ramp);
        // A ramp that ran to its end applies the target itself, so a finished fade leaves the node
        // exactly where the caller asked; a cancelled one leaves the volume to whatever replaced it.
        if (completed) {
            if (auto node = weakNode.lock()) {
                node->applyVolume(target);
            }
        }
        co_return completed;
    });
    return changeVolumeTask_;
}

} // namespace somnara
