#include "linux/pulse/PulseServerState.hpp"
#include "linux/pulse/PulseStreamLink.hpp"

#include <somnara/linux/pulse/PulseAudioSession.hpp>
#include <somnara/platform/AudioOutput.hpp>
#include <somnara/runtime/Loop.hpp>
#include <somnara/runtime/NotificationCenter.hpp>

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <any>
#include <map>
#include <optional>
#include <system_error>
#include <utility>

namespace somnara {

namespace {

// A restarted server is usually back within a second; a missing one is asked again every few seconds.
constexpr Seconds firstRetry{0.25};
constexpr Seconds longestRetry{4.0};

void release(pa_operation* operation) {
    if (operation != nullptr) {
        pa_operation_unref(operation);
    }
}

/// The audio session over PulseAudio (see `makePulseAudioSession`). It keeps a connection of its own to
/// the server for the server's state (sinks, default sink) and hears of our stream through the
/// `PulseStreamLink`.
///
/// Threads: loop only. Its connection's callbacks run on its own libpulse thread and post what they
/// learn to the loop; the fields of `Connection` belong to that thread.
class PulseAudioSession final : public AudioSession,
                                private PulseStreamLink::Listener,
                                public std::enable_shared_from_this<PulseAudioSession> {
public:
    PulseAudioSession(Loop& loop, std::string applicationName)
        : loop_(loop), applicationName_(std::move(applicationName)), mainloop_(pa_threaded_mainloop_new()) {}

    ~PulseAudioSession() override {
        PulseStreamLink::shared().removeListener(*this);
        if (retry_) {
            loop_.cancelTimer(*retry_);
        }
        pa_threaded_mainloop_lock(mainloop_);
        closeConnection();
        pa_threaded_mainloop_unlock(mainloop_);
        pa_threaded_mainloop_stop(mainloop_);
        pa_threaded_mainloop_free(mainloop_);
    }

    PulseAudioSession(const PulseAudioSession&) = delete;
    PulseAudioSession& operator=(const PulseAudioSession&) = delete;

    /// Connects and waits for the server's first answer; without a server, tries again later.
    void start() {
        PulseStreamLink::shared().setListener(*this);
        if (pa_threaded_mainloop_start(mainloop_) < 0) {
            throw std::system_error(make_error_code(AudioOutputErrc::deviceFailed),
                                    "PulseAudio: cannot start the session's thread");
        }
        pa_threaded_mainloop_lock(mainloop_);
        connect();
        const Connection& connection = *connection_;
        pa_context_state_t state;
        while ((state = pa_context_get_state(connection.context)) != PA_CONTEXT_READY &&
               PA_CONTEXT_IS_GOOD(state)) {
            pa_threaded_mainloop_wait(mainloop_);
        }
        while (!connection.latest && pa_context_get_state(connection.context) == PA_CONTEXT_READY) {
            pa_threaded_mainloop_wait(mainloop_);
        }
        connected_ = connection.latest.has_value();
        if (connected_) {
            server_ = *connection.latest;
        }
        pa_threaded_mainloop_unlock(mainloop_);
        volume_ = outputVolume();
        if (!connected_) {
            disconnected(generation_);
        }
    }

    void setCategory(RouteSharingPolicy, bool mixWithOthers) override {
        honourCorkRequests_ = !mixWithOthers;
    }

    void setActive(bool active) override {
        if (!active) {
            interrupted_ = false;
            if (PulseStreamLink::shared().hasStream() && !streamCorked_) {
                cork(true);
            }
            return;
        }
        if (!connected_) {
            // Someone wants to play: try again now rather than at the end of the back-off.
            if (retry_) {
                loop_.cancelTimer(*retry_);
                retry_.reset();
                reconnect();
            }
            throw std::system_error(make_error_code(AudioOutputErrc::serverUnreachable),
                                    "PulseAudio: no sound server answers");
        }
        interrupted_ = false;
        if (streamCorked_) {
            cork(false);
        }
    }

    AudioSessionRouteDescription currentRoute() const override {
        AudioSessionRouteDescription route;
        if (const PulseSink* sink = routeSink()) {
            route.outputs.push_back(sink->output());
        }
        return route;
    }

    float outputVolume() const override {
        const PulseSink* sink = routeSink();
        return sink != nullptr ? sink->volume : 0.0F;
    }

private:
    /// One connection to the server, made afresh at each try. Its callbacks keep the server's state
    /// and post it, with the connection's generation, to the loop.
    ///
    /// Threads: libpulse's, or the loop holding the main loop's lock.
    struct Connection {
        std::weak_ptr<PulseAudioSession> session;
        Loop* loop = nullptr;
        pa_threaded_mainloop* mainloop = nullptr;
        std::uint64_t generation = 0;
        pa_context* context = nullptr;
        bool refreshing = false;
        /// Reads started; the one under way, if any, is the last.
        std::uint64_t reads = 0;
        bool refreshAgain = false;
        PulseServerState reading;
        std::optional<PulseServerState> latest;

        template <class Handler>
        void post(Handler handler) const {
            loop->post([session = session, generation = generation, handler = std::move(handler)]() mutable {
                if (auto owner = session.lock()) {
                    handler(*owner, generation);
                }
            });
        }
    };

    // Loop, holding the main loop's lock: replaces the connection by a new one, connecting.
    void connect() {
        closeConnection();
        connection_ = std::make_unique<Connection>();
        Connection& connection = *connection_;
        connection.session = weak_from_this();
        connection.loop = &loop_;
        connection.mainloop = mainloop_;
        connection.generation = ++generation_;
        pa_proplist* properties = pa_proplist_new();
        pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, applicationName_.c_str());
        connection.context = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(mainloop_),
                                                          applicationName_.c_str(), properties);
        pa_proplist_free(properties);
        pa_context_set_state_callback(connection.context, &PulseAudioSession::contextChanged, &connection);
        pa_context_set_subscribe_callback(connection.context, &PulseAudioSession::serverChanged, &connection);
        // Never start a server of our own; one that is not there is waited for.
        if (pa_context_connect(connection.context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            connection.post([](PulseAudioSession& session, std::uint64_t generation) {
                session.disconnected(generation);
            });
        }
    }

    // Loop, holding the main loop's lock.
    void closeConnection() noexcept {
        if (connection_ != nullptr && connection_->context != nullptr) {
            pa_context_set_state_callback(connection_->context, nullptr, nullptr);
            pa_context_set_subscribe_callback(connection_->context, nullptr, nullptr);
            pa_context_disconnect(connection_->context);
            pa_context_unref(connection_->context);
        }
        connection_.reset();
    }

    void reconnect() {
        pa_threaded_mainloop_lock(mainloop_);
        connect();
        pa_threaded_mainloop_unlock(mainloop_);
    }

    /// Asks the server for its state again; returns the number of the first read that starts after
    /// this call, none without a connection. A read already under way may predate what we have seen.
    std::optional<std::uint64_t> refresh() {
        std::optional<std::uint64_t> answeredBy;
        pa_threaded_mainloop_lock(mainloop_);
        if (connection_ != nullptr && pa_context_get_state(connection_->context) == PA_CONTEXT_READY) {
            const bool underWay = connection_->refreshing;
            read(*connection_);
            if (connection_->refreshing) {
                answeredBy = connection_->reads + (underWay ? 1 : 0);
            }
        }
        pa_threaded_mainloop_unlock(mainloop_);
        return answeredBy;
    }

    // Loop: what the connection reports.

    void connected(std::uint64_t generation) {
        if (generation != generation_) {
            return;
        }
        connected_ = true;
        retryDelay_ = firstRetry;
        if (std::exchange(lost_, false)) {
            post(mediaServicesWereResetNotification);
        }
    }

    void disconnected(std::uint64_t generation) {
        if (generation != generation_ || retry_) {
            return;
        }
        if (movedFrom_) {
            routeMoved();
        }
        if (std::exchange(connected_, false)) {
            lost_ = true;
            post(mediaServicesWereLostNotification);
        }
        const auto delay = retryDelay_;
        retryDelay_ = std::min(retryDelay_ * 2, longestRetry);
        retry_ = loop_.addTimer(loop_.continuousNow() +
                                    std::chrono::duration_cast<std::chrono::nanoseconds>(delay),
                                delay / 4, [session = weak_from_this()] {
                                    if (auto owner = session.lock()) {
                                        owner->retry_.reset();
                                        owner->reconnect();
                                    }
                                });
    }

    void stateArrived(std::uint64_t generation, std::uint64_t read, PulseServerState state) {
        if (generation != generation_) {
            return;
        }
        const std::string before = routeSinkName();
        const PulseSink* previousSink = routeSink();
        const std::string previousPort = previousSink != nullptr ? previousSink->port : "";
        const bool hadSink = previousSink != nullptr;
        server_ = std::move(state);
        const PulseSink* sink = routeSink();
        if (movedFrom_) {
            if (read >= moveAnsweredBy_) {
                routeMoved();
            }
        } else if (routeSinkName() != before) {
            // Without a stream of ours the route follows the default sink.
            postRouteChange(leftBehind(before));
        } else if (hadSink && sink != nullptr && sink->port != previousPort) {
            postRouteChange(sink->isPortUnavailable(previousPort) ? RouteChangeReason::oldDeviceUnavailable
                                                                  : RouteChangeReason::newDeviceAvailable);
        }
        noteVolume();
        noteRate();
    }

    // Loop: what the link reports of the output's stream.

    void streamAttached(const std::string& sinkName) override {
        streamSink_ = sinkName;
        streamCorked_ = false;
        interrupted_ = false;
        movedFrom_.reset();
        const PulseSink* sink = routeSink();
        streamSinkRate_ = sink != nullptr ? sink->rate : 0;
        noteVolume();
    }

    void streamDetached() override {
        streamSink_.reset();
        streamCorked_ = false;
        interrupted_ = false;
        movedFrom_.reset();
        streamSinkRate_ = 0;
        noteVolume();
    }

    void streamEvent(PulseStreamLink::Event event, const std::string& sinkName) override {
        switch (event) {
        case PulseStreamLink::Event::corkRequested:
            if (!honourCorkRequests_) {
                // Module-role-cork mutes us as it asks; mixing with others, we go on being heard.
                PulseStreamLink::shared().unmute();
                return;
            }
            if (interrupted_) {
                return;
            }
            interrupted_ = true;
            // Module-role-cork uncorks us later only if we really corked.
            cork(true);
            post(interruptionNotification,
                 {{interruptionTypeKey, static_cast<std::uint64_t>(InterruptionType::began)}});
            return;
        case PulseStreamLink::Event::uncorkRequested:
            if (!std::exchange(interrupted_, false)) {
                return;
            }
            // The stream stays corked until the player activates the session again.
            post(interruptionNotification,
                 {{interruptionTypeKey, static_cast<std::uint64_t>(InterruptionType::ended)},
                  {interruptionOptionKey, interruptionOptionShouldResume}});
            return;
        case PulseStreamLink::Event::moved:
            if (streamSink_ == sinkName) {
                return;
            }
            if (!movedFrom_) {
                movedFrom_ = streamSink_.value_or("");
            }
            streamSink_ = sinkName;
            // The sink's details, and whether the old one is gone, come with the server's next answer.
            if (const auto answeredBy = refresh()) {
                moveAnsweredBy_ = *answeredBy;
            } else {
                routeMoved();
            }
            return;
        case PulseStreamLink::Event::failed:
            post(engineConfigurationChangeNotification);
            return;
        }
    }

    // Loop: helpers.

    std::string routeSinkName() const { return streamSink_ ? *streamSink_ : server_.defaultSink; }
    const PulseSink* routeSink() const { return server_.find(routeSinkName()); }

    RouteChangeReason leftBehind(const std::string& sinkName) const {
        return server_.find(sinkName) != nullptr ? RouteChangeReason::newDeviceAvailable
                                                 : RouteChangeReason::oldDeviceUnavailable;
    }

    void routeMoved() {
        const std::string from = std::exchange(movedFrom_, std::nullopt).value_or("");
        postRouteChange(leftBehind(from));
    }

    void noteVolume() {
        // A sink the server has not described yet (a move ahead of the server's answer) has no volume yet.
        if (routeSink() == nullptr) {
            return;
        }
        const float volume = outputVolume();
        if (volume != volume_) {
            volume_ = volume;
            post(outputVolumeChangeNotification);
        }
    }

    void noteRate() {
        const PulseSink* sink = streamSink_ ? routeSink() : nullptr;
        if (sink == nullptr) {
            return;
        }
        if (streamSinkRate_ != 0 && sink->rate != streamSinkRate_) {
            post(engineConfigurationChangeNotification);
        }
        streamSinkRate_ = sink->rate;
    }

    void cork(bool corked) {
        PulseStreamLink::shared().setCorked(corked);
        streamCorked_ = corked;
    }

    void postRouteChange(RouteChangeReason reason) {
        post(routeChangeNotification, {{routeChangeReasonKey, static_cast<std::uint64_t>(reason)}});
    }

    void post(const char* name, std::map<std::string, std::any> userInfo = {}) {
        loop_.notificationCenter().post(Notification{name, std::move(userInfo)});
    }

    // libpulse's thread, holding the main loop's lock.

    static void contextChanged(pa_context* context, void* data) {
        auto& connection = *static_cast<Connection*>(data);
        switch (pa_context_get_state(context)) {
        case PA_CONTEXT_READY:
            release(pa_context_subscribe(
                context,
                static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SERVER),
                nullptr, nullptr));
            read(connection);
            connection.post(
                [](PulseAudioSession& session, std::uint64_t generation) { session.connected(generation); });
            break;
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            connection.post([](PulseAudioSession& session, std::uint64_t generation) {
                session.disconnected(generation);
            });
            break;
        default:
            break;
        }
        pa_threaded_mainloop_signal(connection.mainloop, 0);
    }

    static void serverChanged(pa_context*, pa_subscription_event_type_t, std::uint32_t, void* data) {
        read(*static_cast<Connection*>(data));
    }

    // Reads the default sink, then every sink; a change while reading reads again afterwards.
    static void read(Connection& connection) {
        if (connection.refreshing) {
            connection.refreshAgain = true;
            return;
        }
        connection.reading = {};
        ++connection.reads;
        pa_operation* operation = pa_context_get_server_info(connection.context, &serverRead, &connection);
        connection.refreshing = operation != nullptr;
        release(operation);
    }

    static void serverRead(pa_context* context, const pa_server_info* info, void* data) {
        auto& connection = *static_cast<Connection*>(data);
        if (info != nullptr && info->default_sink_name != nullptr) {
            connection.reading.defaultSink = info->default_sink_name;
        }
        pa_operation* operation = pa_context_get_sink_info_list(context, &sinkRead, &connection);
        connection.refreshing = operation != nullptr;
        release(operation);
    }

    static void sinkRead(pa_context*, const pa_sink_info* info, int eol, void* data) {
        auto& connection = *static_cast<Connection*>(data);
        if (eol == 0 && info != nullptr) {
            connection.reading.sinks.push_back(PulseSink::from(*info));
            return;
        }
        connection.refreshing = false;
        if (eol > 0) {
            connection.latest = connection.reading;
            connection.post([number = connection.reads, state = connection.reading](
                                PulseAudioSession& session, std::uint64_t generation) {
                session.stateArrived(generation, number, state);
            });
            pa_threaded_mainloop_signal(connection.mainloop, 0);
        }
        if (std::exchange(connection.refreshAgain, false)) {
            read(connection);
        }
    }

    // Immutable after construction.
    Loop& loop_;
    const std::string applicationName_;
    pa_threaded_mainloop* const mainloop_;
    // Loop only; the connection is replaced under the main loop's lock.
    std::unique_ptr<Connection> connection_;
    std::uint64_t generation_ = 0;
    bool connected_ = false;
    /// Media services lost was posted and reset not yet.
    bool lost_ = false;
    Seconds retryDelay_ = firstRetry;
    std::optional<Loop::TimerId> retry_;
    PulseServerState server_;
    float volume_ = 0;
    bool honourCorkRequests_ = true;
    /// We corked our stream on the server's request and have not heard the end of it.
    bool interrupted_ = false;
    bool streamCorked_ = false;
    /// The sink our stream plays on, while it exists.
    std::optional<std::string> streamSink_;
    /// Where our stream was before a move the route change has not been posted for.
    std::optional<std::string> movedFrom_;
    /// The read of the server's state that tells where the stream went.
    std::uint64_t moveAnsweredBy_ = 0;
    std::uint32_t streamSinkRate_ = 0;
};

} // namespace

std::shared_ptr<AudioSession> makePulseAudioSession(const std::string& applicationName) {
    auto session = std::make_shared<PulseAudioSession>(Loop::current(), applicationName);
    session->start();
    return session;
}

} // namespace somnara
