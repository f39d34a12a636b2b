#pragma once

#include <somnara/runtime/Loop.hpp>

#include <asio/posix/stream_descriptor.hpp>
#include <asio/steady_timer.hpp>

#include <functional>
#include <memory>
#include <string>

namespace sdbus {
class IConnection;
}

namespace somnara::app {

/// The daemon's connection to the session bus, served by the loop: the loop waits on the bus's socket
/// and dispatches its messages itself, so every method, property and signal callback of every object on
/// the connection runs on the loop thread, and an idle bus costs no wake-ups.
///
/// One connection per process: the daemon's own object and those of other subsystems (the system's
/// media controls) register on `connection()`.
///
/// Loop only; owned by a shared pointer, as the socket's handlers hold it weakly.
class BusConnection : public std::enable_shared_from_this<BusConnection> {
public:
    /// Connects to the session bus and claims `name`. Throws `sdbus::Error` when no bus answers or the
    /// name has an owner already.
    BusConnection(Loop& loop, const std::string& name);
    ~BusConnection();
    BusConnection(const BusConnection&) = delete;
    BusConnection& operator=(const BusConnection&) = delete;

    sdbus::IConnection& connection() noexcept { return *connection_; }

    /// Starts serving the bus. Until then calls wait in the socket, so that none reaches an object that
    /// is not registered yet.
    void start() { dispatch(); }

    /// Called once, on the loop, when the bus goes away (the session ended).
    void onLost(std::function<void()> handler) { onLost_ = std::move(handler); }

    /// Sends what was queued outside a dispatch: replies of methods that finished later, signals.
    void flush();

private:
    void dispatch();
    void arm();
    /// Waits for the socket to be ready for `type` unless a wait for it is pending (`armed`).
    void waitFor(asio::posix::stream_descriptor::wait_type type, bool BusConnection::*armed);

    std::unique_ptr<sdbus::IConnection> connection_;
    asio::posix::stream_descriptor socket_;
    asio::steady_timer timeout_;
    std::function<void()> onLost_;
    bool readArmed_ = false;
    bool writeArmed_ = false;
    bool flushPosted_ = false;
    bool lost_ = false;
};

} // namespace somnara::app
