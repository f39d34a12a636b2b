#include <somnara/foundation/ContentHash.hpp>
#include <somnara/linux/mpris/MprisMediaPlayer.hpp>
#include <somnara/runtime/Loop.hpp>
#include <somnara/runtime/Task.hpp>
#include <somnara/system/SomnaraLogger.hpp>

#include <sdbus-c++/sdbus-c++.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace somnara {

namespace {

constexpr const char* rootInterface = "org.mpris.MediaPlayer2";
constexpr const char* playerInterface = "org.mpris.MediaPlayer2.Player";
constexpr const char* noTrack = "/org/mpris/MediaPlayer2/TrackList/NoTrack";

using Metadata = std::map<std::string, sdbus::Variant>;

const char* playbackStatus(NowPlayingPlaybackState state) {
    switch (state) {
    case NowPlayingPlaybackState::playing:
        return "Playing";
    case NowPlayingPlaybackState::paused:
    case NowPlayingPlaybackState::interrupted:
        return "Paused";
    case NowPlayingPlaybackState::stopped:
    case NowPlayingPlaybackState::unknown:
        break;
    }
    return "Stopped";
}

/// A file URL, with every byte outside the unreserved set and "/" escaped.
std::string fileURL(const std::filesystem::path& path) {
    std::string url = "file://";
    for (const unsigned char c : std::filesystem::absolute(path).string()) {
        if (std::isalnum(c) != 0 || c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
            url += static_cast<char>(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            url += escaped;
        }
    }
    return url;
}

/// One track per title: the selection is the track, so a new name is a new track.
sdbus::ObjectPath trackId(const std::string& title) {
    return sdbus::ObjectPath("/org/somnara/Somnara/Selection/t" + contentHashHex(title));
}

Metadata metadata(const std::optional<NowPlayingInfo>& info, const std::string& artist) {
    if (!info) {
        return {{"mpris:trackid", sdbus::Variant(sdbus::ObjectPath(noTrack))}};
    }
    Metadata metadata{{"mpris:trackid", sdbus::Variant(trackId(info->title))},
                      {"xesam:title", sdbus::Variant(info->title)},
                      {"xesam:artist", sdbus::Variant(std::vector<std::string>{artist})}};
    if (info->artwork) {
        metadata.emplace("mpris:artUrl", sdbus::Variant(fileURL(info->artwork->image)));
    }
    // The time left on the sleep timer is the track's length: that is when the sound ends.
    if (info->playbackDuration) {
        const auto microseconds = std::llround(std::max(0.0, *info->playbackDuration) * 1e6);
        metadata.emplace("mpris:length", sdbus::Variant(static_cast<std::int64_t>(microseconds)));
    }
    return metadata;
}

/// The values the bus reads, kept by the loop; getters run on whatever thread serves the bus.
struct Snapshot {
    std::mutex mutex;
    std::string playbackStatus = "Stopped";
    std::optional<NowPlayingInfo> info;
    RemoteCommandCenter::CommandSet available{};
};

struct CanProperty {
    const char* name;
    RemoteCommand command;
};

// playerctl and the shells gate play, play-pause and stop on CanPlay.
constexpr CanProperty canProperties[] = {{"CanPlay", RemoteCommand::play},
                                         {"CanPause", RemoteCommand::pause},
                                         {"CanGoNext", RemoteCommand::nextTrack},
                                         {"CanGoPrevious", RemoteCommand::previousTrack}};

constexpr std::pair<const char*, RemoteCommand> methods[] = {{"Play", RemoteCommand::play},
                                                             {"Pause", RemoteCommand::pause},
                                                             {"PlayPause", RemoteCommand::togglePlayPause},
                                                             {"Stop", RemoteCommand::stop},
                                                             {"Next", RemoteCommand::nextTrack},
                                                             {"Previous", RemoteCommand::previousTrack}};

} // namespace

struct MprisMediaPlayer::State {
    State(sdbus::IConnection& connection, NowPlayingInfoCenter& nowPlaying, RemoteCommandCenter& commands,
          Options options)
        : loop(Loop::current()), connection(connection), nowPlaying(nowPlaying), commands(commands),
          options(std::move(options)), snapshot(std::make_shared<Snapshot>()) {}

    void registerObject(const std::weak_ptr<State>& weak);
    void follow(const std::weak_ptr<State>& weak);
    /// Applies every value of `values` to the snapshot with `change`, which names what changed.
    template <class Value, class Change>
    void follow(const std::weak_ptr<State>& weak, AsyncStream<Value> values, Change change);
    /// Replaces the snapshot's values on the loop and announces the properties that changed.
    template <class Change>
    void update(Change change);

    Loop& loop;
    sdbus::IConnection& connection;
    NowPlayingInfoCenter& nowPlaying;
    RemoteCommandCenter& commands;
    const Options options;
    const std::shared_ptr<Snapshot> snapshot;
    std::unique_ptr<sdbus::IObject> object;
    std::vector<Task<void>> followers;
    bool ownsName = false;
};

void MprisMediaPlayer::State::registerObject(const std::weak_ptr<State>& weak) {
    object = sdbus::createObject(connection, objectPath);
    auto& o = *object;
    // The desktop has no window of ours to raise, and quitting is the daemon's own business.
    o.registerMethod("Raise").onInterface(rootInterface).implementedAs([] {});
    o.registerMethod("Quit").onInterface(rootInterface).implementedAs([] {});
    o.registerProperty("CanQuit").onInterface(rootInterface).withGetter([] { return false; });
    o.registerProperty("CanRaise").onInterface(rootInterface).withGetter([] { return false; });
    o.registerProperty("HasTrackList").onInterface(rootInterface).withGetter([] { return false; });
    o.registerProperty("Identity").onInterface(rootInterface).withGetter([id = options.identity] {
        return id;
    });
    o.registerProperty("DesktopEntry").onInterface(rootInterface).withGetter([entry = options.desktopEntry] {
        return entry;
    });
    o.registerProperty("SupportedUriSchemes").onInterface(rootInterface).withGetter([] {
        return std::vector<std::string>{};
    });
    o.registerProperty("SupportedMimeTypes").onInterface(rootInterface).withGetter([] {
        return std::vector<std::string>{};
    });

    for (const auto& [name, command] : methods) {
        // Commands go to the loop; the caller gets its (empty) reply at once, as the system's
        // commands are answered before their work is done.
        o.registerMethod(name).onInterface(playerInterface).implementedAs([loop = &loop, weak, command] {
            loop->post([weak, command] {
                if (const auto self = weak.lock()) {
                    self->commands.perform(command);
                }
            });
        });
    }
    // Sounds that loop for as long as they play have no position to seek to.
    o.registerMethod("Seek").onInterface(playerInterface).implementedAs([](std::int64_t) {});
    o.registerMethod("SetPosition")
        .onInterface(playerInterface)
        .implementedAs([](sdbus::ObjectPath, std::int64_t) {});
    o.registerMethod("OpenUri").onInterface(playerInterface).implementedAs([](const std::string&) {});
    o.registerSignal("Seeked").onInterface(playerInterface).withParameters<std::int64_t>("Position");

    const auto& shared = snapshot;
    o.registerProperty("PlaybackStatus").onInterface(playerInterface).withGetter([shared] {
        const std::lock_guard lock(shared->mutex);
        return shared->playbackStatus;
    });
    o.registerProperty("Metadata")
        .onInterface(playerInterface)
        .withGetter([shared, artist = options.identity] {
            const std::lock_guard lock(shared->mutex);
            return metadata(shared->info, artist);
        });
    for (const auto& property : canProperties) {
        o.registerProperty(property.name).onInterface(playerInterface).withGetter([shared, property] {
            const std::lock_guard lock(shared->mutex);
            return shared->available[static_cast<std::size_t>(property.command)];
        });
    }
    o.registerProperty("CanControl").onInterface(playerInterface).withGetter([] { return true; });
    o.registerProperty("CanSeek").onInterface(playerInterface).withGetter([] { return false; });
    o.registerProperty("Rate").onInterface(playerInterface).withGetter([] { return 1.0; });
    o.registerProperty("MinimumRate").onInterface(playerInterface).withGetter([] { return 1.0; });
    o.registerProperty("MaximumRate").onInterface(playerInterface).withGetter([] { return 1.0; });
    o.registerProperty("Volume").onInterface(playerInterface).withGetter([] { return 1.0; });
    o.registerProperty("Position")
        .onInterface(playerInterface)
        .withGetter([] { return std::int64_t{0}; })
        .withUpdateBehavior(sdbus::Flags::EMITS_NO_SIGNAL);
    o.finishRegistration();
}

template <class Change>
void MprisMediaPlayer::State::update(Change change) {
    std::vector<std::string> changed;
    {
        const std::lock_guard lock(snapshot->mutex);
        change(*snapshot, changed);
    }
    if (changed.empty()) {
        return;
    }
    object->emitPropertiesChangedSignal(playerInterface, changed);
    if (options.sent) {
        options.sent();
    }
}

template <class Value, class Change>
void MprisMediaPlayer::State::follow(const std::weak_ptr<State>& weak, AsyncStream<Value> values,
                                     Change change) {
    followers.push_back(spawn([weak, values = std::move(values), change]() mutable -> asio::awaitable<void> {
        while (const auto value = co_await values.next()) {
            if (const auto self = weak.lock()) {
                self->update(
                    [&](Snapshot& s, std::vector<std::string>& changed) { change(s, *value, changed); });
            }
        }
    }));
}

void MprisMediaPlayer::State::follow(const std::weak_ptr<State>& weak) {
    follow(weak, nowPlaying.playbackStateSubject()->subscribe(),
           [](Snapshot& s, NowPlayingPlaybackState state, std::vector<std::string>& changed) {
               if (const std::string status = playbackStatus(state); s.playbackStatus != status) {
                   s.playbackStatus = status;
                   changed.push_back("PlaybackStatus");
               }
           });
    follow(weak, nowPlaying.nowPlayingInfoSubject()->subscribe(),
           [](Snapshot& s, const std::optional<NowPlayingInfo>& info, std::vector<std::string>& changed) {
               if (s.info != info) {
                   s.info = info;
                   changed.push_back("Metadata");
               }
           });
    follow(
        weak, commands.availableCommandsSubject()->subscribe(),
        [](Snapshot& s, const RemoteCommandCenter::CommandSet& available, std::vector<std::string>& changed) {
            for (const auto& property : canProperties) {
                const auto i = static_cast<std::size_t>(property.command);
                if (s.available[i] != available[i]) {
                    changed.push_back(property.name);
                }
            }
            s.available = available;
        });
}

MprisMediaPlayer::MprisMediaPlayer(sdbus::IConnection& connection, NowPlayingInfoCenter& nowPlayingInfoCenter,
                                   RemoteCommandCenter& remoteCommandCenter, Options options)
    : state_(std::make_shared<State>(connection, nowPlayingInfoCenter, remoteCommandCenter,
                                     std::move(options))) {
    {
        const std::lock_guard lock(state_->snapshot->mutex);
        state_->snapshot->playbackStatus = playbackStatus(nowPlayingInfoCenter.playbackState());
        state_->snapshot->info = nowPlayingInfoCenter.nowPlayingInfo();
        state_->snapshot->available = remoteCommandCenter.availableCommandsSubject()->currentValue();
    }
    try {
        state_->registerObject(state_);
        // No replacement either way: a second instance must not take the controls from the first,
        // nor let a later one take them from us.
        connection.requestName(busName);
        state_->ownsName = true;
    } catch (const sdbus::Error& error) {
        // sd-bus reports a name with an owner as EEXIST, under the bus's standard error name.
        if (error.getName() == "org.freedesktop.DBus.Error.FileExists") {
            throw MprisNameTakenError(std::string("the media controls' bus name ") + busName +
                                      " is owned by another instance");
        }
        throw std::runtime_error(std::string("cannot serve the media controls on the bus: ") +
                                 error.getMessage());
    }
    state_->follow(state_);
    SomnaraLogger::log(std::string("Serving the media controls as ") + busName, LogType::info);
}

MprisMediaPlayer::~MprisMediaPlayer() {
    for (const auto& follower : state_->followers) {
        follower.cancel();
    }
    if (state_->ownsName) {
        try {
            state_->connection.releaseName(busName);
        } catch (const sdbus::Error& error) {
            SomnaraLogger::log("Could not release " + std::string(busName) + ": " + error.getMessage(),
                               LogType::error);
        }
    }
}

} // namespace somnara
