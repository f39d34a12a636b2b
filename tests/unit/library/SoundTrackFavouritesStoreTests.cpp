#include "LibraryFixture.hpp"

#include <somnara/library/SoundTrackFavouritesStore.hpp>

#include <string>
#include <vector>

using namespace somnara;
using namespace somnara::test;

namespace {

using Favourites = SoundTrackFavouritesStore::Favourites;

class FavouritesTest : public LibraryTest {
protected:
    std::shared_ptr<SoundTrackFavouritesStore> makeStore() {
        return std::make_shared<SoundTrackFavouritesStore>(cloudStore, [this] { return defaults; });
    }
    std::string localCopy() const {
        const auto data = defaults->data("sound_track_favourites");
        return data ? text(*data) : "<none>";
    }
};

TEST_F(FavouritesTest, SnapshotsNeedADecodableBlobAndEditsRewriteBothCopiesEvenWhenNothingChanges) {
    defaults->set(UserDefaultsValue::Data(blob("[3,5]")), "sound_track_favourites");
    startCloud();
    auto store = makeStore();
    loop.runUntilIdle();
    const Favourites start{SoundTrack::rain, SoundTrack::fan};
    ASSERT_EQ(store->favouritesSubject()->currentValue(), start);

    struct Case {
        std::string what;
        std::map<std::string, CloudValue> snapshot;
        Favourites favourites;
        std::string localCopy;
        bool reported;
    };
    const std::vector<Case> cases{
        {"no key", {{"sound_track_mixes", CloudValue{blob("[]")}}}, start, "[3,5]", false},
        {"not a blob", {{"sound_track_favourites", CloudValue{std::string{"[4]"}}}}, start, "[3,5]", false},
        {"out of range", {{"sound_track_favourites", CloudValue{blob("[99]")}}}, start, "[3,5]", true},
        {"not JSON", {{"sound_track_favourites", CloudValue{blob("[3,")}}}, start, "[3,5]", true},
        {"one sound",
         {{"sound_track_favourites", CloudValue{blob("[20]")}}},
         {SoundTrack::wind},
         "[20]",
         false},
        {"empty array", {{"sound_track_favourites", CloudValue{blob("[]")}}}, {}, "[]", false},
    };
    const std::vector<std::string> reported{
        "SomnaraKit/SoundTrackFavouritesStore handleNewCloudDictionary(_:) 55"};
    for (const auto& testCase : cases) {
        analytics.clear();
        run([&] { return store->handleNewCloudDictionary(testCase.snapshot); });
        EXPECT_EQ(store->favouritesSubject()->currentValue(), testCase.favourites) << testCase.what;
        EXPECT_EQ(localCopy(), testCase.localCopy) << testCase.what;
        EXPECT_EQ(assertions(), testCase.reported ? reported : std::vector<std::string>{}) << testCase.what;
    }
    EXPECT_FALSE(cloud->data("sound_track_favourites").has_value()) << "nothing is written back to the cloud";

    // Adding and removing publish and rewrite both copies, even when nothing changes.
    StreamRecorder recorder{store->favouritesSubject()};
    run([&] { return store->add(SoundTrack::rain); });
    run([&] { return store->add(SoundTrack::fan); });
    EXPECT_EQ(localCopy(), "[3,5]");
    EXPECT_EQ(cloud->data("sound_track_favourites"), blob("[3,5]"));

    // Both copies spoilt behind the store's back are restored by a change that changes nothing.
    defaults->set(UserDefaultsValue::Data(blob("[1]")), "sound_track_favourites");
    cloud->setData(blob("[1]"), "sound_track_favourites");
    const auto published = recorder.values.size();
    run([&] { return store->add(SoundTrack::rain); });
    EXPECT_EQ(recorder.values.size(), published + 1);
    EXPECT_EQ(localCopy(), "[3,5]");
    EXPECT_EQ(cloud->data("sound_track_favourites"), blob("[3,5]"));

    cloud->setData(blob("[1]"), "sound_track_favourites");
    run([&] { return store->remove(SoundTrack::thunder); });
    EXPECT_EQ(recorder.values.size(), published + 2);
    EXPECT_EQ(cloud->data("sound_track_favourites"), blob("[3,5]"));

    run([&] { return store->remove(SoundTrack::rain); });
    EXPECT_EQ(recorder.values.back(), Favourites{SoundTrack::fan});
    EXPECT_EQ(localCopy(), "[5]");
    EXPECT_TRUE(assertions().empty());
}

// At start-up the cloud's copy replaces the local one exactly as received; an unreadable local copy is kept
// aside and reported.
TEST_F(FavouritesTest, TheCloudCopyReplacesTheLocalOneAndAnUnreadableOneIsKeptAside) {
    defaults->set(UserDefaultsValue::Data(blob("[3, 99]")), "sound_track_favourites");
    cloud->setData(blob("[ 5 ]"), "sound_track_favourites");
    startCloud();
    auto store = makeStore();
    StreamRecorder recorder{store->favouritesSubject()};
    loop.runUntilIdle();
    // None, then the unreadable local copy as none, then the cloud's.
    EXPECT_EQ(recorder.values, (std::vector<Favourites>{{}, {}, {SoundTrack::fan}}));
    EXPECT_EQ(localCopy(), "[ 5 ]") << "the cloud's blob exactly as received";
    EXPECT_EQ(assertions(), std::vector<std::string>{"SomnaraKit/SoundTrackFavouritesStore setup() 41"});
    EXPECT_NE(analytics.assertions().at(0).message.value_or("").find("99"), std::string::npos);
    EXPECT_EQ(keptCopies("sound_track_favourites"), std::vector<CloudData>{blob("[3, 99]")});

    run([&] { return store->add(SoundTrack::owl); });
    EXPECT_EQ(localCopy(), "[5,28]") << "built on the cloud's set";
    EXPECT_EQ(cloud->data("sound_track_favourites"), blob("[5,28]"));
}

} // namespace
