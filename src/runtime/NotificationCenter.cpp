#include <somnara/runtime/NotificationCenter.hpp>

#include <vector>

namespace somnara {

void NotificationCenter::post(const Notification& notification) {
    // A consumer may give up its stream while we deliver, so deliver to a snapshot.
    std::vector<AsyncStream<Notification>::Continuation> receivers;
    for (const auto& [id, observer] : *observers_) {
        if (observer.name == notification.name) {
            receivers.push_back(observer.continuation);
        }
    }
    for (const auto& receiver : receivers) {
        receiver.yield(notification);
    }
}

AsyncStream<Notification> NotificationCenter::notifications(const std::string& name) {
    auto [stream, continuation] = AsyncStream<Notification>::make();
    const auto id = nextId_++;
    observers_->emplace(id, Observer{name, continuation});
    continuation.onTermination([weak = std::weak_ptr<Observers>(observers_), id](StreamTermination) {
        if (auto observers = weak.lock()) {
            observers->erase(id);
        }
    });
    return std::move(stream);
}

} // namespace somnara
