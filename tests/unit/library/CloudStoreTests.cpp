#include "LibraryFixture.hpp"
#include "support/LogLines.hpp"

#include <somnara/runtime/NotificationCenter.hpp>

#include <string>
#include <vector>

using namespace somnara;
using namespace somnara::test;

namespace {

using Dictionary = CloudStore::Dictionary;

class CloudStoreTest : public LibraryTest {};

TEST_F(CloudStoreTest, PublishesOnlyBlobsTwiceAtStartAndIgnoresOtherNotifications) {
    {
        startCloud();
        StreamRecorder recorder{cloudStore->dictionarySubject()};
        loop.runUntilIdle();
        EXPECT_EQ(recorder.values, (std::vector<Dictionary>{{}, {}})) << "initial value, then the first read";
        // Other notifications are not changes.
        loop.notificationCenter().post(Notification{"SomethingElseChanged", {}});
        loop.runUntilIdle();
        EXPECT_EQ(recorder.values.size(), 2U);
    }
    cloudStore.reset();
    loop.runUntilIdle();

    cloud->set(CloudValue{std::int64_t{1}}, "a");
    cloud->setData(blob("[3]"), "b");
    cloud->set(CloudValue{std::string{"text"}}, "c");
    startCloud();
    StreamRecorder recorder{cloudStore->dictionarySubject()};
    loop.runUntilIdle();
    ASSERT_EQ(recorder.values.size(), 2U);
    EXPECT_EQ(recorder.values[1], (Dictionary{{"b", blob("[3]")}}));
}

TEST_F(CloudStoreTest, OwnWritesWaitForTheNextExternalChangeWhichPublishesWholeSnapshotsInOrder) {
    logLines().clear();
    startCloud();
    StreamRecorder recorder{cloudStore->dictionarySubject()};
    loop.runUntilIdle();

    run([&] { return cloudStore->set(blob("[5]"), "sound_track_favourites"); });
    EXPECT_EQ(cloud->data("sound_track_favourites"), blob("[5]"));
    EXPECT_EQ(recorder.values.size(), 2U) << "a write publishes nothing";
    EXPECT_TRUE(cloudStore->dictionarySubject()->currentValue().empty());

    cloud->applyExternalChange({{"other", CloudValue{blob("x")}}});
    loop.runUntilIdle();
    ASSERT_EQ(recorder.values.size(), 3U);
    EXPECT_EQ(recorder.values[2],
              (Dictionary{{"other", blob("x")}, {"sound_track_favourites", blob("[5]")}}));

    // Two changes in quick succession: two snapshots, each the whole store as read when handled.
    cloud->applyExternalChange({{"other", std::nullopt}}, CloudKeyValueStore::ChangeReason::accountChange);
    cloud->applyExternalChange({{"more", CloudValue{blob("y")}}});
    loop.runUntilIdle();
    ASSERT_EQ(recorder.values.size(), 5U);
    const Dictionary latest{{"more", blob("y")}, {"sound_track_favourites", blob("[5]")}};
    EXPECT_EQ(recorder.values[3], latest);
    EXPECT_EQ(recorder.values[4], latest);
    const auto changes = linesStartingWith("Cloud Keys Changed ");
    ASSERT_EQ(changes.size(), 3U);
    EXPECT_EQ(changes[0], "Cloud Keys Changed [\"NSUbiquitousKeyValueStoreChangeReasonKey\": 0, "
                          "\"NSUbiquitousKeyValueStoreChangedKeysKey\": [\"other\"]]");
}

TEST_F(CloudStoreTest, AFailedSynchronisationIsReportedOnceAndTheStoreWorksOn) {
    cloud->setSynchronizeResult(false);
    cloud->setData(blob("1"), "k");
    startCloud();
    StreamRecorder recorder{cloudStore->dictionarySubject()};
    loop.runUntilIdle();
    EXPECT_EQ(assertions(), std::vector<std::string>{"SomnaraKit/CloudStore init() 22"});
    EXPECT_EQ(recorder.values.back(), (Dictionary{{"k", blob("1")}}));
    cloud->applyExternalChange({{"k", CloudValue{blob("2")}}});
    loop.runUntilIdle();
    EXPECT_EQ(recorder.values.back(), (Dictionary{{"k", blob("2")}}));
    EXPECT_EQ(assertions().size(), 1U);
}

} // namespace
