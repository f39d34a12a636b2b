#include "LibraryFixture.hpp"

#include <somnara/library/SoundTrackMixesStore.hpp>

#include <cmath>
#include <string>
#include <vector>

using namespace somnara;
using namespace somnara::test;

namespace {

class MixesTest : public LibraryTest {
protected:
    std::shared_ptr<SoundTrackMixesStore> makeStore() {
        auto store = std::make_shared<SoundTrackMixesStore>(cloudStore, defaults);
        loop.runUntilIdle();
        return store;
    }
    void save(const std::shared_ptr<SoundTrackMixesStore>& store, std::vector<Mix> mixes) {
        for (auto& mix : mixes) {
            run([&] { return store->add(mix); });
        }
    }
    static std::vector<std::string> names(const std::vector<Mix>& mixes) {
        std::vector<std::string> result;
        for (const auto& mix : mixes) {
            result.push_back(mix.name());
        }
        return result;
    }
};

const Mix rainA{"A", "Rain", {{SoundTrack::rain, 0.5F}}};
const Mix rainB{"B", "Rain", {{SoundTrack::rain, 0.9F}, {SoundTrack::fan, 0.2F}}};
const Mix storm{"S", "Storm", {{SoundTrack::thunder, 0.7F}, {SoundTrack::rain, 0.3F}}};
const Mix stormNight{"N", "Storm Night", {{SoundTrack::thunder, 0.2F}}};

TEST_F(MixesTest, DeletingRemovesEveryMixOfItsNameAndLookupsCompareExactly) {
    startCloud();
    auto store = makeStore();
    save(store, {rainA, rainB, storm});
    ASSERT_EQ(store->mixesSubject()->currentValue().size(), 3U) << "two records named Rain are both kept";

    run([&] { return store->remove(Mix("Z", "Rain", {})); });
    EXPECT_EQ(store->mixesSubject()->currentValue(), Mix::Set{storm});
    EXPECT_EQ(SoundTrackMixesStore::decode(*defaults->data("sound_track_mixes")), Mix::Set{storm});
    EXPECT_EQ(SoundTrackMixesStore::decode(*cloud->data("sound_track_mixes")), Mix::Set{storm});

    run([&] { return store->add(storm); });
    EXPECT_EQ(store->mixesSubject()->currentValue().size(), 1U) << "an identical record is not added twice";
    EXPECT_TRUE(assertions().empty());

    // Lookups compare volumes exactly, and names and identifiers as text.
    save(store, {rainA});
    const Mix sameVolumes{"other", "Other", {{SoundTrack::rain, 0.3F}, {SoundTrack::thunder, 0.7F}}};
    const auto matching = run([&] { return store->mixMatching(sameVolumes); });
    ASSERT_TRUE(matching.has_value());
    EXPECT_EQ(matching->identifier(), "S");

    const Mix lastBit{
        "other", "Other", {{SoundTrack::rain, std::nextafter(0.3F, 1.0F)}, {SoundTrack::thunder, 0.7F}}};
    EXPECT_FALSE(run([&] { return store->mixMatching(lastBit); }).has_value());
    const Mix fewerSounds{"other", "Other", {{SoundTrack::thunder, 0.7F}}};
    EXPECT_FALSE(run([&] { return store->mixMatching(fewerSounds); }).has_value());

    EXPECT_EQ(run([&] { return store->mixWithName("Storm"); })->identifier(), "S");
    EXPECT_FALSE(run([&] { return store->mixWithName("storm"); }).has_value());
    EXPECT_EQ(run([&] { return store->mixWithIdentifier("A"); })->name(), "Rain");
    EXPECT_FALSE(run([&] { return store->mixWithIdentifier("a"); }).has_value());
}

TEST_F(MixesTest, FuzzySearchKeepsOnlyScoresAboveOneHalfBestFirst) {
    startCloud();
    auto store = makeStore();
    save(store, {rainA, storm, stormNight});

    struct Case {
        std::string term;
        std::vector<std::string> found;
    };
    const std::vector<Case> cases{
        {"", {}},
        // "so" scores exactly 0.5 against "Storm" (0.35, plus 0.15 for the shared first letter) and
        // more against "Storm Night", where the second letter's search ends on a word.
        {"so", {}},
        {"Storm", {"Storm", "Storm Night"}},
        // Two letters missing from "Storm" halve its score: only "Storm Night" is left.
        {"storm n", {"Storm Night"}},
        {"srm", {"Storm", "Storm Night"}},
        {"rai", {"Rain"}},
        {"xyz", {}},
    };
    for (const auto& [term, found] : cases) {
        EXPECT_EQ(names(run([&] { return store->searchMultiple(term); })), found) << term;
        const auto best = run([&] { return store->search(term); });
        EXPECT_EQ(best ? std::optional(best->name()) : std::nullopt,
                  found.empty() ? std::nullopt : std::optional(found.front()))
            << term;
    }
}

TEST_F(MixesTest, CloudSnapshotsReplaceTheSetWholeOrChangeNothing) {
    startCloud();
    auto store = makeStore();
    save(store, {rainA, storm});
    const auto before = store->mixesSubject()->currentValue();
    const auto localBefore = text(*defaults->data("sound_track_mixes"));

    cloud->applyExternalChange({{"sound_track_favourites", CloudValue{blob("[1]")}}});
    loop.runUntilIdle();
    cloud->applyExternalChange(
        {{"sound_track_mixes", CloudValue{blob(R"([{"identifier":"I","name":"N"}])")}}});
    loop.runUntilIdle();
    EXPECT_TRUE(store->mixesSubject()->currentValue() == before);
    EXPECT_EQ(text(*defaults->data("sound_track_mixes")), localBefore);
    EXPECT_EQ(assertions(), std::vector<std::string>{"SomnaraKit/SoundTrackMixesStore setup() 41"})
        << "the undecodable blob is reported";

    const auto elsewhere = R"([{"identifier":"E","name":"Evening","soundsAndVolumeLevels":[5,0.8]}])";
    cloud->applyExternalChange({{"sound_track_mixes", CloudValue{blob(elsewhere)}}});
    loop.runUntilIdle();
    ASSERT_EQ(store->mixesSubject()->currentValue().size(), 1U) << "no merge with the local mixes";
    EXPECT_EQ(store->mixesSubject()->currentValue().begin()->identifier(), "E");
    EXPECT_EQ(text(*defaults->data("sound_track_mixes")), elsewhere);

    cloud->applyExternalChange({{"sound_track_mixes", CloudValue{blob("[]")}}});
    loop.runUntilIdle();
    EXPECT_TRUE(store->mixesSubject()->currentValue().empty());
    EXPECT_EQ(text(*defaults->data("sound_track_mixes")), "[]");
}

TEST_F(MixesTest, AnUnreadableLocalCopyIsKeptAsideAndTheCloudCopyTakesOver) {
    const auto unreadable = blob(R"([{"identifier":"I","name":"N","soundsAndVolumeLevels":[50,1]}])");
    defaults->set(UserDefaultsValue::Data(unreadable), "sound_track_mixes");
    cloud->setData(SoundTrackMixesStore::encode({storm}), "sound_track_mixes");
    startCloud();
    auto store = makeStore();
    EXPECT_EQ(assertions(), std::vector<std::string>{"SomnaraKit/SoundTrackMixesStore setup() 49"});
    EXPECT_EQ(keptCopies("sound_track_mixes"), std::vector<CloudData>{unreadable});
    EXPECT_EQ(store->mixesSubject()->currentValue(), Mix::Set{storm}) << "the cloud's copy, not nothing";

    run([&] { return store->add(rainA); });
    EXPECT_EQ(SoundTrackMixesStore::decode(*cloud->data("sound_track_mixes")), (Mix::Set{storm, rainA}));
    EXPECT_EQ(SoundTrackMixesStore::decode(*defaults->data("sound_track_mixes")), (Mix::Set{storm, rainA}));

    // A second start finds the copy kept and reports nothing more.
    makeStore();
    EXPECT_EQ(assertions().size(), 1U);
}

} // namespace
