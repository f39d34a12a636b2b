#include "PcmBufferAudioFile.hpp"
#include "rt/Commands.hpp"

#include <somnara/audio/AudioEngine.hpp>
#include <somnara/audio/AudioPlayerNode.hpp>
#include <somnara/runtime/Completion.hpp>
#include <somnara/runtime/Loop.hpp>
#include <somnara/system/ZelAnalyticsLogger.hpp>

#include <asio/async_result.hpp>
#include <asio/use_awaitable.hpp>

#include <algorithm>
#include <cmath>

namespace somnara {

AudioPlayerNode::AudioPlayerNode() : AudioNode(Kind::player) {}

AudioPlayerNode::~AudioPlayerNode() = default;

void AudioPlayerNode::scheduleFile(std::shared_ptr<AudioFile> file, CompletionHandler completion) {
    auto attached = engine();
    if (!attached || voice_ < 0) {
        ZelAnalyticsLogger::shared().loggedAssertionFailure("Scheduling on a player node with no engine",
                                                            "SomnaraKit/AudioPlayerNode", "scheduleFile",
                                                            __LINE__);
        if (completion) {
            Loop::current().post([completion = std::move(completion)] { completion(PlaybackCompletion{}); });
        }
        return;
    }
    attached->scheduleItem(*this, std::move(file), std::move(completion));
}

void AudioPlayerNode::scheduleBuffer(std::shared_ptr<const AudioPcmBuffer> buffer,
                                     CompletionHandler completion) {
    scheduleFile(std::make_shared<PcmBufferAudioFile>(std::move(buffer)), std::move(completion));
}

namespace {

/// Waits for the completion of an item that `start` schedules.
template <class Start>
asio::awaitable<PlaybackCompletion> awaitCompletion(Start start) {
    auto initiate = [start = std::move(start)](auto handler) mutable {
        auto resume = std::make_shared<detail::Completion<PlaybackCompletion>>(
            detail::Completion<PlaybackCompletion>::from(std::move(handler)));
        start([resume](const PlaybackCompletion& completion) { (*resume)(completion); });
    };
    const PlaybackCompletion result =
        co_await asio::async_initiate<const asio::use_awaitable_t<>, void(PlaybackCompletion)>(
            initiate, asio::use_awaitable);
    co_return result;
}

} // namespace

asio::awaitable<PlaybackCompletion> AudioPlayerNode::scheduleFile(std::shared_ptr<AudioFile> file) {
    auto self = std::static_pointer_cast<AudioPlayerNode>(shared_from_this());
    auto start = [self, file](CompletionHandler handler) { self->scheduleFile(file, std::move(handler)); };
    const PlaybackCompletion result = co_await awaitCompletion(std::move(start));
    co_return result;
}

asio::awaitable<PlaybackCompletion>
AudioPlayerNode::scheduleBuffer(std::shared_ptr<const AudioPcmBuffer> buffer) {
    auto self = std::static_pointer_cast<AudioPlayerNode>(shared_from_this());
    auto start = [self, buffer](CompletionHandler handler) {
        self->scheduleBuffer(buffer, std::move(handler));
    };
    const PlaybackCompletion result = co_await awaitCompletion(std::move(start));
    co_return result;
}

void AudioPlayerNode::play() {
    playing_ = true;
    if (auto attached = engine()) {
        attached->sendPlayerCommand(*this, static_cast<int>(rt::RenderCommand::Kind::play));
    }
}

void AudioPlayerNode::pause() {
    playing_ = false;
    if (auto attached = engine()) {
        attached->sendPlayerCommand(*this, static_cast<int>(rt::RenderCommand::Kind::pause));
    }
}

void AudioPlayerNode::stop() {
    playing_ = false;
    if (auto attached = engine()) {
        attached->sendPlayerCommand(*this, static_cast<int>(rt::RenderCommand::Kind::stop));
    }
}

float AudioPlayerNode::Glide::now() const noexcept {
    if (seconds <= 0.0) {
        return target;
    }
    const double elapsed = Seconds{Loop::current().continuousNow() - start}.count();
    if (elapsed >= seconds) {
        return target;
    }
    // Reported in steps of 10 ms, as the loop once applied them; the render side glides between.
    constexpr double step = 0.01;
    const double stepped = std::floor(std::max(elapsed, 0.0) / step + 1e-9) * step;
    return from + (target - from) * static_cast<float>(stepped / seconds);
}

void AudioPlayerNode::Glide::restart(float newTarget, double newSeconds) noexcept {
    from = now();
    target = newTarget;
    seconds = newSeconds > 0.0 ? newSeconds : 0.0; // NaN too
    if (seconds > 0.0) {
        start = Loop::current().continuousNow();
    }
}

void AudioPlayerNode::setVolume(float volume) {
    volume_.restart(std::clamp(volume, 0.0F, 1.0F), 0.0);
    publish(static_cast<int>(rt::RenderCommand::Kind::volume), volume_);
}

void AudioPlayerNode::setPan(float pan) {
    pan_.restart(std::clamp(pan, -1.0F, 1.0F), 0.0);
    publish(static_cast<int>(rt::RenderCommand::Kind::pan), pan_);
}

void AudioPlayerNode::rampVolume(float target, double seconds) {
    volume_.restart(std::clamp(target, 0.0F, 1.0F), seconds);
    publish(static_cast<int>(rt::RenderCommand::Kind::volume), volume_);
}

void AudioPlayerNode::rampPan(float target, double seconds) {
    pan_.restart(std::clamp(target, -1.0F, 1.0F), seconds);
    publish(static_cast<int>(rt::RenderCommand::Kind::pan), pan_);
}

void AudioPlayerNode::publish(int kind, const Glide& glide) {
    if (auto attached = engine()) {
        attached->sendGain(*this, kind, glide.target, glide.seconds);
    }
}

} // namespace somnara
