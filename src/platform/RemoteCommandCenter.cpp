#include <somnara/platform/RemoteCommandCenter.hpp>

#include <algorithm>

namespace somnara {

const char* remoteCommandName(RemoteCommand command) noexcept {
    switch (command) {
    case RemoteCommand::play:
        return "play";
    case RemoteCommand::pause:
        return "pause";
    case RemoteCommand::togglePlayPause:
        return "togglePlayPause";
    case RemoteCommand::stop:
        return "stop";
    case RemoteCommand::previousTrack:
        return "previousTrack";
    case RemoteCommand::nextTrack:
        break;
    }
    return "nextTrack";
}

RemoteCommandCenter& RemoteCommandCenter::shared() {
    static RemoteCommandCenter center;
    return center;
}

RemoteCommandCenter::RemoteCommandCenter()
    : availableCommandsSubject_(AsyncCurrentValueSubject<CommandSet>::make(CommandSet{})) {}

RemoteCommandCenter::TargetId RemoteCommandCenter::addTarget(RemoteCommand command, Handler handler) {
    const auto id = ++nextTargetId_;
    targets_[index(command)].push_back({id, std::move(handler)});
    publishAvailability();
    return {command, id};
}

void RemoteCommandCenter::removeTarget(TargetId target) {
    std::erase_if(targets_[index(target.command)], [&](const Target& t) { return t.id == target.id; });
    publishAvailability();
}

void RemoteCommandCenter::setEnabled(RemoteCommand command, bool enabled) {
    enabled_[index(command)] = enabled;
    publishAvailability();
}

RemoteCommandHandlerStatus RemoteCommandCenter::perform(RemoteCommand command) {
    if (!isAvailable(command)) {
        return RemoteCommandHandlerStatus::commandFailed;
    }
    // A handler may add or remove targets; the ones registered when the command arrived answer it.
    const auto targets = targets_[index(command)];
    auto status = RemoteCommandHandlerStatus::success;
    for (const auto& target : targets) {
        const auto answer = target.handler(RemoteCommandEvent{command});
        if (status == RemoteCommandHandlerStatus::success) {
            status = answer;
        }
    }
    return status;
}

void RemoteCommandCenter::publishAvailability() {
    CommandSet available{};
    for (std::size_t i = 0; i < available.size(); ++i) {
        available[i] = enabled_[i] && !targets_[i].empty();
    }
    if (available != availableCommandsSubject_->currentValue()) {
        availableCommandsSubject_->send(available);
    }
}

} // namespace somnara
