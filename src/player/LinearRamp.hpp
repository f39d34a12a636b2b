#pragma once

#include <asio/awaitable.hpp>

namespace somnara {

/// Waits out a linear ramp of `duration` seconds that the render side steps by itself, ending where a
/// ramp stepped every 10 ms on the loop's clock would have: at the first step after the end time. A
/// cancellation ends the wait at once. Returns true when the ramp ran to its end (the caller then puts
/// the value exactly at the ramp's end), false when cancelled or at once for a negative duration.
///
/// Loop only; the caller's task is the ramp's.
[[nodiscard]] asio::awaitable<bool> runLinearRamp(double duration);

} // namespace somnara
