#include <somnara/platform/AudioSession.hpp>

namespace somnara {

namespace {

/// The session of a process without a sound server: offline renders and tools.
class ServerlessAudioSession final : public AudioSession {
public:
    void setCategory(RouteSharingPolicy, bool) override {}
    void setActive(bool) override {}
    AudioSessionRouteDescription currentRoute() const override {
        return {{{AudioSessionPort::other, "Null output", "null"}}};
    }
    float outputVolume() const override { return 1.0F; }
};

std::shared_ptr<AudioSession>& sharedSession() {
    static std::shared_ptr<AudioSession> session = std::make_shared<ServerlessAudioSession>();
    return session;
}

} // namespace

const std::shared_ptr<AudioSession>& AudioSession::shared() {
    return sharedSession();
}

void AudioSession::setShared(std::shared_ptr<AudioSession> session) {
    sharedSession() = std::move(session);
}

} // namespace somnara
