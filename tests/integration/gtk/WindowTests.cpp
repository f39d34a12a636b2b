#include "integration/app/RunSomnara.hpp"
#include "integration/daemon/ChildProcess.hpp"
#include "integration/linux_pulse/PulseTestServer.hpp"
#include "support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <map>
#include <sstream>

namespace somnara::test {
namespace {

const std::string binaries = SOMNARA_BINARY_DIR;

/// Level of the recording over the second from `from`, in dB.
double level(MonitorRecorder& recorder, double from) {
    return 10 * std::log10(std::max(recorder.power(from, from + 1), 1e-20));
}

struct Place {
    int x = 0, y = 0, width = 0, height = 0;
};

} // namespace

TEST(Window, DrivesTheDaemonAndFollowsIt) {
    if (!pulseWanted() || std::getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr) {
        GTEST_SKIP() << "needs the test script's PulseAudio and session bus (source scripts/services.sh)";
    }
    // Xvfb writes its display number once it accepts clients.
    ChildProcess xvfb("Xvfb -displayfd 1 -screen 0 1280x900x24 -nolisten tcp 2>/dev/null");
    const auto number = xvfb.waitFor("");
    if (number.empty()) {
        GTEST_SKIP() << "Xvfb did not start";
    }
    const std::string display = ":" + std::to_string(std::atoi(number.c_str()));
    MonitorRecorder recorder;
    ASSERT_TRUE(recorder.error().empty()) << recorder.error();
    TemporaryDirectory home{"somnara-gtk"};
    const auto artefacts = std::filesystem::path(binaries) / "tests" / "artefacts" / "gtk";
    std::filesystem::create_directories(artefacts);
    const std::string environment = "SOMNARA_HOME='" + home.path().string() + "' DISPLAY=" + display +
                                    " GDK_BACKEND=x11 GSK_RENDERER=cairo G_MESSAGES_DEBUG=somnara-gtk ";
    const auto x = [&](const std::string& commands) {
        return std::system(
            ("DISPLAY=" + display + " xdotool search --sync --name '^Somnara$' " + commands).c_str());
    };
    const auto screenshot = [&](const std::string& name) {
        const auto file = (artefacts / (name + ".png")).string();
        EXPECT_EQ(std::system(("ffmpeg -loglevel error -y -f x11grab -video_size 1280x900 -i " + display +
                               " -frames:v 1 '" + file + "'")
                                  .c_str()),
                  0);
        // The picture's mean brightness, 0 to 255.
        return std::atoi(shellOutput("ffmpeg -loglevel error -i '" + file +
                                     "' -vf scale=1:1,format=gray -f rawvideo - | od -An -tu1")
                             .c_str());
    };
    const ChildProcess daemon(environment + binaries + "/app/somnara daemon --device out >'" +
                              (home / "daemon.log").string() + "' 2>&1");
    const auto startWindow = [&](const std::string& scheme) {
        auto window = std::make_unique<ChildProcess>(environment + "ADW_DEBUG_COLOR_SCHEME=" + scheme + " " +
                                                     binaries + "/gtk/somnara-gtk");
        EXPECT_NE(window->waitFor("window ready"), "");
        return window;
    };
    auto window = startWindow("prefer-light");
    // Where the window's named controls are, as it logs them on SIGUSR1.
    const auto places = [&] {
        std::map<std::string, Place> found;
        kill(window->pid(), SIGUSR1);
        for (auto line = window->waitFor("place "); !line.empty() && line.find("place end") != 0;
             line = window->waitFor("place ")) {
            std::istringstream words(line.substr(6));
            std::string name;
            words >> name;
            words >> found[name].x >> found[name].y >> found[name].width >> found[name].height;
        }
        return found;
    };
    const auto click = [&](const Place& place) {
        x("mousemove --window %1 " + std::to_string(place.x + place.width / 2) + " " +
          std::to_string(place.y + place.height / 2) + " click 1");
    };
    auto at = places();
    const int light = screenshot("main-light");

    // Two sounds in multiple mode, then play: heard on the sink.
    const double silence = level(recorder, recorder.now());
    click(at["tile-whiteNoise"]);
    ASSERT_NE(window->waitFor("sound whiteNoise at"), "");
    click(at["multiple"]);
    ASSERT_NE(window->waitFor("mode multiple"), "");
    click(at["tile-blue"]);
    ASSERT_NE(window->waitFor("sound blue at"), "");
    click(at["play"]);
    ASSERT_NE(window->waitFor("state playing"), "");
    const double playing = level(recorder, recorder.now() + 2); // after the start fade
    EXPECT_GT(playing, silence + 30) << silence;

    // The brown noise's slider dragged to the left lowers the level.
    const auto slider = places()["volume-whiteNoise"];
    const int y = slider.y + slider.height / 2;
    x("mousemove --window %1 " + std::to_string(slider.x + slider.width - 6) + " " + std::to_string(y) +
      " mousedown 1 mousemove --window %1 " + std::to_string(slider.x + slider.width / 4) + " " +
      std::to_string(y) + " mouseup 1");
    const std::string brown = "sound whiteNoise at ";
    auto volume = window->waitFor(brown);
    while (!volume.empty() && std::stod(volume.substr(brown.size())) > 0.3) {
        volume = window->waitFor(brown);
    }
    ASSERT_NE(volume, "");
    // After the change's fade; the brown noise carries most of the power (about 9 dB here).
    EXPECT_LT(level(recorder, recorder.now() + 2), playing - 6);

    // The sleep timer's menu starts a timer the daemon reports.
    click(at["timer"]);
    x("windowfocus %1 key Down Return");
    ASSERT_NE(window->waitFor("sleep timer runs"), "");
    const auto status = nlohmann::json::parse(
        runSomnara("SOMNARA_HOME=" + home.path().string(), "status --json", false).output);
    EXPECT_GT(status["sleepTimeRemaining"].get<double>(), 60) << status;

    // A change on the command line moves the slider.
    EXPECT_EQ(runSomnara("SOMNARA_HOME=" + home.path().string(), "volume blue 0.3").status, 0);
    EXPECT_NE(window->waitFor("sound blue at 0.300"), "");

    x("windowfocus %1 key ctrl+comma");
    ASSERT_NE(window->waitFor("settings shown"), "");
    places(); // a round trip through the window's loop, so that the page has been drawn
    screenshot("settings");
    x("windowfocus %1 key ctrl+i");
    ASSERT_NE(window->waitFor("statistics shown"), "");
    places();
    screenshot("statistics");

    // A second window of the application would hand over to the first: one at a time.
    window.reset();
    window = startWindow("prefer-dark");
    places();
    EXPECT_LT(screenshot("main-dark") + 60, light);
}

} // namespace somnara::test
