#include "support/Recorders.hpp"
#include "support/ScopedEnvironment.hpp"
#include "support/TemporaryDirectory.hpp"
#include "support/TestLoop.hpp"

#include <somnara/foundation/AtomicFile.hpp>
#include <somnara/linux/files/FileUserDefaults.hpp>
#include <somnara/platform/FileLocations.hpp>
#include <somnara/runtime/Sleep.hpp>
#include <somnara/settings/NoisePlayerSettingsStore.hpp>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <vector>

namespace somnara {
namespace {

using namespace std::chrono_literals;

class NoisePlayerSettingsStoreTest : public test::LoopTest {
protected:
    test::TemporaryDirectory directory;
    std::filesystem::path defaultsFile = directory / "standard.json";
    std::filesystem::path legacyFile = directory / "settings";
    std::shared_ptr<FileUserDefaults> defaults = std::make_shared<FileUserDefaults>(defaultsFile);

    std::shared_ptr<NoisePlayerSettingsStore> makeStore() {
        return NoisePlayerSettingsStore::make(defaults, legacyFile);
    }

    /// What another process would read from the user defaults file now.
    std::optional<NoisePlayerSettings> stored() const {
        const auto data = FileUserDefaults(defaultsFile).data(NoisePlayerSettingsStore::userDefaultsKey);
        if (!data) {
            return std::nullopt;
        }
        return NoisePlayerSettings::decode(std::string(data->begin(), data->end()));
    }

    void storeData(const std::string& text) {
        defaults->set(UserDefaultsValue::Data(text.begin(), text.end()),
                      NoisePlayerSettingsStore::userDefaultsKey);
    }

    static NoisePlayerSettings custom() {
        return NoisePlayerSettings()
            .withSelectionMode(SelectionMode::multiple)
            .withCurrentSoundTracks({SoundTrack::fan});
    }
};

TEST_F(NoisePlayerSettingsStoreTest, FirstLaunchPublishesNoneAndThenTheDefaults) {
    auto store = makeStore();
    const test::StreamRecorder published(store->noisePlayerSettingsSubject());
    loop.runUntilIdle();
    ASSERT_EQ(published.values.size(), 2U);
    EXPECT_EQ(published.values[0], std::nullopt);
    EXPECT_EQ(published.values[1], NoisePlayerSettings::defaultValue());
    EXPECT_EQ(run([&] { return store->noisePlayerSettings(); }).currentSoundTracks,
              NoisePlayerSettings::SoundTracks{SoundTrack::rain});
    // Loading writes nothing back.
    EXPECT_EQ(stored(), std::nullopt);
}

TEST_F(NoisePlayerSettingsStoreTest, ChoosesWhereToLoadFrom) {
    const auto fromDefaults = NoisePlayerSettings().withAudioAllowsMixWithOthers(true);
    const auto fromFile = custom();
    struct Case {
        const char* name;
        std::optional<std::string> data;
        std::optional<std::string> file;
        NoisePlayerSettings expected;
    };
    const std::vector<Case> cases{
        {"user defaults win over the file", fromDefaults.encode(), fromFile.encode(), fromDefaults},
        {"corrupt user defaults give the defaults, not the file", "{\"currentSoundTracks\":[",
         fromFile.encode(), NoisePlayerSettings::defaultValue()},
        {"no user defaults: the file", std::nullopt, fromFile.encode(), fromFile},
        {"corrupt file", std::nullopt, "not json", NoisePlayerSettings::defaultValue()},
        {"nothing", std::nullopt, std::nullopt, NoisePlayerSettings::defaultValue()},
    };
    for (const auto& c : cases) {
        defaults->removeObject(NoisePlayerSettingsStore::userDefaultsKey);
        std::filesystem::remove(legacyFile);
        if (c.data) {
            storeData(*c.data);
        }
        if (c.file) {
            writeFileAtomically(legacyFile, *c.file);
        }
        auto store = makeStore();
        EXPECT_EQ(run([&] { return store->noisePlayerSettings(); }), c.expected) << c.name;
    }
    // A value of another type under the key is no settings data: the file is read.
    defaults->set("text", NoisePlayerSettingsStore::userDefaultsKey);
    writeFileAtomically(legacyFile, fromFile.encode());
    auto store = makeStore();
    EXPECT_EQ(run([&] { return store->noisePlayerSettings(); }), fromFile);
}

TEST_F(NoisePlayerSettingsStoreTest, NeverWritesTheLegacyFile) {
    const auto legacy = custom().encode();
    writeFileAtomically(legacyFile, legacy);
    struct stat before {};
    ASSERT_EQ(::stat(legacyFile.c_str(), &before), 0);
    auto store = makeStore();
    run([&]() -> asio::awaitable<void> {
        co_await store->setSoundSettings(SoundSettings().withReverb(3.0F));
        co_await store->resetReverb();
    });
    struct stat after {};
    ASSERT_EQ(::stat(legacyFile.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(readWholeFile(legacyFile), legacy);
    // The legacy settings were read, changed and saved under the key.
    EXPECT_EQ(stored(), custom());
}

TEST_F(NoisePlayerSettingsStoreTest, EveryWriteIsPublishedAndSavedInOrder) {
    auto store = makeStore();
    const test::StreamRecorder published(store->noisePlayerSettingsSubject());
    loop.runUntilIdle();
    const auto first = NoisePlayerSettings().withSelectionMode(SelectionMode::multiple);
    const auto second = first.withAudioAllowsMixWithOthers(true);
    run([&]() -> asio::awaitable<void> {
        co_await store->setNoisePlayerSettings(first);
        co_await store->setNoisePlayerSettings(second);
    });
    EXPECT_EQ(run([&] { return store->noisePlayerSettings(); }), second);
    EXPECT_EQ(store->noisePlayerSettingsSubject()->currentValue(), second);
    EXPECT_EQ(stored(), second);
    ASSERT_EQ(published.values.size(), 4U);
    EXPECT_EQ(published.values[2], first);
    EXPECT_EQ(published.values[3], second);

    // Each write on its own turn is saved before the next.
    for (const float reverb : {1.0F, 2.0F, 3.0F}) {
        run([&] { return store->setSoundSettings(second.soundSettings.withReverb(reverb)); });
        ASSERT_TRUE(stored());
        EXPECT_EQ(stored()->soundSettings.reverb, reverb);
        EXPECT_EQ(stored()->selectionMode, SelectionMode::multiple);
    }
    EXPECT_TRUE(run([&] { return store->waitForSave(); }));
    // A value JSON has no text for stores nothing: the saved settings stay whole.
    run([&] { return store->setSoundSettings(second.soundSettings.withReverb(NAN)); });
    EXPECT_FALSE(run([&] { return store->waitForSave(); }));
    // And a new store, as at the next launch, starts from what was saved.
    auto next = makeStore();
    EXPECT_EQ(run([&] { return next->noisePlayerSettings(); }).soundSettings.reverb, 3.0F);
}

TEST_F(NoisePlayerSettingsStoreTest, SingleResetsTouchOnlyTheirPart) {
    SoundSettings changed;
    changed.volume = 0.4F;
    changed.speed = 1.5F;
    changed.reverb = 20.0F;
    changed.equalizerGainLevels[4] = 6.0F;
    changed.pitch = 100.0F;
    changed.oscillation = {3.0, 0.5F};
    changed.delay = {0.5, 10.0F, 20.0F};
    using Reset = asio::awaitable<void> (NoisePlayerSettingsStore::*)();
    struct Case {
        const char* name;
        Reset reset;
        SoundSettings expected;
    };
    const auto defaults = SoundSettings::defaultValue();
    const std::vector<Case> cases{
        {"volume", &NoisePlayerSettingsStore::resetVolume, changed.withVolume(1.0F)},
        {"speed", &NoisePlayerSettingsStore::resetSpeed, changed.withSpeed(1.0F)},
        {"reverb", &NoisePlayerSettingsStore::resetReverb, changed.withReverb(0.0F)},
        {"pitch", &NoisePlayerSettingsStore::resetPitch, changed.withPitch(0.0F)},
        {"gains", &NoisePlayerSettingsStore::resetEqualizerGainLevels,
         changed.withEqualizerGainLevels(defaults.equalizerGainLevels)},
        {"oscillation", &NoisePlayerSettingsStore::resetOscillation, changed.withOscillation({10.0, 0.0F})},
        {"delay", &NoisePlayerSettingsStore::resetDelay, changed.withDelay({1.0, 0.0F, 0.0F})},
        {"all", &NoisePlayerSettingsStore::resetAllSoundSettings, defaults},
    };
    auto store = makeStore();
    const auto others = custom();
    for (const auto& c : cases) {
        run([&]() -> asio::awaitable<void> {
            co_await store->setNoisePlayerSettings(others.withSoundSettings(changed));
            co_await ((*store).*(c.reset))();
        });
        const auto expected = others.withSoundSettings(c.expected);
        EXPECT_EQ(run([&] { return store->noisePlayerSettings(); }), expected) << c.name;
        EXPECT_EQ(stored(), expected) << c.name;
        EXPECT_EQ(store->noisePlayerSettingsSubject()->currentValue(), expected) << c.name;
    }
}

// Two tasks change different fields, each after waiting: through `update` both changes survive,
// whereas reading, waiting and then writing loses the other task's change.
TEST_F(NoisePlayerSettingsStoreTest, UpdateAppliesEachChangeToTheNewestSettings) {
    auto store = makeStore();
    loop.runUntilIdle();
    const auto changeAfter = [store](Seconds wait,
                                     std::function<NoisePlayerSettings(NoisePlayerSettings)> change) {
        return spawn([store, wait, change]() -> asio::awaitable<void> {
            co_await sleep(wait);
            co_await store->update(change);
        });
    };
    changeAfter(2s, [](NoisePlayerSettings s) { return s.withAudioAllowsMixWithOthers(true); });
    changeAfter(1s, [](NoisePlayerSettings s) { return s.withSelectionMode(SelectionMode::multiple); });
    changeAfter(3s,
                [](NoisePlayerSettings s) { return s.withSoundSettings(s.soundSettings.withPitch(50.0F)); });
    loop.advance(5s);
    const auto expected = NoisePlayerSettings()
                              .withAudioAllowsMixWithOthers(true)
                              .withSelectionMode(SelectionMode::multiple)
                              .withSoundSettings(SoundSettings().withPitch(50.0F));
    EXPECT_EQ(run([&] { return store->noisePlayerSettings(); }), expected);
    EXPECT_EQ(stored(), expected);

    // The same interleaving with a read before the wait loses a change: the test above is meaningful.
    defaults->removeObject(NoisePlayerSettingsStore::userDefaultsKey);
    auto naive = makeStore();
    spawn([naive]() -> asio::awaitable<void> {
        auto settings = co_await naive->noisePlayerSettings();
        co_await sleep(2s);
        co_await naive->setNoisePlayerSettings(settings.withAudioAllowsMixWithOthers(false));
    });
    spawn([naive]() -> asio::awaitable<void> {
        co_await sleep(1s);
        co_await naive->update(
            [](NoisePlayerSettings s) { return s.withSelectionMode(SelectionMode::multiple); });
    });
    loop.advance(3s);
    EXPECT_EQ(run([&] { return naive->noisePlayerSettings(); }).selectionMode, SelectionMode::single);
}

TEST(NoisePlayerSettingsStoreDeathTest, NoDocumentsDirectoryEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    test::TemporaryDirectory directory;
    // A file where the documents directory should be: the platform cannot make one.
    writeFileAtomically(directory / "blocked", "");
    test::ScopedEnvironment environment("SOMNARA_HOME", (directory / "blocked").string());
    FileLocations::setShared(nullptr);
    EXPECT_DEATH(NoisePlayerSettingsStore::localDataPath(),
                 "SomnaraKit/NoisePlayerSettings:109: Fatal error: Can't find documents directory");
    environment.set("SOMNARA_HOME", directory.path().string());
    FileLocations::setShared(nullptr);
    EXPECT_EQ(NoisePlayerSettingsStore::localDataPath(), directory / "settings");
    FileLocations::setShared(nullptr);
}

} // namespace
} // namespace somnara
