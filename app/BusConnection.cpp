#include "BusConnection.hpp"

#include <somnara/system/SomnaraLogger.hpp>

#include <asio/post.hpp>
#include <poll.h>
#include <sdbus-c++/sdbus-c++.h>

#include <chrono>
#include <cstdint>
#include <limits>

namespace somnara::app {

BusConnection::BusConnection(Loop& loop, const std::string& name)
    : connection_(sdbus::createSessionBusConnection(name)),
      socket_(loop.context(), connection_->getEventLoopPollData().fd), timeout_(loop.context()) {}

BusConnection::~BusConnection() {
    // The socket belongs to the bus connection, which closes it.
    socket_.release();
}

void BusConnection::flush() {
    if (flushPosted_ || lost_) {
        return;
    }
    flushPosted_ = true;
    asio::post(socket_.get_executor(), [weak = weak_from_this()] {
        if (const auto self = weak.lock()) {
            self->flushPosted_ = false;
            self->dispatch();
        }
    });
}

void BusConnection::dispatch() {
    if (lost_) {
        return;
    }
    try {
        while (connection_->processPendingRequest()) {
        }
    } catch (const sdbus::Error& error) {
        lost_ = true;
        SomnaraLogger::log("The session bus went away: " + error.getMessage(), LogType::error);
        socket_.cancel();
        timeout_.cancel();
        if (onLost_) {
            onLost_();
        }
        return;
    } catch (const std::exception& error) {
        // A callback that answers at once threw what sdbus-c++ does not turn into an error reply: the
        // caller gets none, the daemon goes on.
        SomnaraLogger::log(std::string("A bus callback failed: ") + error.what(), LogType::error);
    }
    arm();
}

void BusConnection::waitFor(asio::posix::stream_descriptor::wait_type type, bool BusConnection::*armed) {
    if (this->*armed) {
        return;
    }
    this->*armed = true;
    socket_.async_wait(type, [weak = weak_from_this(), armed](std::error_code error) {
        if (const auto self = weak.lock()) {
            self.get()->*armed = false;
            if (!error) {
                self->dispatch();
            }
        }
    });
}

void BusConnection::arm() {
    const auto poll = connection_->getEventLoopPollData();
    if ((poll.events & POLLIN) != 0) {
        waitFor(asio::posix::stream_descriptor::wait_read, &BusConnection::readArmed_);
    }
    if ((poll.events & POLLOUT) != 0) {
        waitFor(asio::posix::stream_descriptor::wait_write, &BusConnection::writeArmed_);
    }
    // sd-bus's deadlines (of calls it waits on) are on CLOCK_MONOTONIC, the steady clock's own.
    if (poll.timeout_usec == std::numeric_limits<std::uint64_t>::max()) {
        timeout_.cancel();
        return;
    }
    timeout_.expires_at(std::chrono::steady_clock::time_point(std::chrono::microseconds(poll.timeout_usec)));
    timeout_.async_wait([weak = weak_from_this()](std::error_code error) {
        const auto self = weak.lock();
        if (self && !error) {
            self->dispatch();
        }
    });
}

} // namespace somnara::app
