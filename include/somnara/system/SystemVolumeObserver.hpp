#pragma once

#include <somnara/foundation/AsyncCurrentValueSubject.hpp>
#include <somnara/platform/AudioSession.hpp>
#include <somnara/runtime/Task.hpp>

#include <memory>

namespace somnara {

/// Publishes the system's output volume (0 to 1; 0 when muted), so that the player can tell that it
/// starts on a muted device.
///
/// Loop only.
class SystemVolumeObserver : public std::enable_shared_from_this<SystemVolumeObserver> {
    struct Private {};

public:
    /// The process-wide observer, on `AudioSession::shared()`, made on first use.
    static const std::shared_ptr<SystemVolumeObserver>& shared();
    /// An observer of `session`: its volume now, then every change it announces.
    static std::shared_ptr<SystemVolumeObserver> make(std::shared_ptr<AudioSession> session);

    SystemVolumeObserver(Private, std::shared_ptr<AudioSession> session);
    ~SystemVolumeObserver();
    SystemVolumeObserver(const SystemVolumeObserver&) = delete;
    SystemVolumeObserver& operator=(const SystemVolumeObserver&) = delete;

    const std::shared_ptr<AsyncCurrentValueSubject<float>>& systemVolumeSubject() const noexcept {
        return systemVolumeSubject_;
    }

private:
    std::shared_ptr<AudioSession> session_;
    std::shared_ptr<AsyncCurrentValueSubject<float>> systemVolumeSubject_;
    Task<void> volumeObservation_;
};

} // namespace somnara
