#include <somnara/runtime/Date.hpp>

namespace somnara {

Date Date::fromSystemClock(std::chrono::system_clock::time_point point) noexcept {
    return fromTimeIntervalSince1970(std::chrono::duration<double>(point.time_since_epoch()).count());
}

std::chrono::system_clock::time_point Date::toSystemClock() const noexcept {
    return std::chrono::system_clock::time_point{
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::duration<double>(timeIntervalSince1970()))};
}

} // namespace somnara
