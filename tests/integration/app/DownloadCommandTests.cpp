#include "RunSomnara.hpp"
#include "support/FileContents.hpp"
#include "support/TemporaryDirectory.hpp"
#include "support/TestBucket.hpp"

#include <somnara/catalogue/SoundTrack.hpp>

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

namespace {

namespace fs = std::filesystem;
using somnara::test::fileContents;

const fs::path bucketRoot = fs::path(SOMNARA_BINARY_DIR) / "bucket";

/// `somnara sounds download` in `home` from `bucket`, signing with `secret` unless empty.
somnara::test::SomnaraProcess download(const fs::path& home, const somnara::test::TestBucket& bucket,
                                       const std::string& secret = {}) {
    const auto& credentials = bucket.credentials();
    return {"SOMNARA_HOME='" + home.string() + "' SOMNARA_BUCKET_URL=" + bucket.baseURL() +
                " SOMNARA_BUCKET_REGION=" + credentials.region +
                " SOMNARA_ACCESS_KEY_ID=" + credentials.accessKeyId +
                " SOMNARA_SECRET_ACCESS_KEY=" + (secret.empty() ? credentials.secretAccessKey : secret),
            "sounds download"};
}

std::set<std::string> namesIn(const fs::path& directory) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

// A download that a real server refuses or cuts short, or that is killed mid-transfer, leaves only whole
// sounds in sounds/; the next run removes the partial download, runs its transfer again and fetches what
// is missing, leaving nothing else behind.
TEST(DownloadCommand, AFailedOrKilledDownloadLeavesOnlyWholeSoundsAndTheNextRunCompletesThem) {
    if (!somnara::test::botocorePython()) {
        GTEST_SKIP() << "no python3 with botocore (apt-get install python3-botocore)";
    }
    const auto victim = std::string(somnara::SoundTrack::allCases()[0].fileName()) + ".m4a";
    struct Case {
        const char* what;
        std::string behaviour;
        std::string secret;
        std::size_t stored;
    };
    const Case cases[] = {{"killed", "slow", "", 49},
                          {"truncated body", "truncated", "", 49},
                          {"wrong secret", "", "wrong", 47}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const somnara::test::TemporaryDirectory home;
        // Three sounds to fetch.
        fs::create_directories(home / "sounds");
        for (const auto soundTrack : somnara::SoundTrack::allCases()) {
            const auto name = std::string(soundTrack.fileName()) + ".m4a";
            if (soundTrack.rawValue() > 2) {
                fs::copy_file(bucketRoot / name, home / "sounds" / name);
            }
        }
        int port = 0;
        {
            std::map<std::string, std::string> behaviours;
            if (!c.behaviour.empty()) {
                behaviours[victim] = c.behaviour;
            }
            const somnara::test::TestBucket bucket(bucketRoot, behaviours);
            port = bucket.port();
            auto first = download(home.path(), bucket, c.secret);
            if (c.behaviour == "slow") {
                ASSERT_TRUE(first.waitForLine("49/50 sounds"));
                first.kill();
            } else {
                first.wait();
            }
        }
        const auto stored = namesIn(home / "sounds");
        for (const auto& name : stored) {
            EXPECT_TRUE(fileContents(home / "sounds" / name) == fileContents(bucketRoot / name)) << name;
        }
        EXPECT_EQ(stored.size(), c.stored);
        EXPECT_FALSE(stored.contains(victim));

        const somnara::test::TestBucket healed(bucketRoot, {}, port);
        EXPECT_EQ(download(home.path(), healed).wait(), 0);
        EXPECT_EQ(namesIn(home / "sounds").size(), 50U);
        EXPECT_TRUE(fileContents(home / "sounds" / victim) == fileContents(bucketRoot / victim));
        EXPECT_EQ(namesIn(home.path()), (std::set<std::string>{"sounds", ".sound_downloads.transfers.json"}));
        EXPECT_EQ(fileContents(home / ".sound_downloads.transfers.json"), "[]");
    }
}

} // namespace
