#pragma once

#include <somnara/runtime/AsyncStream.hpp>

#include <any>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

namespace somnara {

/// A platform notification: audio route changes, interruptions, cloud store changes and the like.
struct Notification {
    std::string name;
    std::map<std::string, std::any> userInfo;
};

/// Delivers posted notifications to the streams of those observing their name. Each loop has one
/// (`Loop::notificationCenter()`). Loop only: other threads post through `Loop::post`.
class NotificationCenter {
public:
    void post(const Notification& notification);

    /// A stream of every notification of `name` posted from now on; it stops being fed once its
    /// consumer gives it up.
    [[nodiscard]] AsyncStream<Notification> notifications(const std::string& name);

    std::size_t observerCount() const noexcept { return observers_->size(); }

private:
    struct Observer {
        std::string name;
        AsyncStream<Notification>::Continuation continuation;
    };
    using Observers = std::map<std::uint64_t, Observer>;
    // Shared so that a stream outliving the centre (held by a process-wide object) can still stop
    // observing without touching a destroyed centre.
    std::shared_ptr<Observers> observers_ = std::make_shared<Observers>();
    std::uint64_t nextId_ = 0;
};

} // namespace somnara
