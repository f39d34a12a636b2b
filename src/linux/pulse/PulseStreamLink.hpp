#pragma once

#include <somnara/runtime/Loop.hpp>

#include <cstdint>
#include <string>

namespace somnara {

/// Where the "pulse" output and the PulseAudio session meet. The output attaches its playback stream
/// while it plays and reports what the server does to it: cork and uncork requests (module-role-cork),
/// moves to another sink, the stream failing. The session listens, and corks or uncorks the stream
/// through the link. Both are one per process, so the link is too.
///
/// Threads: loop only, except `report`, which the output's libpulse thread calls: it hands the event
/// to the loop, so the session hears of everything on the loop.
class PulseStreamLink {
public:
    enum class Event { corkRequested, uncorkRequested, moved, failed };

    /// The output's side: acts on its stream under its own lock.
    class Stream {
    public:
        virtual void setCorked(bool corked) noexcept = 0;
        virtual void unmute() noexcept = 0;

    protected:
        ~Stream() = default;
    };

    /// The session's side.
    class Listener {
    public:
        virtual void streamAttached(const std::string& sinkName) = 0;
        virtual void streamDetached() = 0;
        /// `sinkName`: the sink the stream plays on after the event.
        virtual void streamEvent(Event event, const std::string& sinkName) = 0;

    protected:
        ~Listener() = default;
    };

    static PulseStreamLink& shared();

    /// Makes `stream`, playing on `sinkName`, the process's stream; returns the generation its
    /// reports carry, so that late reports of a stream already gone are dropped.
    std::uint64_t attach(Stream& stream, const std::string& sinkName);
    void detach(std::uint64_t generation);
    bool hasStream() const noexcept { return stream_ != nullptr; }
    /// Corks or uncorks the attached stream; nothing without one.
    void setCorked(bool corked) noexcept;
    /// Unmutes the attached stream on the server; nothing without one.
    void unmute() noexcept;

    /// Makes `listener` the one that hears the stream's events; it hears at once of a stream
    /// already attached.
    void setListener(Listener& listener);
    /// Stops `listener` hearing (nothing when another listener has taken its place).
    void removeListener(const Listener& listener) noexcept;

    /// Any thread: hands `event` of the stream of `generation` to `loop`.
    static void report(Loop& loop, std::uint64_t generation, Event event, std::string sinkName);

private:
    void deliver(std::uint64_t generation, Event event, const std::string& sinkName);

    Stream* stream_ = nullptr;
    std::string sinkName_;
    std::uint64_t generation_ = 0;
    Listener* listener_ = nullptr;
};

} // namespace somnara
