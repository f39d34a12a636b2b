#include "RunSomnara.hpp"
#include "support/TemporaryDirectory.hpp"

#include <somnara/foundation/AtomicFile.hpp>

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

using namespace somnara;

namespace {

namespace fs = std::filesystem;

/// One home the cases fill, make read-only or take away; the sync folder is the default below it.
class Failures : public ::testing::Test {
protected:
    test::Outcome somnara(const std::string& arguments) {
        // A command that hangs fails the case instead of the whole run.
        return test::runOnStoredState("SOMNARA_HOME='" + home.string() + "' timeout -s KILL 60", arguments);
    }

    test::TemporaryDirectory directory{"somnara-failures"};
    fs::path home = directory / "home";
};

TEST_F(Failures, BadArgumentsAreRefusedChangingNothingAndNamesPrintEscaped) {
    const struct {
        std::string arguments;
        bool succeeds;
        std::string said;
    } cases[] = {
        {"mixes save \"$(printf 'bad\\377')\"", false, "must be UTF-8 text; \"bad\\xff\" is not"},
        {"mixes save \"$(printf 'red\\033[31m\\nline')\"", true, "Saved \"red\\x1b[31m\\nline\""},
        {"mixes list", true, "red\\x1b[31m\\nline:"},
        {"volume rain -inf", false, "a volume is a number from 0 to 1, not \"-inf\""},
        {"remove waves", false, "Waves is not selected"},
        {"stats --at 9999-12-31", false, "outside the calendar's years"},
        {"stats --at 2026-01-01T00:00:00+99:00", false, "UTC offset beyond"},
        {"render rain -d 1e15 -o '" + (directory / "a.wav").string() + "'", false, "longer than a week"},
        {"render rain -d 1e11h -o '" + (directory / "a.wav").string() + "'", false, "longer than a week"},
        {"render rain -d 1e-9 -o '" + (directory / "a.flac").string() + "'", false, "shorter than one frame"},
        {"render rain --duration soon", false, "is not a duration"},
        {"render rain --duration -5", false, "is not a duration"},
        {"render rain --output mix.mp3", false, "must end in .wav or .flac"},
        {"render rain --volume rain=2", false, "SOUND=VOLUME"},
        {"render rain --volume waves=0.5", false, "is not among the sounds"},
        {"favourites add rian", false, "no sound is called \"rian\"; did you mean Rain"},
        {"favourites list", true, "No favourites yet."},
        {"add rian", false, "did you mean Rain"},
        {"volume rain 1.5", false, "a volume is a number from 0 to 1, not \"1.5\""},
        {"mode triple", false, "triple not in {single,multiple}"},
        {"mixes select Nothing", false, "no saved mix is named \"Nothing\""},
        {"remove rain", true, "Rain is the only sound selected and stays"},
    };
    for (const auto& c : cases) {
        const auto before = somnara("status --json").output;
        const auto outcome = somnara(c.arguments);
        EXPECT_EQ(outcome.status == 0, c.succeeds) << c.arguments << ": " << outcome.output;
        EXPECT_NE(outcome.output.find(c.said), std::string::npos) << c.arguments << ": " << outcome.output;
        EXPECT_EQ(outcome.output.find('\033'), std::string::npos) << c.arguments << ": printed raw";
        if (!c.succeeds) {
            EXPECT_EQ(somnara("status --json").output, before) << c.arguments << " changed the selection";
        }
    }
    EXPECT_FALSE(fs::exists(directory / "a.wav") || fs::exists(directory / "a.flac") ||
                 fs::exists("mix.mp3"));
}

TEST_F(Failures, ParallelCommandsOfOneHomeKeepEveryChange) {
    const struct {
        std::string command;
        int count;
        std::string list;
        std::string marker;
    } cases[] = {
        {"mixes save NAME_$i", 20, "mixes list", "NAME_"},
        {"favourites add \"${sounds[$i]}\"", 6, "favourites list", " ("},
    };
    for (const auto& c : cases) {
        const auto script = directory / "parallel.sh";
        writeFileAtomically(script, "export DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent SOMNARA_HOME='" +
                                        home.string() +
                                        "'\nsounds=(rain waves fan wind thunder fire)\nfor i in $(seq 0 " +
                                        std::to_string(c.count - 1) + "); do '" +
                                        test::somnaraProgram().string() + "' " + c.command +
                                        " >/dev/null & done\nfailed=0\nfor job in $(jobs -p); do "
                                        "wait $job || failed=1; done\nexit $failed\n");
        EXPECT_EQ(std::system(("bash '" + script.string() + "'").c_str()), 0) << c.command;
        const auto listed = somnara(c.list).output;
        int found = 0;
        for (std::size_t at = 0; (at = listed.find(c.marker, at)) != std::string::npos;
             at += c.marker.size()) {
            ++found;
        }
        EXPECT_EQ(found, c.count) << c.command << ":\n" << listed;
    }
}

/// Starts the program with `arguments` in `home`, kills it with SIGKILL as soon as a file whose name
/// holds `fragment` appears in `watched` (the temporary file of a write in progress), and reaps it.
/// False when the file never appeared before the program ended.
bool killDuringWrite(const fs::path& home, const std::string& arguments, const fs::path& watched,
                     const std::string& fragment) {
    const int watch = ::inotify_init1(IN_CLOEXEC);
    fs::create_directories(watched);
    ::inotify_add_watch(watch, watched.c_str(), IN_CREATE | IN_MOVED_TO);
    test::SomnaraProcess program(
        "SOMNARA_HOME='" + home.string() + "' DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent", arguments);
    bool seen = false;
    alignas(inotify_event) char buffer[4096];
    pollfd ready{watch, POLLIN, 0};
    while (!seen && ::poll(&ready, 1, 60'000) > 0) {
        const auto length = ::read(watch, buffer, sizeof buffer);
        for (ssize_t at = 0; at < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            seen = seen || (event->len > 0 && std::string(event->name).find(fragment) != std::string::npos);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    program.kill();
    ::close(watch);
    return seen;
}

// The render writes a partial file beside its target and renames it: killed midway, the old file stays.
TEST_F(Failures, AKilledRenderLeavesTheOldFileWhole) {
    const auto output = directory / "mix.wav";
    writeFileAtomically(output, "the old render");
    EXPECT_TRUE(killDuringWrite(home, "render rain -d 1h -o '" + output.string() + "'", directory.path(),
                                ".partial"));
    EXPECT_EQ(readWholeFile(output), "the old render");
}

/// A small tmpfs mounted for the test's life; `mounted` is false where the test may not mount one.
class SmallDisk {
public:
    explicit SmallDisk(const fs::path& where) : where_(where) {
        fs::create_directories(where_);
        mounted = ::mount("tmpfs", where_.c_str(), "tmpfs", 0, "size=1m") == 0;
    }
    ~SmallDisk() {
        if (mounted) {
            ::umount2(where_.c_str(), MNT_DETACH);
        }
    }
    bool remountReadOnly() const {
        return ::mount("tmpfs", where_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=1m") == 0;
    }
    /// Takes every free byte, so that the next write fails with ENOSPC.
    void fill() const {
        const auto filler = where_ / "filler";
        FILE* file = std::fopen(filler.c_str(), "w");
        const std::string block(4096, 'x');
        while (file != nullptr && std::fwrite(block.data(), 1, block.size(), file) == block.size() &&
               std::fflush(file) == 0) {
        }
        if (file != nullptr) {
            std::fclose(file);
        }
    }

    bool mounted = false;

private:
    fs::path where_;
};

TEST_F(Failures, AReadOnlyHomeAFullDiskAndUnusableFoldersAreSaid) {
    home = directory / "disk" / "home";
    SmallDisk disk{directory / "disk"};
    if (!disk.mounted) {
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root and mount rights); read-only and full-disk "
                        "cases not run";
    }
    // A home in use, with a render to keep.
    ASSERT_EQ(somnara("favourites add fan").status, 0);
    writeFileAtomically(home / "mix.wav", "the old render");

    const struct {
        std::string name;
        std::function<void()> prepare;
        std::string arguments;
        bool succeeds;
        std::string said;
    } cases[] = {
        {"a file as the sync folder", [&] { writeFileAtomically(directory / "file", ""); },
         "favourites add rain --sync-folder '" + (directory / "file").string() + "'", false,
         "cannot use the sync folder"},
        {"a file as the home", [] {}, "status", false, "cannot create the folder"},
        {"full: add a favourite", [&] { disk.fill(); }, "favourites add rain", false, "not saved"},
        {"full: save a mix", [] {}, "mixes save Evening", false, "not saved"},
        {"full: change a volume", [] {}, "volume fan 0.5", false, "not saved"},
        {"full: render over a file", [] {}, "render rain -d 5s -o '" + (home / "mix.wav").string() + "'",
         false, "No space left on device"},
        {"read-only: list", [&] { ASSERT_TRUE(disk.remountReadOnly()); }, "favourites list", true,
         "Fan (fan)"},
        {"read-only: delete a mix", [] {}, "mixes delete Evening", false, "Read-only file system"},
        {"read-only: a home that cannot be created", [&] { home /= "new"; }, "status", false,
         "cannot create the folder"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.prepare();
        auto outcome =
            c.name == "a file as the home"
                ? test::runOnStoredState("SOMNARA_HOME='" + (directory / "file").string() + "'", c.arguments)
                : somnara(c.arguments);
        EXPECT_EQ(outcome.status == 0, c.succeeds) << outcome.output;
        EXPECT_NE(outcome.status, 134) << "aborted";
        EXPECT_NE(outcome.output.find(c.said), std::string::npos) << outcome.output;
    }
    home = directory / "disk" / "home";
    EXPECT_EQ(readWholeFile(home / "mix.wav"), "the old render");
    EXPECT_EQ(somnara("favourites list").output, "Fan (fan)\n");
}

} // namespace
