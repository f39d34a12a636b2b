#pragma once

#include <somnara/player/SoundTrackPlayerNode.hpp>
#include <somnara/runtime/Task.hpp>
#include <somnara/settings/SoundSettings.hpp>

#include <asio/awaitable.hpp>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace somnara {

/// Moves the pan of every playing sound slowly from one side to the other and back while the
/// oscillation effect is on. All nodes get the same pan at the same time. `rate` is the time of one
/// full sweep from one extreme to the other; `strength` how far from the centre the pan goes.
///
/// Threads: loop only. The sweeps run in a task of their own that holds the oscillator strongly.
class Oscillator : public std::enable_shared_from_this<Oscillator> {
public:
    enum class Direction { left, right };

    static constexpr const char* sourceFile = "SomnaraKit/Oscillator";

    Oscillator() = default;
    /// Cancels the running oscillation.
    ~Oscillator();
    Oscillator(const Oscillator&) = delete;
    Oscillator& operator=(const Oscillator&) = delete;

    const SoundSettings::Oscillation& settings() const noexcept { return settings_; }
    /// Stores the settings (out-of-range ones are reported and used as they are) and switches the
    /// effect on or off when strength and rate say so. A change that leaves it on restarts nothing:
    /// the running oscillation takes the new values at its next sweep.
    void setSettings(SoundSettings::Oscillation settings);

    bool isRunning() const noexcept { return isRunning_; }
    /// A change to true restarts the oscillation; a change to false stops it and centres the pans.
    void setIsRunning(bool running);

    const std::vector<std::shared_ptr<SoundTrackPlayerNode>>& players() const noexcept { return players_; }
    /// Stores the nodes; `restart()` puts the oscillation onto them. A node that is left out stops
    /// where its pan has got to.
    void setPlayers(std::vector<std::shared_ptr<SoundTrackPlayerNode>> players);

    /// Replaces the running oscillation with a new one when the effect is on, or only ends it.
    void restart();
    /// Ends the running oscillation and centres every node's pan.
    [[nodiscard]] Task<void> stop();

    /// Where the current or next sweep goes; kept between runs, so a restarted oscillation goes on
    /// towards the side it was going to.
    Direction direction() const noexcept { return direction_; }

private:
    static asio::awaitable<void> oscillate(std::shared_ptr<Oscillator> self);
    asio::awaitable<void> sweep();
    bool shouldSweep() const noexcept;
    void setPans(float pan);

    // Loop only.
    Direction direction_ = Direction::right;
    std::vector<std::shared_ptr<SoundTrackPlayerNode>> players_;
    Task<void> changeValueTask_;
    SoundSettings::Oscillation settings_{10.0, 0.0F};
    bool isRunning_ = false;
    /// Counts the oscillations started, so that a stop does not centre the pans under a newer one.
    std::uint64_t generation_ = 0;
};

/// "left" or "right".
const char* directionName(Oscillator::Direction direction) noexcept;

/// A number in the shortest decimal form that reads back to the same value, always with a decimal
/// point: 10.0, 0.5, -1.0.
std::string shortestDecimal(double value);
std::string shortestDecimal(float value);

} // namespace somnara
