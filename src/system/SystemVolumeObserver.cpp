#include <somnara/runtime/Loop.hpp>
#include <somnara/runtime/NotificationCenter.hpp>
#include <somnara/system/SystemVolumeObserver.hpp>

namespace somnara {

const std::shared_ptr<SystemVolumeObserver>& SystemVolumeObserver::shared() {
    static const auto observer = make(AudioSession::shared());
    return observer;
}

std::shared_ptr<SystemVolumeObserver> SystemVolumeObserver::make(std::shared_ptr<AudioSession> session) {
    auto observer = std::make_shared<SystemVolumeObserver>(Private{}, std::move(session));
    // Each announcement only says that the volume changed: the value is read anew when it is handled,
    // so two quick changes may publish the later volume twice.
    auto changes =
        Loop::current().notificationCenter().notifications(AudioSession::outputVolumeChangeNotification);
    observer->volumeObservation_ = spawn(
        [weak = std::weak_ptr(observer), changes = std::move(changes)]() mutable -> asio::awaitable<void> {
            while (co_await changes.next()) {
                if (auto strong = weak.lock()) {
                    strong->systemVolumeSubject_->send(strong->session_->outputVolume());
                }
            }
        });
    return observer;
}

SystemVolumeObserver::SystemVolumeObserver(Private, std::shared_ptr<AudioSession> session)
    : session_(std::move(session)),
      systemVolumeSubject_(AsyncCurrentValueSubject<float>::make(session_->outputVolume())) {}

SystemVolumeObserver::~SystemVolumeObserver() {
    volumeObservation_.cancel();
}

} // namespace somnara
