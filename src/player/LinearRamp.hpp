#pragma once

#include <asio/awaitable.hpp>

#include <functional>

namespace somnara {

/// Steps a linear ramp of `duration` seconds on the loop's wall clock: calls `step` with the progress,
/// 0 to 1, at once and then every 10 ms, for as long as the task is not cancelled and the end time has
/// not passed. The last step falls at or before the end time, so its progress can be short of 1 by up
/// to one step. Returns true when the ramp ran to its end (not cancelled, and at least one step taken):
/// the caller then puts the value exactly at the ramp's end.
///
/// Loop only; the caller's task is the ramp's.
[[nodiscard]] asio::awaitable<bool> runLinearRamp(double duration, std::function<void(float progress)> step);

} // namespace somnara
