#include "support/LogLines.hpp"
#include "support/MemoryAudioFile.hpp"
#include "support/Recorders.hpp"
#include "support/TemporaryDirectory.hpp"
#include "support/TestLoop.hpp"

#include <somnara/catalogue/SoundTrack.hpp>
#include <somnara/downloads/SoundsDownloader.hpp>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace somnara::test {
namespace {

namespace fs = std::filesystem;
using State = SoundsDownloader::State;

std::string fileName(SoundTrack soundTrack) {
    return std::string(soundTrack.fileName()) + ".m4a";
}

/// Records the tasks; the test plays the transfers' ends.
class FakeSession final : public TransferSession {
public:
    DownloadTask downloadTask(TransferRequest request) override {
        return {++created, std::move(request), std::nullopt};
    }
    void resume(const DownloadTask& task) override { resumed.push_back(task); }

    std::uint64_t created = 0;
    std::vector<DownloadTask> resumed;
};

/// Files whose text is "audio" open with a frame, "silence" with none; anything else is not audio.
std::unique_ptr<AudioFile> openText(const fs::path& path) {
    std::ifstream file(path);
    const std::string text{std::istreambuf_iterator<char>(file), {}};
    if (text != "audio" && text != "silence") {
        throw AudioFileError("not audio");
    }
    return std::make_unique<MemoryAudioFile>(
        std::vector<std::vector<float>>(2, std::vector<float>(text == "audio" ? 1 : 0)), 44'100.0, path);
}

class SoundsDownloaderTest : public LoopTest {
protected:
    SoundsDownloaderTest() { logLines().clear(); }

    /// The assertions logged since the last `analytics.clear()`: "message @line".
    std::vector<std::string> assertions() const {
        std::vector<std::string> found;
        for (const auto& record : analytics.assertions()) {
            found.push_back(record.message.value_or("") + " @" + std::to_string(record.line));
        }
        return found;
    }

    void make(std::optional<BucketConfiguration> bucket = BucketConfiguration{
                  "https://somnara-sounds.s3.amazonaws.com", "us-east-1", {"AKIDEXAMPLE", "secret"}}) {
        downloader = SoundsDownloader::make(
            documents.path(), std::move(bucket),
            [this](TransferSessionConfiguration configuration, std::weak_ptr<TransferSessionDelegate>) {
                configurations.push_back(configuration);
                return session;
            },
            openText);
        downloader->setBackgroundCompletionHandler([this] { ++completions; });
    }

    /// Runs a synchronisation to its end; returns how many downloads it scheduled.
    std::size_t synchronise() {
        return run([task = downloader->sync()]() -> asio::awaitable<std::size_t> {
            co_return co_await task.value();
        });
    }

    /// A transfer's end: the server's `status` with a body of `text`.
    void finish(const DownloadTask& resumed, long status, const std::string& text) {
        auto task = resumed;
        task.response = HTTPResponse{task.originalRequest ? task.originalRequest->url : "", status};
        const auto location = documents / ".download";
        std::ofstream(location) << text;
        downloader->didFinishDownloading(task, location);
        loop.runUntilIdle();
    }

    void store(SoundTrack soundTrack) {
        fs::create_directories(documents / "sounds");
        std::ofstream(documents / "sounds" / fileName(soundTrack)) << "audio";
    }

    TemporaryDirectory documents;
    std::shared_ptr<FakeSession> session = std::make_shared<FakeSession>();
    std::vector<TransferSessionConfiguration> configurations;
    std::shared_ptr<SoundsDownloader> downloader;
    AnalyticsRecorder analytics;
    int completions = 0;
};

TEST_F(SoundsDownloaderTest, SynchronisesTenSecondsAfterStartAndStoresOnlyPlayableFiles) {
    for (const auto soundTrack : SoundTrack::allCases()) {
        if (soundTrack.rawValue() < 10) {
            store(soundTrack);
        }
    }
    make();
    loop.advance(Seconds{9.99});
    EXPECT_TRUE(configurations.empty());
    loop.advance(Seconds{0.01});
    ASSERT_EQ(configurations.size(), 1U);
    EXPECT_EQ(configurations[0].identifier, "sound_downloads");
    EXPECT_EQ(configurations[0].downloadDirectory, documents.path());
    EXPECT_EQ(linesStartingWith("Sounds directory already exists").size(), 1U);
    EXPECT_EQ(linesStartingWith("Scheduling download 40 tasks [").size(), 1U);
    ASSERT_EQ(session->resumed.size(), 40U);
    EXPECT_EQ(downloader->state(), State::notSynced());
    const auto& first = *session->resumed[0].originalRequest;
    EXPECT_TRUE(first.url.starts_with("https://somnara-sounds.s3.amazonaws.com/" +
                                      fileName(SoundTrack::allCases()[10]) + "?X-Amz-Algorithm="))
        << first.url;
    EXPECT_NE(first.url.find("&X-Amz-Expires=86400&"), std::string::npos);
    EXPECT_EQ(first.timeoutInterval.count(), 60.0);

    struct Step {
        const char* what;
        std::size_t task;
        long status;
        std::string body;
        State state;
        bool stored;
        const char* assertion;
    };
    const Step steps[] = {
        {"forbidden", 0, 403, "audio", State::notSynced(), false, nullptr},
        {"no frames", 1, 200, "silence", State::downloading(0.2F), false,
         "File downloaded has zero length @199"},
        {"not audio", 2, 200, "<html>", State::downloading(0.2F), false, nullptr},
        {"audio", 3, 200, "audio", State::downloading(0.22F), true, nullptr},
        {"server error", 4, 500, "audio", State::downloading(0.22F), false, nullptr},
    };
    for (const auto& step : steps) {
        analytics.clear();
        finish(session->resumed[step.task], step.status, step.body);
        EXPECT_EQ(downloader->state().kind(), step.state.kind()) << step.what;
        EXPECT_NEAR(downloader->state().progress(), step.state.progress(), 1e-6) << step.what;
        EXPECT_EQ(
            fs::exists(downloader->soundsDirectory() / fileName(SoundTrack::allCases()[10 + step.task])),
            step.stored)
            << step.what;
        EXPECT_EQ(assertions(),
                  step.assertion ? std::vector<std::string>{step.assertion} : std::vector<std::string>{})
            << step.what;
    }
    EXPECT_EQ(linesStartingWith("Download failed { URL: https://").size(), 2U);

    finish(session->resumed[3], 200, "audio");
    EXPECT_EQ(
        linesStartingWith("Removing existing file at " +
                          (downloader->soundsDirectory() / fileName(SoundTrack::allCases()[13])).string())
            .size(),
        1U);
    analytics.clear();
    finish(DownloadTask{99, std::nullopt, std::nullopt}, 200, "audio");
    EXPECT_EQ(assertions(), std::vector<std::string>{"No filename @186"});

    for (const auto& task : session->resumed) {
        finish(task, 200, "audio");
    }
    EXPECT_EQ(downloader->state(), State::downloaded());
    downloader->didFinishEvents();
    loop.runUntilIdle();
    EXPECT_EQ(completions, 1);

    run([task = downloader->clearCacheDirectory()]() -> asio::awaitable<void> { co_await task.value(); });
    EXPECT_FALSE(fs::exists(downloader->soundsDirectory()));
    EXPECT_EQ(downloader->state(), State::downloaded());
    EXPECT_EQ(synchronise(), 50U);
    EXPECT_TRUE(fs::is_directory(downloader->soundsDirectory()));
    EXPECT_EQ(downloader->state(), State::notSynced());
    EXPECT_EQ(configurations.size(), 1U);
}

TEST_F(SoundsDownloaderTest, WithoutABucketItSaysSoOnceAndDownloadsNothing) {
    make(std::nullopt);
    loop.advance(Seconds{60});
    EXPECT_EQ(linesStartingWith("Not downloading lossless sounds: no bucket is configured").size(), 1U);
    EXPECT_TRUE(configurations.empty());
    EXPECT_THROW(synchronise(), std::system_error);
}

TEST(BucketConfiguration, ComesFromTheEnvironmentOrAPrivateFile) {
    const TemporaryDirectory directory;
    const auto file = directory / "bucket.json";
    std::ofstream(file) << R"({"url": "https://b.s3.amazonaws.com/", "access_key_id": "AKID",)"
                        << R"( "secret_access_key": "secret", "region": "eu-west-1"})";
    struct Case {
        const char* what;
        fs::perms permissions;
        const char* environmentURL;
        std::optional<std::string> url;
        std::string region;
    };
    const Case cases[] = {
        {"private file", fs::perms::owner_read | fs::perms::owner_write, nullptr,
         "https://b.s3.amazonaws.com", "eu-west-1"},
        {"file others can read", fs::perms::owner_read | fs::perms::others_read, nullptr, std::nullopt, ""},
        {"file the group can read", fs::perms::owner_read | fs::perms::group_read, nullptr, std::nullopt, ""},
        {"environment first", fs::perms::owner_read, "http://127.0.0.1:9000/b", "http://127.0.0.1:9000/b",
         "us-east-1"},
    };
    for (const auto& c : cases) {
        logLines().clear();
        fs::permissions(file, c.permissions);
        if (c.environmentURL != nullptr) {
            ::setenv("SOMNARA_BUCKET_URL", c.environmentURL, 1);
            ::setenv("SOMNARA_ACCESS_KEY_ID", "AKID", 1);
            ::setenv("SOMNARA_SECRET_ACCESS_KEY", "secret", 1);
        }
        const auto loaded = BucketConfiguration::load(file);
        ::unsetenv("SOMNARA_BUCKET_URL");
        EXPECT_EQ(loaded ? std::optional(loaded->baseURL) : std::nullopt, c.url) << c.what;
        EXPECT_EQ(loaded ? loaded->region : "", c.region) << c.what;
        EXPECT_EQ(linesStartingWith("Not reading " + file.string() + ": other users can read it").size(),
                  c.url ? 0U : 1U)
            << c.what;
    }
}

} // namespace
} // namespace somnara::test
