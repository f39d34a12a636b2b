#include "support/AudioFileContents.hpp"
#include "support/FileContents.hpp"
#include "support/TemporaryDirectory.hpp"
#include "support/TestBucket.hpp"
#include "support/TestLoop.hpp"

#include <somnara/audio/AudioEngine.hpp>
#include <somnara/audio/AudioPlayerNode.hpp>
#include <somnara/catalogue/SoundTrack.hpp>
#include <somnara/downloads/SoundsDownloader.hpp>
#include <somnara/linux/curl/CurlTransferSession.hpp>
#include <somnara/linux/ffmpeg/FfmpegAudioFile.hpp>
#include <somnara/player/AudioFileFactory.hpp>
#include <somnara/system/SomnaraLogger.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <span>

using namespace somnara;

namespace {

namespace fs = std::filesystem;
using somnara::test::fileContents;
using State = SoundsDownloader::State;

const fs::path bucketRoot = fs::path(SOMNARA_BINARY_DIR) / "bucket";

std::string fileName(SoundTrack soundTrack) {
    return std::string(soundTrack.fileName()) + ".m4a";
}

std::set<std::string> namesIn(const fs::path& directory) {
    std::set<std::string> names;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(directory, ignored)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

/// Every line logged (handlers cannot be removed: one for all tests).
std::vector<std::string>& logLines() {
    static std::vector<std::string> lines = [] {
        SomnaraLogger::add([](const std::string& message, LogType) { logLines().push_back(message); });
        return std::vector<std::string>{};
    }();
    return lines;
}

std::size_t linesStartingWith(const std::string& prefix) {
    return static_cast<std::size_t>(std::count_if(
        logLines().begin(), logLines().end(), [&](const auto& line) { return line.starts_with(prefix); }));
}

/// A downloader on a fresh documents folder, downloading from the test bucket over libcurl.
class SoundsDownloaderTest : public test::LoopTest {
protected:
    void SetUp() override {
        if (!test::botocorePython()) {
            GTEST_SKIP() << "no python3 with botocore (apt-get install python3-botocore)";
        }
        if (!fs::exists(bucketRoot / fileName(SoundTrack::allCases().back()))) {
            GTEST_SKIP() << "no lossless copies in " << bucketRoot << " (build the sounds target)";
        }
        logLines().clear();
        // The bucket checks signatures against the real clock.
        loop.setDate(Date::fromSystemClock(std::chrono::system_clock::now()));
    }

    void makeDownloader(const test::TestBucket& bucket, bool synchronisesAtStart, std::string secret = {}) {
        const auto& credentials = bucket.credentials();
        BucketConfiguration configuration{
            bucket.baseURL(),
            credentials.region,
            {credentials.accessKeyId, secret.empty() ? credentials.secretAccessKey : secret}};
        downloader = SoundsDownloader::make(documents.path(), configuration, CurlTransferSession::factory(),
                                            openAudioFile, synchronisesAtStart);
        downloader->setBackgroundCompletionHandler([this] { eventsFinished = true; });
        loop.runUntilIdle();
    }

    /// Runs the loop until the session has delivered every event of its transfers.
    bool waitForTransfers() {
        return loop.runUntil([this] { return eventsFinished; }, std::chrono::minutes(3));
    }

    /// Synchronises now and waits for the transfers.
    std::size_t synchronise() {
        eventsFinished = false;
        const auto scheduled = run([task = downloader->sync()]() -> asio::awaitable<std::size_t> {
            co_return co_await task.value();
        });
        EXPECT_TRUE(scheduled == 0 || waitForTransfers());
        return scheduled;
    }

    /// Sounds in the sounds folder that are not the bucket's bytes, and files there that are no sound.
    std::vector<std::string> badFiles() const {
        std::vector<std::string> bad;
        for (const auto& name : namesIn(downloader->soundsDirectory())) {
            const auto source = bucketRoot / name;
            if (!fs::exists(source) ||
                fileContents(source) != fileContents(downloader->soundsDirectory() / name)) {
                bad.push_back(name);
            }
        }
        return bad;
    }

    void copyFromBucket(SoundTrack soundTrack) {
        fs::create_directories(documents / "sounds");
        fs::copy_file(bucketRoot / fileName(soundTrack), documents / "sounds" / fileName(soundTrack));
    }

    test::TemporaryDirectory documents;
    std::shared_ptr<SoundsDownloader> downloader;
    bool eventsFinished = false;
};

TEST_F(SoundsDownloaderTest, AFailedDownloadStoresNothingAndTheNextSyncFetchesWhatIsMissing) {
    const auto victim = SoundTrack::allCases()[0];
    // Statuses and bodies the session delivers whole are the unit tests' business; here, what only a
    // real server and transport produce.
    struct Case {
        const char* what;
        std::string behaviour;
        bool wrongSecret = false;
    };
    const Case cases[] = {{"wrong secret", "", true}, {"truncated body", "truncated"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(documents / "sounds");
        for (const auto soundTrack : SoundTrack::allCases()) {
            if (soundTrack.rawValue() > 2) {
                copyFromBucket(soundTrack);
            }
        }
        logLines().clear();
        int port = 0;
        {
            std::map<std::string, std::string> behaviours;
            if (!c.behaviour.empty()) {
                behaviours[fileName(victim)] = c.behaviour;
            }
            const test::TestBucket bucket(bucketRoot, behaviours);
            port = bucket.port();
            makeDownloader(bucket, false,
                           c.wrongSecret ? "wrong" + bucket.credentials().secretAccessKey : "");
            EXPECT_EQ(synchronise(), 3U);
        }
        const auto present = namesIn(downloader->soundsDirectory());
        EXPECT_FALSE(present.contains(fileName(victim)));
        EXPECT_EQ(present.size(), c.wrongSecret ? 47U : 49U);
        EXPECT_EQ(badFiles(), std::vector<std::string>{});
        EXPECT_EQ(downloader->state(), c.wrongSecret ? State::notSynced() : State::downloading(0.98F));
        if (c.wrongSecret) {
            EXPECT_EQ(linesStartingWith("Download failed { URL: "), 3U);
        }

        const test::TestBucket healed(bucketRoot, {}, port);
        EXPECT_EQ(synchronise(), c.wrongSecret ? 3U : 1U);
        EXPECT_EQ(downloader->state(), c.wrongSecret ? State::notSynced() : State::downloaded());
        if (!c.wrongSecret) {
            EXPECT_EQ(namesIn(downloader->soundsDirectory()).size(), 50U);
            EXPECT_EQ(badFiles(), std::vector<std::string>{});
            // Only the sounds and the session's journal, emptied: no download is left behind.
            EXPECT_EQ(namesIn(documents.path()),
                      (std::set<std::string>{"sounds", ".sound_downloads.transfers.json"}));
            EXPECT_EQ(fileContents(documents / ".sound_downloads.transfers.json"), "[]");
            EXPECT_EQ(synchronise(), 0U);
            EXPECT_EQ(linesStartingWith("Not syncing. We're already synced"), 1U);
        }
    }
}

// The file factory then opens the downloaded copy, and the engine plays it looped with the lossless
// source's very samples on both sides of the seam.
TEST_F(SoundsDownloaderTest, TheFactoryPlaysTheDownloadedCopyBitForBitAcrossTheLoopSeam) {
    const auto sound = SoundTrack::allCases()[3];
    for (const auto soundTrack : SoundTrack::allCases()) {
        if (soundTrack != sound) {
            copyFromBucket(soundTrack);
        }
    }
    {
        const test::TestBucket bucket(bucketRoot);
        makeDownloader(bucket, false);
        ASSERT_EQ(synchronise(), 1U);
    }
    AudioFileFactory factory(downloader->soundsDirectory(), Bundle(documents / "resources"), openAudioFile);
    const auto file = run([task = factory.audioFile(sound)]() -> asio::awaitable<std::shared_ptr<AudioFile>> {
        co_return co_await task.value();
    });
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->url(), downloader->soundsDirectory() / fileName(sound));

    AudioOutputConfiguration configuration;
    configuration.sampleRate = file->processingFormat().sampleRate;
    configuration.maximumFramesPerRender = 4'096;
    const auto engine = std::make_shared<AudioEngine>(AudioOutput::make("offline", configuration));
    const auto player = std::make_shared<AudioPlayerNode>();
    engine->attach(player);
    engine->connect(player, engine->mainMixerNode());
    player->scheduleFile(file, nullptr);
    player->scheduleFile(file, nullptr);
    player->play();
    engine->start();
    const auto length = static_cast<std::size_t>(file->length());
    constexpr std::size_t around = 8'192;
    std::vector<float> left(length + around);
    std::vector<float> right(left.size());
    for (std::size_t done = 0; done < left.size(); done += 4'096) {
        const auto count = std::min<std::size_t>(4'096, left.size() - done);
        engine->renderOffline(left.data() + done, right.data() + done, count);
        loop.runUntilIdle();
    }

    const auto source = test::readToEnd(*openAudioFile(bucketRoot / fileName(sound))).left;
    ASSERT_EQ(source.size(), length);
    std::vector<float> expected(source.end() - around, source.end());
    expected.insert(expected.end(), source.begin(), source.begin() + around);
    const std::span<const float> rendered(left.data() + length - around, 2 * around);
    EXPECT_TRUE(std::equal(rendered.begin(), rendered.end(), expected.begin()));
}

} // namespace
