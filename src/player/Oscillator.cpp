#include "LinearRamp.hpp"

#include <somnara/player/Oscillator.hpp>
#include <somnara/system/SomnaraLogger.hpp>
#include <somnara/system/ZelAnalyticsLogger.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <utility>

namespace somnara {

namespace {

template <class Number>
std::string shortest(Number value) {
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    std::string result(text, end);
    if (std::isfinite(value) && result.find_first_of(".e") == std::string::npos) {
        result += ".0";
    }
    return result;
}

Oscillator::Direction opposite(Oscillator::Direction direction) noexcept {
    return direction == Oscillator::Direction::left ? Oscillator::Direction::right
                                                    : Oscillator::Direction::left;
}

} // namespace

const char* directionName(Oscillator::Direction direction) noexcept {
    return direction == Oscillator::Direction::left ? "left" : "right";
}

std::string shortestDecimal(double value) {
    return shortest(value);
}

std::string shortestDecimal(float value) {
    return shortest(value);
}

Oscillator::~Oscillator() {
    changeValueTask_.cancel();
}

void Oscillator::setSettings(SoundSettings::Oscillation settings) {
    auto& analytics = ZelAnalyticsLogger::shared();
    analytics.loggedAssert(SoundSettings::oscillationRateRange.contains(settings.rate), "Invalid rate",
                           sourceFile, "settings", 38);
    // A NaN strength is outside the range too.
    analytics.loggedAssert(SoundSettings::oscillationStrengthRange.contains(settings.strength),
                           "Invalid strength", sourceFile, "settings", 39);
    settings_ = settings;
    // A change of rate or strength that leaves the effect on restarts nothing: the running oscillation
    // takes the new values at its next sweep.
    setIsRunning(settings_.strength > 0.0F && settings_.rate > 0.0);
}

void Oscillator::setIsRunning(bool running) {
    if (running == isRunning_) {
        return;
    }
    isRunning_ = running;
    if (running) {
        restart();
    } else {
        [[maybe_unused]] auto stopping = stop();
    }
}

void Oscillator::setPlayers(std::vector<std::shared_ptr<SoundTrackPlayerNode>> players) {
    // A node that leaves stops where its sweep has got to instead of gliding on to the extreme.
    for (const auto& player : players_) {
        if (std::find(players.begin(), players.end(), player) == players.end()) {
            const auto& node = player->audioPlayerNode();
            node->setPan(node->pan());
        }
    }
    players_ = std::move(players);
}

void Oscillator::restart() {
    changeValueTask_.cancel();
    if (isRunning_ && settings_.strength > 0.0F && settings_.rate > 0.0) {
        ++generation_;
        changeValueTask_ = spawn([self = shared_from_this()]() { return oscillate(self); });
    }
}

Task<void> Oscillator::stop() {
    // Cancelled at once, not when the stop's task runs: a restart right after a stop must not see its
    // new oscillation cancelled or its pans centred by the late stop.
    changeValueTask_.cancel();
    return spawn([self = shared_from_this(), generation = generation_]() -> asio::awaitable<void> {
        if (self->generation_ == generation) {
            self->setPans(0.0F);
        }
        co_return;
    });
}

bool Oscillator::shouldSweep() const noexcept {
    return isRunning_ && settings_.strength > 0.0F && settings_.rate > 0.0 && !players_.empty();
}

void Oscillator::setPans(float pan) {
    for (const auto& player : players_) {
        player->audioPlayerNode()->setPan(pan);
    }
}

asio::awaitable<void> Oscillator::oscillate(std::shared_ptr<Oscillator> self) {
    for (;;) {
        const bool cancelled = co_await isCancelled();
        if (cancelled || !self->shouldSweep()) {
            co_return;
        }
        co_await self->sweep();
    }
}

asio::awaitable<void> Oscillator::sweep() {
    const float strength = settings_.strength;
    const double rate = settings_.rate;
    const Direction direction = direction_;
    const float pan = players_.front()->audioPlayerNode()->pan();

    // Where the pan stands within the swing, 0 at -strength and 1 at +strength; a sweep that starts
    // part-way takes the part of a full sweep's time that is left, so the speed stays that of a full one.
    const float position = (strength + pan) / (2.0F * strength);
    const float remaining = direction == Direction::left ? position : 1.0F - position;
    const double duration = rate * static_cast<double>(remaining);
    const float target = direction == Direction::left ? -strength : strength;
    SomnaraLogger::log("Oscillator change pan from " + shortestDecimal(pan) + ", to " +
                           shortestDecimal(target) + ", duration: " + shortestDecimal(duration),
                       LogType::debug);

    // Every node starts the sweep from the first one's pan, so they all move together. A pan already
    // past the extreme it heads for (the strength fell) is no sweep: it stays, and the next one turns.
    if (duration >= 0.0) {
        setPans(pan);
        for (const auto& player : players_) {
            player->audioPlayerNode()->rampPan(target, duration);
        }
    }
    auto ramp = runLinearRamp(duration);
    const bool completed = co_await std::move(ramp);
    // A sweep that ran to its end puts the pans exactly at the extreme, so the next sweep starts from
    // there and keeps the full period.
    if (completed) {
        setPans(target);
    }
    SomnaraLogger::log(std::string("Oscillator pan complete. Direction: ") + directionName(direction),
                       LogType::debug);
    direction_ = opposite(direction);
}

} // namespace somnara
