#pragma once

#include <somnara/runtime/Date.hpp>
#include <somnara/runtime/Task.hpp>

#include <asio/awaitable.hpp>

#include <memory>
#include <optional>

namespace somnara {

/// Leaves a trace of the last moment the process was alive: while it runs, it writes the current date
/// into the standard user defaults every ten seconds, so that plays left open by a process that was
/// killed can be closed at that moment on the next start instead of lasting until then.
///
/// Lives on the loop; the writer task holds the tracker strongly and runs for the life of the process.
class LastActiveDateTracker : public std::enable_shared_from_this<LastActiveDateTracker> {
    struct Private {};

public:
    static constexpr const char* userDefaultsKey = "last_active_date";
    /// Seconds between two writes, on the continuous clock.
    static constexpr double timeInterval = 10;
    /// How late a write may come so that it shares a wake-up with other timers.
    static constexpr double tolerance = 10;

    explicit LastActiveDateTracker(Private) {}
    static std::shared_ptr<LastActiveDateTracker> make();

    /// Replaces the running writer, if any, by a new one whose first write comes one interval from now.
    void start();

    /// The date stored under `userDefaultsKey` when it is a date; none otherwise. Read on the loop,
    /// after giving way to work that is ready, as a call into the tracker does.
    [[nodiscard]] asio::awaitable<std::optional<Date>> storedDate();

private:
    // Loop only.
    Task<void> task_;
};

} // namespace somnara
