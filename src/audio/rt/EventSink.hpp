#pragma once

#include "Commands.hpp"

#include <cstddef>

namespace somnara::rt {

/// Where the render side reports what happened; implemented by the graph. Render thread only.
class EventSink {
public:
    /// An item's last frame left the stage `stage` once `time` frames of that stage's output had been
    /// produced. The graph follows it downstream to the output.
    virtual void itemEnded(std::size_t stage, double time, const RenderEvent& event) noexcept = 0;
    /// Reported at once, without latency (stopped, released or stale items).
    virtual void report(const RenderEvent& event) noexcept = 0;
    virtual void underrun() noexcept = 0;

protected:
    ~EventSink() = default;
};

} // namespace somnara::rt
