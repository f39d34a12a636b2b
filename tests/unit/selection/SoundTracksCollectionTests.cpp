#include "CollectionFixture.hpp"

#include <gtest/gtest.h>

namespace somnara::test {
namespace {

using Set = SoundTrackSet;
constexpr auto single = SelectionMode::single;
constexpr auto multiple = SelectionMode::multiple;

class SelectionTest : public CollectionTest {};

TEST_F(SelectionTest, StartUpLoadsTheStoredModeAndSelectionAndPublishesThem) {
    start(storedSelection({SoundTrack::rain, SoundTrack::fan}, multiple));

    EXPECT_EQ(collection->selectionMode(), multiple);
    EXPECT_EQ(collection->selectedSoundTracks(), (Set{SoundTrack::rain, SoundTrack::fan}));
    EXPECT_EQ(modes->values, (std::vector{single, multiple}));
    ASSERT_EQ(changes->values.size(), 2u);
    EXPECT_EQ(changes->values[0], SelectedSoundTracksChange{});
    EXPECT_EQ(changes->values[1], (SelectedSoundTracksChange{Set{}, Set{SoundTrack::rain, SoundTrack::fan}}));
    EXPECT_EQ(names->values.back(), "Fan & Rain");
    EXPECT_EQ(persisted(), storedSelection({SoundTrack::rain, SoundTrack::fan}, multiple));
}

TEST_F(SelectionTest, AddingInSingleModeReplacesTheSoundAndPublishesTheChange) {
    start(storedSelection({SoundTrack::rain}, single));
    const auto before = changes->values.size();

    run([&] { return collection->add(SoundTrack::fan); });

    EXPECT_EQ(collection->selectedSoundTracks(), Set{SoundTrack::fan});
    ASSERT_EQ(changes->values.size(), before + 1);
    EXPECT_EQ(changes->values.back(),
              (SelectedSoundTracksChange{Set{SoundTrack::rain}, Set{SoundTrack::fan}}));
    EXPECT_EQ(names->values.back(), "Fan");
    EXPECT_EQ(persisted().currentSoundTracks, Set{SoundTrack::fan});
}

TEST_F(SelectionTest, RemovalNeverEmptiesTheSelection) {
    struct Case {
        Set selected;
        SoundTrack removed;
        bool expectedResult;
        Set expectedSelection;
    };
    const std::vector<Case> cases{
        {{SoundTrack::rain}, SoundTrack::rain, false, {SoundTrack::rain}},
        {{SoundTrack::rain, SoundTrack::fan}, SoundTrack::rain, true, {SoundTrack::fan}},
        {{SoundTrack::rain, SoundTrack::fan, SoundTrack::wind},
         SoundTrack::wind,
         true,
         {SoundTrack::rain, SoundTrack::fan}},
        // Not selected: reported as removable, nothing changes.
        {{SoundTrack::rain, SoundTrack::fan}, SoundTrack::owl, true, {SoundTrack::rain, SoundTrack::fan}},
    };
    for (const auto& [selected, removed, expectedResult, expectedSelection] : cases) {
        SCOPED_TRACE(removed.name() + " from " + std::to_string(selected.size()));
        start(storedSelection(selected, multiple));

        const bool result = run([&] { return collection->remove(removed); });

        EXPECT_EQ(result, expectedResult);
        EXPECT_EQ(collection->selectedSoundTracks(), expectedSelection);
        EXPECT_EQ(persisted().currentSoundTracks, expectedSelection);
    }
}

TEST_F(SelectionTest, RemovingAnUnselectedSoundPublishesNoChangeButRepeatsTheName) {
    start(storedSelection({SoundTrack::rain, SoundTrack::fan}, multiple));
    const auto changesBefore = changes->values.size();
    const auto namesBefore = names->values.size();

    EXPECT_TRUE(run([&] { return collection->remove(SoundTrack::owl); }));

    EXPECT_EQ(changes->values.size(), changesBefore);
    ASSERT_EQ(names->values.size(), namesBefore + 1);
    EXPECT_EQ(names->values.back(), "Fan & Rain");
}

TEST_F(SelectionTest, ToggleRemovesASelectedSoundAndAddsAnUnselectedOne) {
    start(storedSelection({SoundTrack::rain, SoundTrack::fan}, multiple));

    run([&] { return collection->toggle(SoundTrack::fan); });
    EXPECT_EQ(collection->selectedSoundTracks(), Set{SoundTrack::rain});
    // The last sound stays: toggling it off would leave nothing to play.
    run([&] { return collection->toggle(SoundTrack::rain); });
    EXPECT_EQ(collection->selectedSoundTracks(), Set{SoundTrack::rain});
    run([&] { return collection->toggle(SoundTrack::owl); });
    EXPECT_EQ(collection->selectedSoundTracks(), (Set{SoundTrack::rain, SoundTrack::owl}));
}

TEST_F(SelectionTest, SwitchingToSingleModeKeepsOneSoundAndPublishesTheModeAfterTheRemovals) {
    const Set all{SoundTrack::rain, SoundTrack::fan, SoundTrack::wind};
    start(storedSelection(all, multiple));
    // What the selection holds at the moment the mode is published.
    std::vector<std::size_t> selectedWhenPublished;
    auto watcher =
        spawn([&, stream = std::make_shared<AsyncStream<SelectionMode>>(
                      collection->selectionModeSubject()->subscribe())]() -> asio::awaitable<void> {
            while (auto mode = co_await stream->next()) {
                if (*mode == single) {
                    selectedWhenPublished.push_back(collection->selectedSoundTracks().size());
                }
            }
        });

    run([&] { return collection->setSelectionMode(single); });

    ASSERT_EQ(collection->selectedSoundTracks().size(), 1u);
    const auto survivor = *collection->selectedSoundTracks().begin();
    EXPECT_TRUE(all.contains(survivor));
    EXPECT_EQ(collection->selectionMode(), single);
    EXPECT_EQ(modes->values.back(), single);
    EXPECT_EQ(selectedWhenPublished, std::vector<std::size_t>{1});
    EXPECT_EQ(persisted().selectionMode, single);
    EXPECT_EQ(persisted().currentSoundTracks, Set{survivor});
    EXPECT_EQ(changes->values.back().new_, Set{survivor});
    watcher.cancel();
}

TEST_F(SelectionTest, SettingTheSameModeAgainDoesNothing) {
    start(storedSelection({SoundTrack::rain, SoundTrack::fan}, multiple));
    const auto modesBefore = modes->values.size();

    run([&] { return collection->setSelectionMode(multiple); });

    EXPECT_EQ(modes->values.size(), modesBefore);
    EXPECT_EQ(collection->selectedSoundTracks().size(), 2u);
}

TEST_F(SelectionTest, NextAndPreviousWalkTheRingAndCollapseToSingleMode) {
    struct Case {
        Set selected;
        SelectionMode mode;
        bool forward;
        SoundTrack expected;
    };
    const std::vector<Case> cases{
        {{SoundTrack::train}, single, true, SoundTrack::whiteNoise},
        {{SoundTrack::whiteNoise}, single, false, SoundTrack::train},
        {{SoundTrack::jungle}, single, false, SoundTrack::whiteNoise},
        // Fan's name sorts before rain's, so the walk starts from fan.
        {{SoundTrack::fan, SoundTrack::rain}, multiple, true, SoundTrack::womb},
        {{SoundTrack::fan, SoundTrack::rain}, multiple, false, SoundTrack::thunder},
        // Ordered by name, not by raw value: "Air Traffic Control" (48) comes before "Brown Noise" (0).
        {{SoundTrack::whiteNoise, SoundTrack::airtraffic}, multiple, true, SoundTrack::train},
    };
    for (const auto& [selected, mode, forward, expected] : cases) {
        SCOPED_TRACE(expected.name());
        start(storedSelection(selected, mode));

        run([&] { return forward ? collection->selectNext() : collection->selectPrevious(); });

        EXPECT_EQ(collection->selectedSoundTracks(), Set{expected});
        EXPECT_EQ(collection->selectionMode(), single);
        EXPECT_EQ(persisted().selectionMode, single);
        EXPECT_EQ(persisted().currentSoundTracks, Set{expected});
        EXPECT_EQ(names->values.back(), expected.name());
    }
    EXPECT_TRUE(assertions().empty());
}

TEST_F(SelectionTest, NextAndPreviousReportWhatTheyCannotFind) {
    // Nothing selected: the persisted selection was empty.
    start(storedSelection({}, single));
    // Named by the start-up, by the selection's follow-up and by the (empty) mix's follow-up.
    const Assertion noName{"The should be at least one soundtrack selected", "getSelectionName()", 265};
    EXPECT_EQ(assertions(), (std::vector<Assertion>{noName, noName, noName}));
    analytics.clear();
    run([&] { return collection->selectNext(); });
    run([&] { return collection->selectPrevious(); });
    EXPECT_EQ(assertions(),
              (std::vector<Assertion>{{"Where's this index come from", "selectNext()", 147},
                                      {"Where's this index come from", "selectPrevious()", 184}}));
    EXPECT_TRUE(collection->selectedSoundTracks().empty());

    // A selected sound the ring does not offer.
    analytics.clear();
    start(storedSelection({SoundTrack::owl}, single), {SoundTrack::rain, SoundTrack::fan});
    run([&] { return collection->selectNext(); });
    run([&] { return collection->selectPrevious(); });
    EXPECT_EQ(assertions(),
              (std::vector<Assertion>{{"Where's this index come from", "getSoundTrack(after:)", 155},
                                      {"Where's this index come from", "selectNext()", 173},
                                      {"Where's this index come from", "getSoundTrack(before:)", 192},
                                      {"Where's this index come from", "selectPrevious()", 210}}));
    EXPECT_EQ(collection->selectedSoundTracks(), Set{SoundTrack::owl});
}

TEST_F(SelectionTest, SelectionNamesFollowTheCountAndTheDisplayNameOrder) {
    struct Case {
        Set selected;
        std::string expected;
    };
    const std::vector<Case> cases{
        {{SoundTrack::rain}, "Rain"},
        {{SoundTrack::rain, SoundTrack::fan}, "Fan & Rain"},
        {{SoundTrack::fan, SoundTrack::rain}, "Fan & Rain"},
        {{SoundTrack::whiteNoiseReal, SoundTrack::airtraffic}, "Air Traffic Control & White Noise"},
        {{SoundTrack::rain, SoundTrack::fan, SoundTrack::wind}, "3 Sounds Selected"},
        {{SoundTrack::rain, SoundTrack::fan, SoundTrack::wind, SoundTrack::owl, SoundTrack::train,
          SoundTrack::car, SoundTrack::cat, SoundTrack::hail, SoundTrack::drip, SoundTrack::bowl,
          SoundTrack::beach, SoundTrack::fire},
         "12 Sounds Selected"},
    };
    for (const auto& [selected, expected] : cases) {
        start(storedSelection(selected, multiple));
        EXPECT_EQ(collection->selectionNameSubject()->currentValue(), expected);
    }
}

TEST_F(SelectionTest, FavouritesAreSavedWithAnEventAndDeletedWithout) {
    start(storedSelection({SoundTrack::rain}, single));

    run([&] { return collection->saveFavourite(SoundTrack::fan); });
    run([&] { return collection->saveFavourite(SoundTrack::whiteNoise); });
    EXPECT_TRUE(run([&] { return collection->isFavourite(SoundTrack::fan); }));
    EXPECT_FALSE(run([&] { return collection->isFavourite(SoundTrack::rain); }));
    const auto rest = run([&] { return collection->allSoundTracksExcludingFavourites(); });
    ASSERT_EQ(rest.size(), 48u);
    EXPECT_EQ(rest.front(), SoundTrack::jungle);
    EXPECT_TRUE(std::is_sorted(rest.begin(), rest.end(),
                               [](SoundTrack a, SoundTrack b) { return a.rawValue() < b.rawValue(); }));
    EXPECT_EQ(std::count(rest.begin(), rest.end(), SoundTrack::fan), 0);

    run([&] { return collection->deleteFavourite(SoundTrack::fan); });
    EXPECT_FALSE(run([&] { return collection->isFavourite(SoundTrack::fan); }));
    const auto events = analytics.events();
    ASSERT_EQ(events.size(), 2u);
    for (const auto& event : events) {
        EXPECT_EQ(event.name, "favourited_sound");
        EXPECT_FALSE(event.parameters.has_value());
    }
}

} // namespace
} // namespace somnara::test
