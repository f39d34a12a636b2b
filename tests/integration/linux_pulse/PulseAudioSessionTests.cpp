#include "PulseTestServer.hpp"
#include "linux/pulse/PulseServerState.hpp"
#include "support/Recorders.hpp"
#include "support/TestLoop.hpp"

#include <somnara/audio/AudioEngine.hpp>
#include <somnara/linux/pulse/PulseAudioOutput.hpp>
#include <somnara/linux/pulse/PulseAudioSession.hpp>
#include <somnara/runtime/NotificationCenter.hpp>
#include <somnara/runtime/Task.hpp>

#include <gtest/gtest.h>
#include <pulse/def.h>

#include <csignal>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace somnara::test {
namespace {

using namespace std::chrono_literals;
using Reason = AudioSession::RouteChangeReason;

constexpr const char* applicationName = "somnara-session-test";

bool ourSinkInputShows(const char* line) {
    return sinkInputOf(applicationName).find(line) != std::string::npos;
}

/// Every notification the session posts, by name.
class Heard {
public:
    explicit Heard(NotificationCenter& center) {
        for (const char* name :
             {AudioSession::routeChangeNotification, AudioSession::interruptionNotification,
              AudioSession::mediaServicesWereLostNotification,
              AudioSession::mediaServicesWereResetNotification,
              AudioSession::engineConfigurationChangeNotification,
              AudioSession::outputVolumeChangeNotification}) {
            recorders_.try_emplace(name, center.notifications(name));
        }
    }
    std::size_t count(const std::string& name) const { return recorders_.at(name).values.size(); }
    /// What the last notification named `name` holds under `key`.
    std::uint64_t last(const std::string& name, const std::string& key) const {
        const auto& heard = recorders_.at(name).values;
        return heard.empty() ? 0 : std::any_cast<std::uint64_t>(heard.back().userInfo.at(key));
    }

private:
    std::map<std::string, StreamRecorder<Notification>> recorders_;
};

class PulseAudioSessionTest : public LoopTest {
protected:
    void SetUp() override {
        if (!pulseWanted()) {
            GTEST_SKIP() << noPulseMessage;
        }
        registerPulseAudioOutput();
        session = makePulseAudioSession(applicationName);
    }

    /// Activates the session, then plays silence into the default sink, as the player starts its engine.
    void play() {
        session->setActive(true);
        AudioOutputConfiguration configuration;
        configuration.applicationName = applicationName;
        engine = std::make_shared<AudioEngine>(AudioOutput::make("pulse", configuration));
        engine->start();
    }
    void stop() {
        engine->stop();
        session->setActive(false);
    }

    bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 5s) {
        return loop.runUntil(condition, timeout);
    }
    std::string routeUid() const {
        const auto route = session->currentRoute();
        return route.outputs.empty() ? "" : route.outputs.front().uid;
    }

    Heard heard{loop.notificationCenter()};
    std::shared_ptr<AudioSession> session;
    std::shared_ptr<AudioEngine> engine;
};

// Null sinks have no ports, so the kinds of real outputs are checked on the mapping alone.
TEST(PulsePortTypeTest, kindComesFromTheBusThenThePortTypeThenThePortName) {
    struct Case {
        int type;
        const char* port;
        const char* bus;
        const char* kind;
    };
    const Case cases[] = {
        {PA_DEVICE_PORT_TYPE_SPEAKER, "analog-output-speaker", "pci", AudioSessionPort::builtInSpeaker},
        {PA_DEVICE_PORT_TYPE_HEADPHONES, "analog-output-headphones", "pci", AudioSessionPort::headphones},
        {PA_DEVICE_PORT_TYPE_HDMI, "hdmi-output-0", "pci", AudioSessionPort::hdmi},
        {PA_DEVICE_PORT_TYPE_LINE, "analog-output-lineout", "pci", AudioSessionPort::lineOut},
        {PA_DEVICE_PORT_TYPE_ANALOG, "analog-output", "pci", AudioSessionPort::other},
        {PA_DEVICE_PORT_TYPE_UNKNOWN, "analog-output-headphones", "", AudioSessionPort::headphones},
        {PA_DEVICE_PORT_TYPE_UNKNOWN, "Speaker", "", AudioSessionPort::builtInSpeaker},
        {PA_DEVICE_PORT_TYPE_UNKNOWN, "HDMI-Output-1", "", AudioSessionPort::hdmi},
        {PA_DEVICE_PORT_TYPE_UNKNOWN, "a2dp-sink", "", AudioSessionPort::bluetoothA2DP},
        {PA_DEVICE_PORT_TYPE_HEADPHONES, "headphone-output", "bluetooth", AudioSessionPort::bluetoothA2DP},
        {PA_DEVICE_PORT_TYPE_HEADPHONES, "analog-output-headphones", "usb", AudioSessionPort::usbAudio},
        {PA_DEVICE_PORT_TYPE_UNKNOWN, "", "", AudioSessionPort::other},
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(audioSessionPortType(c.type, c.port, c.bus), c.kind) << c.port << " on " << c.bus;
    }
}

// A "phone" stream makes module-role-cork mute us and ask us to cork. Without mixing, that is an
// interruption: our stream is corked until the session is activated again, and the call's end says we
// should resume. Mixing with others, we go on playing and are heard.
TEST_F(PulseAudioSessionTest, aPhoneCallInterruptsUnlessMixingWithOthers) {
    const std::string interruption = AudioSession::interruptionNotification;
    for (const bool mixWithOthers : {false, true}) {
        SCOPED_TRACE(mixWithOthers ? "mixing with others" : "long-form audio");
        session->setCategory(mixWithOthers ? AudioSession::RouteSharingPolicy::defaultPolicy
                                           : AudioSession::RouteSharingPolicy::longFormAudio,
                             mixWithOthers);
        play();
        const std::size_t before = heard.count(interruption);
        PhoneCall call;
        // Once the call is listed, the server has muted us and sent its request.
        ASSERT_TRUE(waitFor(phoneIsListed));
        EXPECT_EQ(waitFor([&] { return heard.count(interruption) > before; }, mixWithOthers ? 500ms : 5s),
                  !mixWithOthers);
        // Mixing, we undo the server's muting and go on; otherwise we stay muted and cork ourselves.
        EXPECT_TRUE(waitFor([&] {
            return mixWithOthers ? ourSinkInputShows("Corked: no") && ourSinkInputShows("Mute: no")
                                 : ourSinkInputShows("Corked: yes") && ourSinkInputShows("Mute: yes");
        }));
        call.hangUp();
        ASSERT_TRUE(waitFor([] { return !phoneIsListed(); }));
        if (mixWithOthers) {
            EXPECT_EQ(heard.count(interruption), before);
        } else {
            ASSERT_TRUE(waitFor([&] { return heard.count(interruption) == before + 2; }));
            EXPECT_EQ(heard.last(interruption, AudioSession::interruptionTypeKey),
                      static_cast<std::uint64_t>(AudioSession::InterruptionType::ended));
            EXPECT_EQ(heard.last(interruption, AudioSession::interruptionOptionKey),
                      AudioSession::interruptionOptionShouldResume);
            EXPECT_TRUE(ourSinkInputShows("Corked: yes"));
            session->setActive(true);
            EXPECT_TRUE(waitFor([] { return ourSinkInputShows("Corked: no"); }));
        }
        stop();
    }
}

// The route is the sink our stream plays on and the volume is that sink's; what the server does to
// them, and to the stream, is announced.
TEST_F(PulseAudioSessionTest, routeVolumeAndStreamFollowTheServer) {
    std::system("pactl set-sink-volume out2 100% && pactl set-sink-mute out2 0");
    const std::string out3 =
        shellOutput("pactl load-module module-null-sink sink_name=out3 rate=48000 norewinds=1");
    ASSERT_FALSE(out3.empty());
    EXPECT_EQ(routeUid(), "out"); // the default sink, before a stream exists
    EXPECT_EQ(session->outputVolume(), 1.0F);
    play();
    const std::string input = std::to_string(std::atoi(sinkInputOf(applicationName).c_str()));
    // The server drops the stream (pactl cannot; pacmd through the command-line module can).
    const std::string dropStream =
        "m=$(pactl load-module module-cli-protocol-unix) && pacmd kill-sink-input " + input +
        " && pactl unload-module $m";

    const std::string route = AudioSession::routeChangeNotification;
    const std::string volume = AudioSession::outputVolumeChangeNotification;
    const std::string rebuild = AudioSession::engineConfigurationChangeNotification;
    struct Step {
        std::string command;
        std::string notification;
        Reason reason;
        std::string sink;
        float volume;
        /// Engine rebuilds asked for so far.
        std::size_t rebuilds;
    };
    const Step steps[] = {
        {"pactl move-sink-input " + input + " out2", route, Reason::newDeviceAvailable, "out2", 1.0F, 0},
        {"pactl set-sink-volume out2 50%", volume, {}, "out2", 0.5F, 0},
        {"pactl set-sink-mute out2 1", volume, {}, "out2", 0.0F, 0},
        {"pactl set-sink-mute out2 0", volume, {}, "out2", 0.5F, 0},
        // out3 runs at another rate.
        {"pactl move-sink-input " + input + " out3", route, Reason::newDeviceAvailable, "out3", 1.0F, 1},
        // The server rescues a stream whose sink goes away to the default sink.
        {"pactl unload-module " + out3, route, Reason::oldDeviceUnavailable, "out", 1.0F, 2},
        {dropStream, rebuild, {}, "out", 1.0F, 3},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.command);
        const std::size_t before = heard.count(step.notification);
        ASSERT_EQ(std::system((step.command + " >/dev/null").c_str()), 0);
        ASSERT_TRUE(waitFor([&] { return heard.count(step.notification) > before; }));
        if (step.notification == route) {
            EXPECT_EQ(heard.last(route, AudioSession::routeChangeReasonKey),
                      static_cast<std::uint64_t>(step.reason));
        }
        EXPECT_EQ(routeUid(), step.sink);
        EXPECT_EQ(session->outputVolume(), step.volume);
        EXPECT_EQ(heard.count(rebuild), step.rebuilds);
    }
    stop();
    std::system("pactl set-sink-volume out2 100%");
}

// Losing the server is announced; the session finds a restarted server by itself, and playing works
// again in the same process.
TEST_F(PulseAudioSessionTest, aRestartedServerIsFoundAgain) {
    play();
    int pid = 0;
    std::ifstream{std::string{std::getenv("XDG_RUNTIME_DIR")} + "/pulse/pid"} >> pid;
    ASSERT_GT(pid, 0);
    ASSERT_EQ(kill(pid, SIGTERM), 0);
    ASSERT_TRUE(waitFor([&] {
        return heard.count(AudioSession::mediaServicesWereLostNotification) == 1 &&
               heard.count(AudioSession::engineConfigurationChangeNotification) == 1;
    }));
    stop();
    try {
        session->setActive(true);
        ADD_FAILURE() << "activated without a server";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), make_error_code(AudioOutputErrc::serverUnreachable));
    }
    ASSERT_TRUE(waitFor([&] { return kill(pid, 0) != 0; }));
    ASSERT_EQ(
        std::system("bash -c 'source " SOMNARA_SOURCE_DIR "/scripts/services.sh && services_start_pulse'"),
        0);

    // The session tries again on the loop's clock, backing off.
    bool reset = false;
    for (int second = 0; second < 30 && !reset; ++second) {
        loop.advance(1s);
        reset = loop.runUntil(
            [&] { return heard.count(AudioSession::mediaServicesWereResetNotification) == 1; }, 250ms);
    }
    ASSERT_TRUE(reset);
    EXPECT_EQ(heard.count(AudioSession::mediaServicesWereLostNotification), 1U);
    EXPECT_TRUE(waitFor([&] { return routeUid() == "out"; }));
    play();
    EXPECT_TRUE(waitFor([&] { return engine->output().framesRendered() > 11'025; }));
    stop();
}

} // namespace
} // namespace somnara::test
