#include "support/FileContents.hpp"
#include "support/LogLines.hpp"
#include "support/TemporaryDirectory.hpp"
#include "support/TestBucket.hpp"
#include "support/TestLoop.hpp"

#include <somnara/catalogue/SoundTrack.hpp>
#include <somnara/downloads/SoundsDownloader.hpp>
#include <somnara/linux/curl/CurlTransferSession.hpp>
#include <somnara/linux/ffmpeg/FfmpegAudioFile.hpp>

#include <gtest/gtest.h>

#include <set>

using namespace somnara;

namespace {

namespace fs = std::filesystem;
using somnara::test::fileContents;
using somnara::test::linesStartingWith;
using somnara::test::logLines;
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
            EXPECT_EQ(linesStartingWith("Download failed { URL: ").size(), 3U);
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
            EXPECT_EQ(linesStartingWith("Not syncing. We're already synced").size(), 1U);
        }
    }
}

} // namespace
