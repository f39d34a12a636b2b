#include "unit/player/NoisePlayerFixture.hpp"

#include <gmock/gmock.h>

#include <functional>

namespace somnara::test {
namespace {

using State = NoisePlayerState;
const SoundTrack rain = SoundTrack::rain;
const SoundTrack waves = SoundTrack::waves;

// Each command in a state where it has nothing to do only logs; the others walk the state machine.
TEST(NoisePlayer, CommandsFollowTheStateMachine) {
    using Action = std::function<void(NoisePlayerHarness&)>;
    const Action play = [](NoisePlayerHarness& t) { t.finish(t.player->play(false)); };
    const Action pause = [](NoisePlayerHarness& t) { t.finish(t.player->pause()); };
    const Action stopIn2 = [](NoisePlayerHarness& t) { t.finish(t.player->stop(2)); };
    const Action sleepFade = [](NoisePlayerHarness& t) { t.finish(t.player->startSleepFadeOut(5)); };
    const Action refuseSession = [](NoisePlayerHarness& t) {
        t.session->activationFailure = std::make_error_code(std::errc::connection_refused);
    };
    struct Case {
        const char* name;
        std::vector<Action> actions;
        std::vector<State> published;
        const char* line;
    };
    const std::vector<Case> cases{
        {"play while playing", {play, play}, {State::stopped(), State::playing()}, "Already playing"},
        {"pause while stopped", {pause}, {State::stopped()}, "Already stopped"},
        {"stop while stopped", {stopIn2}, {State::stopped()}, "Already stopped"},
        {"sleep fade while stopped",
         {sleepFade},
         {State::stopped()},
         "Not in correct state to do sleep fade out"},
        {"stop from interrupted",
         {play, pause, stopIn2},
         {State::stopped(), State::playing(), State::interrupted(), State::stopping(2), State::stopped()},
         "State Changed To stopping(length: 2.0)"},
        {"sleep fade while playing",
         {play, sleepFade},
         {State::stopped(), State::playing(), State::sleepFadeOut(5)},
         "Sleep fade done"},
        // A failed start is reported and stops.
        {"play failing to start",
         {refuseSession, play},
         {State::stopped(), State::playing(), State::stopping(0), State::stopped()},
         "Error starting engine"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NoisePlayerHarness t;
        t.start(NoisePlayerHarness::selecting({rain}));
        for (const auto& action : c.actions) {
            action(t);
        }
        EXPECT_EQ(t.states->values, c.published);
        EXPECT_EQ(t.count(c.line), 1U);
        EXPECT_EQ(t.assertions.size(), t.count("Error starting engine"));
        // The engine runs once started, unless starting it failed.
        EXPECT_EQ(t.player->engine().isRunning(), c.published.size() > 1 && t.assertions.empty());
    }
}

TEST(NoisePlayer, MutedVolumesAreReportedWhenPlaybackStarts) {
    struct Case {
        float system;
        float app;
        std::vector<std::string> events;
    };
    const std::vector<Case> cases{
        {0.0F, 1.0F, {"started_playback_with_volume_muted"}},
        {0.0F, 0.0F, {"started_playback_with_volume_muted", "started_playback_with_app_volume_muted"}},
        {1.0F, 0.0F, {"started_playback_with_app_volume_muted"}},
        {0.01F, 1.0F, {}},
    };
    for (const auto& c : cases) {
        NoisePlayerHarness t;
        NoisePlayerSettings stored = NoisePlayerHarness::selecting({rain});
        stored.soundSettings.volume = c.app;
        t.start(stored);
        t.session->changeVolume(c.system);
        t.finish(t.player->play(false));
        EXPECT_EQ(t.eventNames(), c.events) << c.system << " " << c.app;
    }
}

// The sleep timer on virtual time: what is published each second, when the final fade starts, and how
// it ends whatever happens to the player meanwhile.
TEST(NoisePlayer, SleepTimerCountsDownFadesAndStops) {
    NoisePlayerHarness t;
    NoisePlayerSettings stored = NoisePlayerHarness::selecting({rain});
    stored.fadeTiming.sleepEnd = 15;
    t.start(stored);
    StreamRecorder<std::optional<double>> remaining(t.player->sleepTimeRemainingSubject());
    t.finish(t.player->startSleepTimer(60));
    t.wait(44);
    EXPECT_EQ(t.player->state(), State::playing());
    EXPECT_TRUE(t.player->oscillator()->isRunning());
    EXPECT_TRUE(t.session->active);
    EXPECT_EQ(t.player->sessionState(), NoisePlayer::SessionState::active);
    ASSERT_TRUE(t.center.nowPlayingInfo()->playbackDuration);
    // The time left as of the last update, when the start fade (two seconds) ended.
    EXPECT_NEAR(*t.center.nowPlayingInfo()->playbackDuration, 58, 0.1);
    t.wait(2);
    EXPECT_EQ(t.player->state(), State::sleepFadeOut(15));
    t.wait(15);
    EXPECT_EQ(t.player->state(), State::stopped());
    EXPECT_FALSE(t.player->sleepTimerEndDate());
    EXPECT_FALSE(t.center.nowPlayingInfo()->playbackDuration);
    // A present 0 first, then the absent value of the start's clearing, then about 60, 59 ... 0.
    ASSERT_GE(remaining.values.size(), 62U);
    EXPECT_EQ(remaining.values[1], std::nullopt);
    EXPECT_NEAR(remaining.values[3].value_or(-1), 59, 0.2);
    EXPECT_EQ(remaining.values.back(), std::nullopt);
    // Every tick inside the fade asks for it again, and the player only logs.
    EXPECT_GE(t.count("Not in correct state to do sleep fade out"), 10U);
}

// Each step acts, lets time pass, and checks the state, whether a timer is still set, and that playing
// is at full volume again.
TEST(NoisePlayer, SleepTimerEdgeCases) {
    using H = NoisePlayerHarness;
    using Act = std::function<void(H&)>;
    const auto timer = [](double length) {
        return Act([=](H& t) { t.finish(t.player->startSleepTimer(length)); });
    };
    const Act cancel = [](H& t) { t.finish(t.player->cancelSleepTimer()); };
    const Act stop = [](H& t) { t.finish(t.player->stop(0.5)); };
    const Act suspend = [](H& t) { t.loop.suspend(Seconds{3'600}); };
    const Act none = [](H&) {};
    const State playing = State::playing(), fading = State::sleepFadeOut(15), stopped = State::stopped();
    struct Step {
        Act act;
        double wait;
        State state;
        bool timerSet;
    };
    const std::vector<std::pair<const char*, std::vector<Step>>> cases{
        {"shorter than the final fade: fades from the first tick",
         {{timer(5), 1.05, fading, true}, {none, 4, stopped, false}}},
        {"cancelled during the fade: the sound comes back",
         {{timer(20), 10, fading, true}, {cancel, 3, playing, false}}},
        {"replaced: only the new end counts",
         {{timer(20), 2.1, playing, true}, {timer(60), 30, playing, true}, {none, 31, stopped, false}}},
        {"stopped by the user: the timer clears itself at its end",
         {{timer(30), 3, playing, true}, {stop, 10, stopped, true}, {none, 20, stopped, false}}},
        {"ended during a suspend: stops at the first tick after",
         {{timer(600), 5, playing, true}, {suspend, 1.1, stopped, false}}},
    };
    for (const auto& [name, steps] : cases) {
        NoisePlayerHarness t;
        NoisePlayerSettings stored = NoisePlayerHarness::selecting({rain});
        stored.fadeTiming.sleepEnd = 15;
        t.start(stored);
        for (std::size_t index = 0; index < steps.size(); ++index) {
            SCOPED_TRACE(std::string(name) + ", step " + std::to_string(index));
            steps[index].act(t);
            t.wait(steps[index].wait);
            EXPECT_EQ(t.player->state(), steps[index].state);
            EXPECT_EQ(t.player->sleepTimerEndDate().has_value(), steps[index].timerSet);
            EXPECT_EQ(t.player->sleepTimeRemainingSubject()->currentValue().has_value(),
                      steps[index].timerSet);
            if (steps[index].state == playing) {
                EXPECT_FLOAT_EQ(t.volumeOf(rain), 1.0F);
            }
        }
    }
}

// Interruptions, route changes and the sound server going away, as the scripted session reports them.
TEST(NoisePlayer, SessionEventsPauseResumeAndStop) {
    using Script = std::function<void(NoisePlayerHarness&)>;
    const AudioSessionPortDescription speaker{AudioSessionPort::builtInSpeaker, "Speaker", "speaker"};
    const AudioSessionPortDescription headphones{AudioSessionPort::headphones, "Headphones", "headphones"};
    using Reason = AudioSession::RouteChangeReason;
    using Type = AudioSession::InterruptionType;
    struct Case {
        const char* name;
        Script script;
        State expected;
        const char* line;
    };
    using Ports = std::vector<AudioSessionPortDescription>;
    // A first route, a tenth of a second, then a second one.
    const auto reroute = [](Ports first, Reason firstReason, Ports second, Reason secondReason) {
        return Script([=](NoisePlayerHarness& t) {
            t.session->changeRoute(first, firstReason);
            t.wait(0.1);
            t.session->changeRoute(second, secondReason);
        });
    };
    // An interruption with its end, with the always-resume date that many seconds from now.
    const auto interruption = [](std::optional<double> alwaysResumeIn, std::optional<std::uint64_t> options) {
        return Script([=](NoisePlayerHarness& t) {
            if (alwaysResumeIn) {
                t.player->setAlwaysResumeFromInterruptsUntil(
                    t.loop.now().addingTimeInterval(*alwaysResumeIn));
            }
            t.session->interrupt(Type::began);
            t.session->interrupt(Type::ended, options);
        });
    };
    const std::vector<Case> cases{
        {"headphones pulled out stop at once",
         reroute({headphones}, Reason::newDeviceAvailable, {speaker}, Reason::oldDeviceUnavailable),
         State::stopped(), "Stopping audio as new route contains speaker"},
        {"from the speaker a new route never stops",
         reroute({headphones, speaker}, Reason::categoryChange, {speaker}, Reason::oldDeviceUnavailable),
         State::playing(), "Route changed"},
        {"the first route change only records",
         [&](NoisePlayerHarness& t) { t.session->changeRoute({speaker}, Reason::oldDeviceUnavailable); },
         State::playing(), "Route changed"},
        {"an override changes nothing",
         reroute({headphones}, Reason::newDeviceAvailable, {speaker}, Reason::override_), State::playing(),
         "Route change reason was override. Not doing anything"},
        {"an interruption pauses, its end with should-resume plays again",
         [](NoisePlayerHarness& t) {
             t.session->interrupt(Type::began);
             t.wait(0.1);
             EXPECT_EQ(t.player->state(), State::interrupted());
             t.session->interrupt(Type::ended, AudioSession::interruptionOptionShouldResume);
             t.wait(0.6);
             EXPECT_FLOAT_EQ(t.volumeOf(rain), 1.0F);
         },
         State::playing(), "Should resume"},
        {"an interruption's end without should-resume stops", interruption(std::nullopt, 0), State::stopped(),
         "Interrupt Ended"},
        {"a passed always-resume date resumes all the same", interruption(-1, std::nullopt), State::playing(),
         "Should resume as always resume date is "},
        {"a future always-resume date does not", interruption(60, std::nullopt), State::stopped(),
         "Interrupt Ended"},
        {"an interruption while the session is inactive is left alone",
         [](NoisePlayerHarness& t) {
             t.finish(t.player->stopEngine());
             t.session->interrupt(Type::began);
         },
         State::playing(), "Not stopping as session state is inactive"},
        {"the sound server lost stops",
         [](NoisePlayerHarness&) {
             ScriptedAudioSession::post(AudioSession::mediaServicesWereLostNotification, {});
         },
         State::stopped(), "Media services were lost"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NoisePlayerHarness t;
        t.start(NoisePlayerHarness::selecting({rain}));
        t.finish(t.player->play(false));
        c.script(t);
        t.wait(1);
        EXPECT_EQ(t.player->state(), c.expected);
        EXPECT_GE(t.count(c.line), 1U);
    }
}

// A route change is reported, mixing with others reaches the session and the settings, and a configuration
// change rebuilds the graph with new nodes, silent until the next command starts them.
TEST(NoisePlayer, SessionChangesReachTheSessionAndTheGraph) {
    NoisePlayerHarness t;
    t.start(NoisePlayerHarness::selecting({rain}));
    t.session->changeRoute({{AudioSessionPort::headphones, "Headphones", "h"}},
                           AudioSession::RouteChangeReason::override_);
    t.loop.runUntilIdle();
    ASSERT_EQ(t.events.size(), 1U);
    EXPECT_EQ(t.events[0].name, "audio_route_changed");
    EXPECT_EQ(t.events[0].parameters.value_or(nlohmann::json{})["output_port"], "Headphones");

    EXPECT_EQ(t.session->policy, AudioSession::RouteSharingPolicy::longFormAudio);
    t.perform([&t]() { return t.player->setAudioAllowsMixWithOthers(true); });
    EXPECT_EQ(t.session->policy, AudioSession::RouteSharingPolicy::defaultPolicy);
    EXPECT_TRUE(t.session->mixWithOthers);
    EXPECT_TRUE(t.settingsStore->noisePlayerSettingsSubject()->currentValue()->audioAllowsMixWithOthers);

    t.finish(t.player->play(false));
    const auto before = t.player->players().at(rain);
    ScriptedAudioSession::post(AudioSession::engineConfigurationChangeNotification, {});
    t.wait(0.1);
    EXPECT_NE(t.player->players().at(rain), before);
    EXPECT_TRUE(t.player->isEngineConfigured());
    EXPECT_EQ(t.player->sessionState(), NoisePlayer::SessionState::inactive);
    EXPECT_FALSE(t.isPlaying(rain));
    t.finish(t.player->stop(0));
    t.finish(t.player->play(false));
    EXPECT_TRUE(t.isPlaying(rain));
    EXPECT_TRUE(t.player->engine().isRunning());
}

// Following the collection while playing: which fade each change gets.
TEST(NoisePlayer, SelectionChangesFadeAsTheirKindSays) {
    using Volumes = std::vector<std::pair<SoundTrack, float>>;
    struct Case {
        const char* name;
        NoisePlayerSettings stored;
        std::function<asio::awaitable<void>(SoundTracksCollection&)> change;
        double halfway;
        Volumes volumesHalfway;
        Volumes volumesAfter;
    };
    const std::vector<Case> cases{
        {"a removed sound fades out over remove",
         NoisePlayerHarness::selecting({rain, waves}),
         [](SoundTracksCollection& c) -> asio::awaitable<void> { co_await c.remove(waves); },
         0.25,
         {{rain, 1.0F}, {waves, 0.5F}},
         {{rain, 1.0F}, {waves, 0.0F}}},
        {"adds and removes together each take their own fade",
         NoisePlayerHarness::selecting({rain, waves}),
         [](SoundTracksCollection& c) -> asio::awaitable<void> {
             co_await c.add(SoundTrack::fan);
             co_await c.add(SoundTrack::thunder);
             co_await c.remove(rain);
             co_await c.remove(waves);
         },
         0.25,
         {{rain, 0.5F}, {SoundTrack::fan, 0.25F}},
         {{rain, 0.0F}, {SoundTrack::thunder, 1.0F}}},
        {"a mode switch sets the mix volumes at once",
         NoisePlayerHarness::selecting({rain}, SelectionMode::single)
             .withSoundTracksMixVolume({{rain, 0.4F}}),
         [](SoundTracksCollection& c) { return c.setSelectionMode(SelectionMode::multiple); },
         0.0,
         {{rain, 0.4F}},
         {{rain, 0.4F}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NoisePlayerHarness t;
        t.start(c.stored);
        t.finish(t.player->play(false));
        t.perform([&]() { return c.change(*t.collection); });
        t.wait(c.halfway);
        for (const auto& [soundTrack, volume] : c.volumesHalfway) {
            EXPECT_NEAR(t.volumeOf(soundTrack), volume, 0.04) << soundTrack.identifier();
        }
        t.wait(3);
        for (const auto& [soundTrack, volume] : c.volumesAfter) {
            EXPECT_FLOAT_EQ(t.volumeOf(soundTrack), volume) << soundTrack.identifier();
            EXPECT_EQ(t.isPlaying(soundTrack), volume > 0) << soundTrack.identifier();
        }
    }
}

TEST(NoisePlayer, NowPlayingAndVolumesFollowTheSelectionWhileStopped) {
    NoisePlayerHarness t;
    t.start(NoisePlayerHarness::selecting({rain}));
    const auto first = t.center.nowPlayingInfo();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->title, "Rain");
    EXPECT_EQ(first->assetURL.value_or(std::filesystem::path()).filename(), "rain.m4a");
    EXPECT_EQ(first->playbackRate, 0);
    EXPECT_EQ(t.center.playbackState(), NowPlayingPlaybackState::stopped);
    const auto updates = t.count("Now playing info updated");
    t.collection->selectionNameSubject()->send(first->title);
    t.loop.runUntilIdle();
    EXPECT_EQ(t.count("Now playing info updated"), updates) << "the same name twice updates once";

    // While stopped a change reaches only the volumes; playing starts it as it is.
    t.perform([&t]() { return t.collection->add(waves); });
    t.perform([&t]() { return t.collection->setVolume(0.3F, waves); });
    EXPECT_FALSE(t.isPlaying(waves));
    EXPECT_FLOAT_EQ(t.volumeOf(waves), 0.3F);
    EXPECT_FALSE(t.center.nowPlayingInfo()->assetURL) << "two sounds have no one file";
    EXPECT_NE(t.center.nowPlayingInfo()->title, first->title);
    t.finish(t.player->play(false));
    EXPECT_TRUE(t.isPlaying(waves));
    EXPECT_FLOAT_EQ(t.volumeOf(waves), 0.3F);
    EXPECT_EQ(t.center.playbackState(), NowPlayingPlaybackState::playing);
    EXPECT_EQ(t.center.nowPlayingInfo()->playbackRate, 1);
}

} // namespace
} // namespace somnara::test
