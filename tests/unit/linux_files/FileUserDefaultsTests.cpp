#include "support/TemporaryDirectory.hpp"

#include <somnara/foundation/AtomicFile.hpp>
#include <somnara/linux/files/FileUserDefaults.hpp>
#include <somnara/linux/files/XdgFileLocations.hpp>

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <limits>
#include <string>
#include <thread>
#include <vector>

namespace somnara {
namespace {

namespace fs = std::filesystem;
using Value = UserDefaultsValue;

Value::Dictionary everyKind() {
    Value::Array array{Value(1), Value("two"), Value(3.5), Value(Value::Data{0, 255, 10})};
    Value::Dictionary nested{{"flag", Value(false)}, {"when", Value(Date{-12.25})}};
    return {
        {"data", Value(Value::Data{0x00, 0x01, 0xfe, 0xff, '{', '"'})},
        {"emptyData", Value(Value::Data{})},
        {"date", Value(Date{788'918'400.125})},
        {"integer", Value(std::int64_t{-9'007'199'254'740'993})},
        {"largest", Value(std::numeric_limits<std::int64_t>::max())},
        {"double", Value(0.1)},
        {"wholeDouble", Value(2.0)},
        {"infinity", Value(std::numeric_limits<double>::infinity())},
        {"string", Value("héllo \"quoted\"")},
        {"numericString", Value("42")},
        {"bool", Value(true)},
        {"array", Value(array)},
        {"dictionary", Value(nested)},
        // Dictionaries that look like the tags values are written with.
        {"lookalike", Value(Value::Dictionary{{"$date", Value("not a date")}})},
        {"lookalike2", Value(Value::Dictionary{{"$dictionary", Value(Value::Dictionary{})}})},
    };
}

// Values of different kinds never compare equal, so comparing the reloaded dictionary checks every kind.
TEST(FileUserDefaults, EveryKindOfValueSurvivesAReloadWithItsTypeAndConvertsAsThePlatformDoes) {
    test::TemporaryDirectory directory;
    const auto file = directory / "standard.json";
    {
        FileUserDefaults defaults(file);
        for (const auto& [key, value] : everyKind()) {
            defaults.set(value, key);
        }
        defaults.set(std::numeric_limits<double>::quiet_NaN(), "nan");
    }
    FileUserDefaults defaults(file);
    EXPECT_TRUE(std::isnan(defaults.doubleValue("nan")));
    defaults.removeObject("nan");
    EXPECT_EQ(defaults.dictionaryRepresentation(), everyKind());

    defaults.set(-2.75, "negative");
    defaults.set("yes", "yesString");
    defaults.set("1e400", "hugeString");
    struct Case {
        const char* key;
        std::int64_t integer;
        double number;
        bool flag;
        std::optional<std::string> text;
    };
    const std::vector<Case> cases{
        {"integer", -9'007'199'254'740'993, -9'007'199'254'740'993.0, true, "-9007199254740993"},
        {"double", 0, 0.1, true, "0.1"},
        {"negative", -2, -2.75, true, "-2.75"},
        {"numericString", 42, 42.0, true, "42"},
        {"yesString", 0, 0.0, true, "yes"},
        {"hugeString", 0, 0.0, false, "1e400"},
        {"bool", 1, 1.0, true, std::nullopt},
        {"infinity", 0, std::numeric_limits<double>::infinity(), true, "inf"},
        {"date", 0, 0.0, false, std::nullopt},
        {"missing", 0, 0.0, false, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(defaults.integer(c.key), c.integer) << c.key;
        EXPECT_EQ(defaults.doubleValue(c.key), c.number) << c.key;
        EXPECT_EQ(defaults.boolValue(c.key), c.flag) << c.key;
        EXPECT_EQ(defaults.string(c.key), c.text) << c.key;
    }
    EXPECT_EQ(defaults.date("date"), Date{788'918'400.125});
    EXPECT_EQ(defaults.date("double"), std::nullopt);
    EXPECT_EQ(defaults.data("data"), (Value::Data{0x00, 0x01, 0xfe, 0xff, '{', '"'}));
    EXPECT_EQ(defaults.data("string"), std::nullopt);
    EXPECT_EQ(defaults.array("array")->size(), 4U);
    EXPECT_EQ(defaults.dictionary("array"), std::nullopt);
}

TEST(FileUserDefaults, DamagedFilesAreKeptAsideOnceAndReadAsWhatCouldBeDecoded) {
    test::TemporaryDirectory directory;
    EXPECT_TRUE(FileUserDefaults(directory / "missing.json").dictionaryRepresentation().empty());
    EXPECT_TRUE(FileUserDefaults(directory / "no/such/dir/x.json").dictionaryRepresentation().empty());
    EXPECT_TRUE(FileUserDefaults(directory / "no/such/dir/x.json").failedWrites().empty());

    const struct {
        std::string contents;
        Value::Dictionary readable;
    } cases[] = {
        {"{", {}},
        {"[1,2]", {}},
        {"null", {}},
        {"\"text\"", {}},
        {std::string("\0\xff\xfe", 3), {}},
        {std::string(10'000, '{'), {}},
        // Values a reader cannot understand are skipped; the rest is kept. Null means unset.
        {R"({"good":1,"badData":{"$data":"@@@"},"nothing":null,"badTag":{"$what":1},"list":[1,null]})",
         {{"good", Value(1)}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.contents.substr(0, 20));
        const test::TemporaryDirectory folder;
        const auto path = folder / "damaged.json";
        writeFileAtomically(path, c.contents);
        EXPECT_EQ(FileUserDefaults(path).dictionaryRepresentation(), c.readable);
        // The damaged version is kept beside the file, which now holds what could be read, so that a
        // second reader has nothing more to keep or say.
        EXPECT_EQ(FileUserDefaults(path).dictionaryRepresentation(), c.readable);
        std::vector<std::string> kept;
        for (const auto& entry : fs::directory_iterator(folder.path())) {
            if (entry.path().filename().string().starts_with("damaged.json.corrupt-")) {
                kept.push_back(*readWholeFile(entry.path()));
            }
        }
        EXPECT_EQ(kept, std::vector<std::string>{c.contents});

        FileUserDefaults defaults(path);
        defaults.set(1, "fresh");
        auto expected = c.readable;
        expected.insert_or_assign("fresh", Value(1));
        EXPECT_EQ(FileUserDefaults(path).dictionaryRepresentation(), expected);
    }
}

TEST(FileUserDefaults, AFailedWriteIsRecorded) {
    test::TemporaryDirectory directory;
    // A directory where the lock file should be: the write cannot take its lock.
    fs::create_directories(directory / "defaults.json.lock/child");
    FileUserDefaults defaults(directory / "defaults.json");
    defaults.set(1, "key");
    ASSERT_EQ(defaults.failedWrites().size(), 1U);
    EXPECT_NE(defaults.failedWrites()[0].find("defaults.json"), std::string::npos)
        << defaults.failedWrites()[0];
}

TEST(FileUserDefaults, ChangesAreSeenByOtherInstancesOfTheSameFile) {
    test::TemporaryDirectory directory;
    const auto file = directory / "group.somnara.json";
    FileUserDefaults app(file);
    FileUserDefaults daemon(file);
    app.set("a", "fromApp");
    EXPECT_EQ(daemon.string("fromApp"), "a");
    daemon.set("d", "fromDaemon");
    daemon.removeObject("fromApp");
    EXPECT_EQ(app.dictionaryRepresentation(), (Value::Dictionary{{"fromDaemon", Value("d")}}));
    // Many quick replacements in a row: each one must be noticed, even within one clock tick.
    for (int i = 0; i < 60; ++i) {
        app.set(i, "counter");
        ASSERT_EQ(daemon.integer("counter"), i);
    }
}

// Processes, and threads of one process through instances of their own, writing different keys at once.
TEST(FileUserDefaults, ProcessesAndThreadsWritingDifferentKeysConcurrentlyLoseNothing) {
    test::TemporaryDirectory directory;
    const auto file = directory / "group.somnara.json";
    constexpr int processes = 3;
    constexpr int keysEach = 40;
    const auto key = [](int p, int t, int i) {
        return "p" + std::to_string(p) + "t" + std::to_string(t) + "k" + std::to_string(i);
    };
    const auto value = [](int p, int i) {
        return Value(Value::Data{static_cast<std::uint8_t>(p), static_cast<std::uint8_t>(i)});
    };
    std::vector<pid_t> children;
    for (int p = 0; p < processes; ++p) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const auto write = [&](int t) {
                FileUserDefaults defaults(file);
                for (int i = 0; i < keysEach; ++i) {
                    defaults.set(value(p, i), key(p, t, i));
                }
            };
            std::thread second(write, 1);
            write(0);
            second.join();
            ::_exit(0);
        }
        children.push_back(child);
    }
    for (const pid_t child : children) {
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    Value::Dictionary expected;
    for (int p = 0; p < processes; ++p) {
        for (int i = 0; i < keysEach; ++i) {
            expected.emplace(key(p, 0, i), value(p, i));
            expected.emplace(key(p, 1, i), value(p, i));
        }
    }
    EXPECT_EQ(FileUserDefaults(file).dictionaryRepresentation(), expected);
}

TEST(FileUserDefaults, WithoutAFileTheyLiveInMemory) {
    FileUserDefaults defaults(std::nullopt);
    defaults.set(Date{5}, "when");
    EXPECT_EQ(defaults.date("when"), Date{5});
    defaults.removeObject("when");
    EXPECT_TRUE(defaults.dictionaryRepresentation().empty());
}

TEST(UserDefaultsShared, LiveInTheUserDefaultsDirectoryAndCanBeRepointed) {
    test::TemporaryDirectory first;
    test::TemporaryDirectory second;
    FileLocations::setShared(std::make_shared<XdgFileLocations>(
        XdgFileLocations::Environment{first.path().string(), std::nullopt, std::nullopt, std::nullopt}));
    UserDefaults::resetShared();
    EXPECT_EQ(UserDefaults::standard(), UserDefaults::standard());
    EXPECT_EQ(UserDefaults::suite(UserDefaults::appGroupSuiteName), UserDefaults::suite("group.somnara"));
    EXPECT_NE(UserDefaults::standard(), UserDefaults::suite("group.somnara"));
    UserDefaults::standard()->set(1, "standardKey");
    UserDefaults::suite("group.somnara")->set(2, "suiteKey");
    for (const char* bad : {"", ".", "..", "../escape", "/etc"}) {
        EXPECT_THROW(UserDefaults::suite(bad), std::invalid_argument) << bad;
    }
    EXPECT_EQ(FileUserDefaults(first / "defaults/standard.json").integer("standardKey"), 1);
    EXPECT_EQ(FileUserDefaults(first / "defaults/group.somnara.json").integer("suiteKey"), 2);
    EXPECT_EQ(UserDefaults::standard()->integer("suiteKey"), 0);

    FileLocations::setShared(std::make_shared<XdgFileLocations>(
        XdgFileLocations::Environment{second.path().string(), std::nullopt, std::nullopt, std::nullopt}));
    UserDefaults::resetShared();
    EXPECT_EQ(UserDefaults::standard()->integer("standardKey"), 0);

    UserDefaults::resetShared();
    FileLocations::setShared(nullptr);
}

} // namespace
} // namespace somnara
