#include "ChildProcess.hpp"
#include "integration/app/RunSomnara.hpp"
#include "integration/linux_pulse/PulseTestServer.hpp"
#include "support/FileContents.hpp"
#include "support/ScopedEnvironment.hpp"
#include "support/TemporaryDirectory.hpp"
#include "support/TestBucket.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sdbus-c++/sdbus-c++.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace somnara::test {
namespace {

constexpr const char* busName = "org.somnara.Somnara";
constexpr const char* objectPath = "/org/somnara/Somnara";

double decibels(double power) {
    return 10 * std::log10(std::max(power, 1e-20));
}

constexpr auto frameAt = &MonitorRecorder::frameAt;

/// The moment of the recording where `reference` starts: the lag, from `from` to `from + 3` s, at which
/// the envelopes (100 ms blocks, in dB) of the recording and of the reference's seconds 3 to 9 agree
/// best. Waves swell, so a level is only comparable at the same moment of the sound.
double startOf(MonitorRecorder& recorder, const std::vector<float>& reference, double from) {
    const auto envelope = [](const std::function<double(double, double)>& power, double start) {
        std::vector<double> blocks;
        for (double at = start + 3; at < start + 9; at += 0.1) {
            blocks.push_back(decibels(power(at, at + 0.1)));
        }
        return blocks;
    };
    const auto wanted =
        envelope([&](double a, double b) { return powerOf(reference, frameAt(a), frameAt(b)); }, 0);
    recorder.waitUntil(from + 12);
    double best = from;
    double bestError = std::numeric_limits<double>::max();
    for (double lag = from; lag < from + 3; lag += 0.01) {
        const auto heard = envelope([&](double a, double b) { return recorder.power(a, b); }, lag);
        double error = 0;
        for (std::size_t i = 0; i < wanted.size(); ++i) {
            error += (heard[i] - wanted[i]) * (heard[i] - wanted[i]);
        }
        if (error < bestError) {
            bestError = error;
            best = lag;
        }
    }
    return best;
}

/// How many 50 ms blocks between `from` and `to` are neither at `level` (within 10 %) nor silent: a
/// fade passes through many, a cut through one at most.
int blocksBetween(MonitorRecorder& recorder, double from, double to, double level) {
    int count = 0;
    for (double at = from; at + 0.05 <= to; at += 0.05) {
        const double block = recorder.power(at, at + 0.05);
        count += block > 0.01 * level && block < 0.8 * level ? 1 : 0;
    }
    return count;
}

bool daemonIsOnTheBus(sdbus::IConnection& connection) {
    auto bus = sdbus::createProxy(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus");
    bool has = false;
    bus->callMethod("NameHasOwner")
        .onInterface("org.freedesktop.DBus")
        .withArguments(std::string(busName))
        .storeResultsTo(has);
    return has;
}

class Daemon : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("SOMNARA_TEST_PULSE") == nullptr ||
            std::getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr) {
            GTEST_SKIP() << "needs the test script's PulseAudio and session bus (source scripts/services.sh)";
        }
        ASSERT_TRUE(recorder.error().empty()) << recorder.error();
        connection = sdbus::createSessionBusConnection();
        daemon = std::make_unique<ChildProcess>("SOMNARA_HOME='" + home.path().string() + "' '" +
                                                SOMNARA_BINARY_DIR + "/app/somnara' daemon --device out >'" +
                                                (home / "daemon.log").string() + "' 2>&1");
        // Paced by the sound server's clock: the daemon has ten seconds to claim its name.
        for (double at = recorder.now(); !daemonIsOnTheBus(*connection); at += 0.1) {
            ASSERT_LT(at, 10.0) << "the daemon did not start";
            recorder.waitUntil(at + 0.1);
        }
        ASSERT_TRUE(daemon->running()) << "another daemon answers on the test bus";
        proxy = sdbus::createProxy(*connection, busName, objectPath);
    }

    Outcome somnara(const std::string& arguments) {
        return runSomnara("SOMNARA_HOME='" + home.path().string() + "'", arguments);
    }
    nlohmann::json status() {
        const auto outcome = somnara("status --json");
        EXPECT_EQ(outcome.status, 0) << outcome.output;
        return nlohmann::json::parse(outcome.output, nullptr, false);
    }
    /// An offline render of `mix` (interleaved stereo, no fades), `seconds` long.
    std::vector<float> render(const std::string& mix, double seconds) {
        const auto outcome =
            runSomnara("SOMNARA_HOME='" + home.path().string() + "'",
                       "render " + mix + " --no-fades --output - --duration " + std::to_string(seconds),
                       /*withErrors=*/false);
        EXPECT_EQ(outcome.status, 0);
        std::vector<float> samples(outcome.output.size() / sizeof(float));
        std::memcpy(samples.data(), outcome.output.data(), samples.size() * sizeof(float));
        return samples;
    }

    TemporaryDirectory home{"somnara-daemon"};
    MonitorRecorder recorder;
    std::unique_ptr<sdbus::IConnection> connection;
    std::unique_ptr<ChildProcess> daemon;
    std::unique_ptr<sdbus::IProxy> proxy;
};

TEST_F(Daemon, PlaysChangesAndStopsWhatTheCommandLineAsksAndRecordsIt) {
    // Heard at the level of an offline render of the same mix, at the same moments of the sound.
    const double commanded = recorder.now();
    auto outcome = somnara("play rain waves");
    ASSERT_EQ(outcome.status, 0) << outcome.output;
    EXPECT_EQ(status()["state"], "playing");
    const auto full = render("rain waves", 30);
    const double start = startOf(recorder, full, commanded);
    EXPECT_NEAR(decibels(recorder.power(start + 3, start + 9)),
                decibels(powerOf(full, frameAt(3), frameAt(9))), 1.0);

    // A volume change is heard once the add/remove fade is over.
    outcome = somnara("volume waves 0.3");
    ASSERT_EQ(outcome.status, 0) << outcome.output;
    const double changed = recorder.now() - start;
    const auto quieter = render("rain waves --volume waves=0.3", 30);
    EXPECT_NEAR(decibels(recorder.power(start + changed + 1.5, start + changed + 3.5)),
                decibels(powerOf(quieter, frameAt(changed + 1.5), frameAt(changed + 3.5))), 1.0);

    // The sleep timer fades over its last 15 s and ends in silence, stopped.
    outcome = somnara("timer 20");
    ASSERT_EQ(outcome.status, 0) << outcome.output;
    const double timed = recorder.now();
    const double before = recorder.power(timed, timed + 3);
    EXPECT_GT(status()["sleepTimeRemaining"].get<double>(), 15.0);
    const double midFade = recorder.power(timed + 12, timed + 13);
    EXPECT_LT(midFade, 0.8 * before);
    EXPECT_GT(midFade, 0.01 * before);
    EXPECT_LT(decibels(recorder.power(timed + 21, timed + 22)), -70.0);
    EXPECT_EQ(status()["state"], "stopped");
    EXPECT_TRUE(status()["sleepTimeRemaining"].is_null());

    // Stop fades out rather than cutting.
    outcome = somnara("play");
    ASSERT_EQ(outcome.status, 0) << outcome.output;
    const double resumed = recorder.now();
    const double level = recorder.power(resumed + 3, resumed + 4);
    outcome = somnara("stop");
    ASSERT_EQ(outcome.status, 0) << outcome.output;
    const double stopped = recorder.now();
    EXPECT_GE(blocksBetween(recorder, stopped - 0.5, stopped + 1.5, level), 3);
    EXPECT_LT(decibels(recorder.power(stopped + 1.5, stopped + 2)), -70.0);

    // A second daemon refuses to start (and would be stopped after 10 s if it did not).
    outcome = runSomnara("SOMNARA_HOME='" + home.path().string() + "' timeout 10", "daemon");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.output.find("already running"), std::string::npos) << outcome.output;

    // A settings change goes to the daemon, which holds the settings it plays with.
    outcome = somnara("settings set speed=0.5");
    ASSERT_EQ(outcome.status, 0) << outcome.output;
    std::string playing;
    proxy->callMethod("Get").onInterface("org.somnara.Somnara.Settings").storeResultsTo(playing);
    EXPECT_EQ(nlohmann::json::parse(playing, nullptr, false)["soundSettings"].value("speed", 0.0), 0.5)
        << playing;

    EXPECT_EQ(daemon->terminate(), 0);
    const auto stats = nlohmann::json::parse(somnara("stats --json").output, nullptr, false);
    EXPECT_GT(stats["totalTimePerSoundTrack"].value("rain", 0.0), 25.0) << stats.dump();
    EXPECT_GT(stats["totalTimePerSoundTrack"].value("waves", 0.0), 25.0) << stats.dump();
}

TEST_F(Daemon, RefusesBadRequestsAndChangesNothing) {
    ASSERT_EQ(somnara("select rain waves").status, 0);
    const auto before = status();
    const std::string huge(1 << 20, 'x');
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* what;
        std::function<void(sdbus::IProxy&)> call;
        std::string message;
    };
    const auto on = [](const char* interface, const char* method) {
        return [=](auto... arguments) {
            return [=](sdbus::IProxy& proxy) {
                proxy.callMethod(method)
                    .onInterface(std::string("org.somnara.Somnara.") + interface)
                    .withArguments(arguments...);
            };
        };
    };
    const std::vector<Case> cases{
        {"unknown sound", on("Selection", "Add")(std::string("thunderstorm-ish")),
         "no sound is called \"thunderstorm-ish\""},
        {"unknown sound among good ones", on("Player", "Play")(std::vector<std::string>{"rain", "nope"}),
         "no sound is called \"nope\""},
        {"volume 7", on("Selection", "SetVolume")(std::string("waves"), 7.0),
         "a volume is a number from 0 to 1, not \"7\""},
        {"volume NaN", on("Selection", "SetVolume")(std::string("waves"), nan),
         "a volume is a number from 0 to 1"},
        {"empty mix name", on("Mixes", "Save")(std::string()), "a mix needs a name"},
        {"no such mix", on("Mixes", "Select")(std::string()), "no saved mix is named \"\""},
        {"huge sound name", on("Selection", "Add")(huge), "no sound is called"},
        {"huge mix name", on("Mixes", "Delete")(huge), "no saved mix is called"},
        {"NaN timer", on("Player", "StartSleepTimer")(nan), "a sleep timer lasts"},
        {"negative timer", on("Player", "StartSleepTimer")(-5.0), "a sleep timer lasts"},
        {"unknown mode", on("Selection", "SetMode")(std::string("both")), "a mode is single or multiple"},
        {"settings not JSON", on("Settings", "Set")(std::string("{")), "the settings are not JSON"},
        {"settings of the wrong shape", on("Settings", "Set")(std::string("{\"volume\": \"loud\"}")), ""},
        {"wrong argument types", on("Selection", "SetVolume")(7.0, std::string("waves")), ""},
        {"download without a bucket", on("Downloads", "Download")(), "no download bucket is configured"},
    };
    for (const auto& testCase : cases) {
        try {
            testCase.call(*proxy);
            ADD_FAILURE() << testCase.what << " was accepted";
        } catch (const sdbus::Error& error) {
            EXPECT_NE(error.getMessage().find(testCase.message), std::string::npos)
                << testCase.what << ": " << error.getName() << ": " << error.getMessage().substr(0, 200);
        }
    }
    EXPECT_EQ(status(), before);
    EXPECT_EQ(somnara("mixes list").output, "No saved mixes yet.\n");
}

/// The daemon with the test bucket configured through its environment.
class DaemonWithBucket : public Daemon {
protected:
    void SetUp() override {
        if (!botocorePython()) {
            GTEST_SKIP() << "no python3 with botocore (apt-get install python3-botocore)";
        }
        bucket = std::make_unique<TestBucket>(bucketRoot);
        environment.set("SOMNARA_BUCKET_URL", bucket->baseURL());
        environment.set("SOMNARA_BUCKET_REGION", bucket->credentials().region);
        environment.set("SOMNARA_ACCESS_KEY_ID", bucket->credentials().accessKeyId);
        environment.set("SOMNARA_SECRET_ACCESS_KEY", bucket->credentials().secretAccessKey);
        Daemon::SetUp();
    }

    template <class Value>
    Value downloads(const char* property) {
        return proxy->getProperty(property).onInterface("org.somnara.Somnara.Downloads").get<Value>();
    }

    const std::filesystem::path bucketRoot = std::filesystem::path(SOMNARA_BINARY_DIR) / "bucket";
    std::unique_ptr<TestBucket> bucket;
    ScopedEnvironment environment;
};

// The command line asks the running daemon, whose properties it follows to the end, and removes the
// copies through it.
TEST_F(DaemonWithBucket, DownloadsAndRemovesTheLosslessCopiesForTheCommandLine) {
    EXPECT_TRUE(downloads<bool>("Available"));
    const auto outcome = somnara("sounds download");
    ASSERT_EQ(outcome.status, 0) << outcome.output;
    EXPECT_NE(outcome.output.find("50 of 50 sounds are lossless"), std::string::npos) << outcome.output;
    EXPECT_EQ(downloads<std::string>("State"), "downloaded");
    EXPECT_EQ(downloads<std::uint32_t>("Present"), 50U);
    EXPECT_FALSE(downloads<bool>("Running"));
    std::int64_t stored = 0;
    for (const auto& entry : std::filesystem::directory_iterator(home / "sounds")) {
        EXPECT_EQ(fileContents(entry.path()), fileContents(bucketRoot / entry.path().filename()));
        stored += static_cast<std::int64_t>(entry.file_size());
    }
    EXPECT_EQ(downloads<std::int64_t>("BytesWritten"), stored);

    ASSERT_EQ(somnara("sounds clear").status, 0);
    EXPECT_EQ(downloads<std::uint32_t>("Present"), 0U);
}

} // namespace
} // namespace somnara::test
