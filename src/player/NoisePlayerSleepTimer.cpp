// The sleep timer: it starts playback, counts down once a second on the continuous clock (which keeps
// counting while the machine sleeps, so a timer whose end passed during a suspend ends at the first
// tick after the resume), fades to silence over the settings' sleep-end fade and stops at the end.

#include <somnara/player/NoisePlayer.hpp>
#include <somnara/runtime/Sleep.hpp>

namespace somnara {

namespace {

constexpr Seconds tickInterval{1.0};
/// Ticks may come this late, so that they share wake-ups with the rest of the night's work.
constexpr Seconds tickTolerance{0.1};

/// Starts playback in a task of its own; a failure is only logged by the player.
void playIgnoringFailure(const std::weak_ptr<NoisePlayer>& weakPlayer) {
    spawn([weakPlayer]() -> asio::awaitable<void> {
        auto player = weakPlayer.lock();
        if (!player) {
            co_return;
        }
        try {
            auto play = player->play(false);
            co_await play.value();
        } catch (const std::exception&) {
        }
    });
}

} // namespace

std::optional<double> NoisePlayer::sleepTimeIntervalRemaining() const {
    if (!sleepTimerEnd_) {
        return std::nullopt;
    }
    return Seconds(*sleepTimerEnd_ - Loop::current().continuousNow()).count();
}

std::optional<Date> NoisePlayer::sleepTimerEndDate() const {
    const auto remaining = sleepTimeIntervalRemaining();
    if (!remaining) {
        return std::nullopt;
    }
    return Loop::current().now().addingTimeInterval(*remaining);
}

Task<void> NoisePlayer::startSleepTimer(double duration) {
    return runOnPlayer(
        [duration](std::shared_ptr<NoisePlayer> self) { return self->startSleepTimerOnPlayer(duration); });
}

Task<void> NoisePlayer::cancelSleepTimer() {
    return runOnPlayer([](std::shared_ptr<NoisePlayer> self) -> asio::awaitable<void> {
        if (self->state_.kind() == NoisePlayerState::Case::sleepFadeOut) {
            playIgnoringFailure(self);
        }
        co_await self->clearSleepTimer();
    });
}

asio::awaitable<void> NoisePlayer::startSleepTimerOnPlayer(double duration) {
    playIgnoringFailure(weak_from_this());
    co_await clearSleepTimer();
    sleepTimerEnd_ = Loop::current().continuousNow() +
                     std::chrono::duration_cast<std::chrono::steady_clock::duration>(Seconds(duration));
    sleepTimerTask_ = spawn([weak = weak_from_this()]() { return countDown(weak); });
    sleepTimeRemainingSubject_->send(sleepTimeIntervalRemaining());
    const auto title = selectionName();
    co_await updateNowPlayingInfo(title);
}

asio::awaitable<void> NoisePlayer::countDown(std::weak_ptr<NoisePlayer> weakPlayer) {
    auto self = weakPlayer.lock();
    if (!self) {
        co_return;
    }
    PeriodicTimer ticks(tickInterval, tickTolerance);
    while (co_await ticks.next()) {
        const auto remaining = self->sleepTimeIntervalRemaining();
        if (!remaining) {
            co_return;
        }
        self->sleepTimeRemainingSubject_->send(remaining);
        // The final fade is asked for at every tick inside it; the player acts only while playing.
        spawn([weakPlayer]() -> asio::awaitable<void> {
            auto player = weakPlayer.lock();
            if (!player) {
                co_return;
            }
            const auto settings = co_await player->settingsStore_->noisePlayerSettings();
            const auto left = player->sleepTimeIntervalRemaining();
            if (left && *left <= settings.fadeTiming.sleepEnd) {
                auto fade = player->startSleepFadeOut(settings.fadeTiming.sleepEnd);
                co_await fade.value();
            }
        });
        if (*remaining <= 0) {
            auto stop = self->stop(0);
            co_await stop.value();
            // A timer cleared or replaced during the stop is no longer this task's to clear.
            const bool replaced = co_await isCancelled();
            if (replaced) {
                co_return;
            }
            co_await self->clearSleepTimer();
            co_return;
        }
    }
}

asio::awaitable<void> NoisePlayer::clearSleepTimer() {
    sleepTimerEnd_.reset();
    if (sleepTimerTask_) {
        sleepTimerTask_->cancel();
        sleepTimerTask_.reset();
    }
    sleepTimeRemainingSubject_->send(std::nullopt);
    const auto title = selectionName();
    co_await updateNowPlayingInfo(title);
}

} // namespace somnara
