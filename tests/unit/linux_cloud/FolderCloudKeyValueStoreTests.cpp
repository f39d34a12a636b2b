#include "linux/cloud/CloudValueEnvelope.hpp"
#include "support/Recorders.hpp"
#include "support/TemporaryDirectory.hpp"
#include "support/TestLoop.hpp"

#include <somnara/foundation/AtomicFile.hpp>
#include <somnara/linux/cloud/FolderCloudKeyValueStore.hpp>
#include <somnara/runtime/NotificationCenter.hpp>

#include <any>
#include <chrono>
#include <fstream>
#include <set>
#include <string>
#include <vector>

using namespace somnara;
using namespace std::chrono_literals;

namespace {

namespace fs = std::filesystem;

CloudData bytes(std::string_view text) {
    return CloudData(text.begin(), text.end());
}

/// Records the keys of the external-change notifications that reach one device's notification centre.
class ChangeLog {
public:
    explicit ChangeLog(NotificationCenter& center)
        : recorder_(center.notifications(CloudKeyValueStore::didChangeExternallyNotification)) {}
    std::vector<std::vector<std::string>> changes() const {
        std::vector<std::vector<std::string>> keys;
        for (const auto& notification : recorder_.values) {
            keys.push_back(std::any_cast<std::vector<std::string>>(
                notification.userInfo.at(CloudKeyValueStore::changedKeysKey)));
        }
        return keys;
    }
    int reason(std::size_t index) const {
        return std::any_cast<int>(
            recorder_.values.at(index).userInfo.at(CloudKeyValueStore::changeReasonKey));
    }

private:
    test::StreamRecorder<Notification> recorder_;
};

class FolderCloudKeyValueStoreTest : public test::LoopTest {
protected:
    bool waitFor(const std::function<bool()>& condition) { return loop.runUntil(condition, 2000ms); }

    void writeKeyFileByHand(const fs::path& folder, const std::string& key, const CloudValue& value) {
        writeFileAtomically(folder / FolderCloudKeyValueStore::fileNameForKey(key),
                            linux_cloud::CloudValueEnvelope{key, value}.encode());
    }

    test::TemporaryDirectory directory{"somnara-cloud"};
    fs::path folder = directory / "sync";
    NotificationCenter centerA;
    NotificationCenter centerB;
};

TEST_F(FolderCloudKeyValueStoreTest, TwoDevicesSeeEachOthersWritesAsExternalButNeverTheirOwn) {
    auto deviceA = FolderCloudKeyValueStore::make(folder, &centerA);
    auto deviceB = FolderCloudKeyValueStore::make(folder, &centerB);
    ChangeLog logA{centerA};
    ChangeLog logB{centerB};

    deviceA->setData(bytes("[3]"), "sound_track_favourites");
    EXPECT_EQ(deviceA->data("sound_track_favourites"), bytes("[3]")) << "own writes show at once";
    ASSERT_TRUE(waitFor([&] { return logB.changes().size() == 1; }));
    EXPECT_EQ(logB.changes()[0], std::vector<std::string>{"sound_track_favourites"});
    EXPECT_EQ(logB.reason(0), static_cast<int>(CloudKeyValueStore::ChangeReason::serverChange));
    EXPECT_EQ(deviceB->data("sound_track_favourites"), bytes("[3]"));

    deviceB->set(CloudValue{std::int64_t{7}}, "count");
    ASSERT_TRUE(waitFor([&] { return logA.changes().size() == 1; }));
    EXPECT_EQ(logA.changes()[0], std::vector<std::string>{"count"});
    const auto count = deviceA->object("count");
    ASSERT_TRUE(count.has_value());
    EXPECT_TRUE(*count == CloudValue{std::int64_t{7}}) << "a number stays a number";
    EXPECT_FALSE(deviceA->data("count").has_value()) << "and is not data";

    // Every event of B's own write came before this one, so B has seen its own echo by now.
    deviceA->removeObject("count");
    ASSERT_TRUE(waitFor([&] { return logB.changes().size() == 2; }));
    EXPECT_EQ(logB.changes()[1], std::vector<std::string>{"count"});
    EXPECT_FALSE(deviceB->object("count").has_value());
    EXPECT_EQ(logA.changes().size(), 1U) << "A's own removal is not external to A";
    EXPECT_EQ(deviceA->dictionaryRepresentation(), deviceB->dictionaryRepresentation());
}

TEST_F(FolderCloudKeyValueStoreTest, SkipsTemporaryNamesForeignFilesAndHalfWrittenFiles) {
    auto writer = FolderCloudKeyValueStore::make(folder, &centerA);
    auto reader = FolderCloudKeyValueStore::make(folder, &centerB);
    ChangeLog log{centerB};

    const auto whole = linux_cloud::CloudValueEnvelope{"partial", CloudValue{bytes("done")}}.encode();
    std::ofstream{folder / ".sound_track_favourites.json.Ab12Cd"} << whole;
    std::ofstream{folder / "notes.txt"} << "shopping list";
    // A program that does not write atomically: the file is closed while half written.
    std::ofstream{folder / "partial.json"} << whole.substr(0, whole.size() / 2);
    writer->setData(bytes("x"), "marker");
    ASSERT_TRUE(waitFor([&] { return !log.changes().empty(); }));
    EXPECT_EQ(log.changes(), (std::vector<std::vector<std::string>>{{"marker"}}));
    EXPECT_EQ(reader->dictionaryRepresentation().size(), 1U);

    std::ofstream{folder / "partial.json"} << whole;
    ASSERT_TRUE(waitFor([&] { return log.changes().size() == 2; }));
    EXPECT_EQ(log.changes()[1], std::vector<std::string>{"partial"});
    EXPECT_EQ(reader->data("partial"), bytes("done"));
}

TEST_F(FolderCloudKeyValueStoreTest, AFolderThatComesBackIsRescannedAndGetsTheMissingKeysBack) {
    auto deviceB = FolderCloudKeyValueStore::make(folder, &centerB);
    ChangeLog logB{centerB};
    deviceB->setData(bytes("[5]"), "sound_track_favourites");
    loop.runUntilIdle();

    fs::remove_all(folder);
    ASSERT_TRUE(waitFor([&] { return !deviceB->isWatchingFolder(); }));
    EXPECT_EQ(deviceB->data("sound_track_favourites"), bytes("[5]")) << "a missing folder loses nothing";

    // Another device recreates the folder with a key of its own.
    auto deviceA = FolderCloudKeyValueStore::make(folder, &centerA);
    ChangeLog logA{centerA};
    deviceA->setData(bytes("[]"), "sound_track_mixes");
    ASSERT_TRUE(waitFor([&] { return deviceB->isWatchingFolder() && !logB.changes().empty(); }));
    EXPECT_EQ(logB.changes()[0], std::vector<std::string>{"sound_track_mixes"});
    EXPECT_EQ(deviceB->data("sound_track_mixes"), bytes("[]"));

    // B wrote back what the new folder lacked, and A takes it in as a change from elsewhere.
    ASSERT_TRUE(waitFor([&] { return !logA.changes().empty(); }));
    EXPECT_EQ(logA.changes()[0], std::vector<std::string>{"sound_track_favourites"});
    EXPECT_EQ(deviceA->data("sound_track_favourites"), bytes("[5]"));
}

TEST_F(FolderCloudKeyValueStoreTest, AnOverflowingEventQueueIsMadeGoodByARescan) {
    std::size_t queueLimit = 0;
    std::ifstream{"/proc/sys/fs/inotify/max_queued_events"} >> queueLimit;
    if (queueLimit == 0 || queueLimit > 100'000) {
        GTEST_SKIP() << "cannot overflow an inotify queue of " << queueLimit << " events quickly";
    }
    auto reader = FolderCloudKeyValueStore::make(folder, &centerB);
    ChangeLog log{centerB};
    // One close-write event per file, written while the loop does not read: the queue overflows.
    const auto count = queueLimit + 64;
    for (std::size_t i = 0; i < count; ++i) {
        const auto key = "k" + std::to_string(i);
        std::ofstream{folder / (key + ".json")}
            << linux_cloud::CloudValueEnvelope{key, CloudValue{std::int64_t(i)}}.encode();
    }
    ASSERT_TRUE(waitFor([&] { return reader->dictionaryRepresentation().size() == count; }));
    std::size_t announced = 0;
    for (const auto& keys : log.changes()) {
        announced += keys.size();
    }
    EXPECT_EQ(announced, count) << "every key announced once";
    EXPECT_TRUE(reader->object("k" + std::to_string(count - 1)) == CloudValue{std::int64_t(count - 1)});
}

// A new store loads the folder without announcing it. A write recreates a missing folder with every key,
// and so does synchronize(), which also takes in changes.
TEST_F(FolderCloudKeyValueStoreTest, LoadsTheFolderQuietlyAndAWriteOrSynchronizeRecreatesItWithEveryKey) {
    fs::create_directories(folder);
    writeKeyFileByHand(folder, "one", CloudValue{bytes("1")});
    ChangeLog log{centerA};
    auto store = FolderCloudKeyValueStore::make(folder, &centerA);
    loop.runUntilIdle();
    EXPECT_EQ(store->data("one"), bytes("1"));
    EXPECT_TRUE(log.changes().empty());
    writeKeyFileByHand(folder, "written", CloudValue{true});
    EXPECT_TRUE(store->synchronize());
    loop.runUntilIdle();
    EXPECT_TRUE(store->object("written") == CloudValue{true});
    EXPECT_EQ(log.changes(), (std::vector<std::vector<std::string>>{{"written"}}));

    const auto files = [&] {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator{folder}) {
            names.insert(entry.path().filename().string());
        }
        return names;
    };
    fs::remove_all(folder);
    ASSERT_TRUE(waitFor([&] { return !store->isWatchingFolder(); }));
    store->setData(bytes("3"), "three");
    ASSERT_TRUE(waitFor([&] { return store->isWatchingFolder(); }));
    EXPECT_EQ(files(), (std::set<std::string>{"one.json", "written.json", "three.json"}));
    EXPECT_EQ(log.changes().size(), 1U) << "the store's own files are not external";

    fs::remove_all(folder);
    EXPECT_TRUE(store->synchronize());
    EXPECT_EQ(files(), (std::set<std::string>{"one.json", "written.json", "three.json"}));
}

TEST(CloudKeyValueStoreFront, RefusesKeysThePlatformWouldRefuse) {
    MemoryCloudKeyValueStore store;
    EXPECT_THROW(store.setData(bytes("x"), ""), std::invalid_argument);
    EXPECT_THROW(store.setData(bytes("x"), std::string(65, 'k')), std::invalid_argument);
    store.setData(bytes("x"), std::string(64, 'k'));
    EXPECT_EQ(store.data(std::string(64, 'k')), bytes("x"));
}

} // namespace
