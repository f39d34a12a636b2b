#include "support/TemporaryDirectory.hpp"

#include <somnara/foundation/AtomicFile.hpp>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>

namespace somnara {
namespace {

namespace fs = std::filesystem;

std::size_t entriesIn(const fs::path& directory) {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(directory), fs::directory_iterator()));
}

TEST(AtomicFile, ReplacesTheWholeFileKeepingItsModeAndLeavesNoTemporaryBehind) {
    test::TemporaryDirectory directory;
    const auto path = directory / "settings";
    EXPECT_EQ(readWholeFile(path), std::nullopt);

    for (const auto& contents :
         {std::string(100'000, 'a'), std::string("short"), std::string("with\0nul", 8), std::string()}) {
        writeFileAtomically(path, contents);
        EXPECT_EQ(readWholeFile(path), contents);
    }
    EXPECT_EQ(entriesIn(directory.path()), 1U);

    // A new file is readable by its owner and writable by nobody else, whatever the umask; a replaced
    // file keeps its mode.
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0622, 0600U);
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    writeFileAtomically(path, "two");
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600U);
}

TEST(AtomicFile, FailsWithoutTouchingAnythingAndReadsOnlyRegularFilesOfAReasonableSize) {
    test::TemporaryDirectory directory;
    EXPECT_THROW(writeFileAtomically(directory / "missing/settings", "x"), fs::filesystem_error);
    // A directory in the way of the rename: the temporary must not stay behind.
    fs::create_directory(directory / "occupied");
    fs::create_directory(directory / "occupied/child");
    EXPECT_THROW(writeFileAtomically(directory / "occupied", "x"), fs::filesystem_error);
    EXPECT_EQ(entriesIn(directory.path()), 1U);
    EXPECT_THROW(readWholeFile(directory / "occupied"), fs::filesystem_error);

    // Reads take only regular files of a reasonable size and never block.
    ASSERT_EQ(::mkfifo((directory / "fifo").c_str(), 0644), 0);
    fs::create_symlink("/dev/zero", directory / "zeros");
    writeFileAtomically(directory / "huge", "");
    fs::resize_file(directory / "huge", maximumReadSize + 1);
    const struct {
        const char* name;
        const char* said;
    } cases[] = {{"fifo", "not a regular file"}, {"zeros", "not a regular file"}, {"huge", "larger than"}};
    for (const auto& c : cases) {
        try {
            readWholeFile(directory / c.name);
            ADD_FAILURE() << c.name << " was read";
        } catch (const fs::filesystem_error& error) {
            EXPECT_EQ(error.path1(), directory / c.name);
            EXPECT_NE(std::string(error.what()).find(c.said), std::string::npos) << error.what();
        }
    }
}

TEST(AtomicFile, KeepsEachUnreadableVersionOnceBesideTheFile) {
    test::TemporaryDirectory directory;
    const auto path = directory / "settings";
    const auto first = keepCorruptCopy(path, "damaged");
    ASSERT_TRUE(first.has_value());
    EXPECT_TRUE(first->filename().string().starts_with("settings.corrupt-")) << *first;
    EXPECT_EQ(readWholeFile(*first), "damaged");
    EXPECT_EQ(keepCorruptCopy(path, "damaged"), std::nullopt) << "kept already";
    const auto second = keepCorruptCopy(path, "damaged too");
    ASSERT_TRUE(second.has_value());
    EXPECT_NE(*second, *first);
    EXPECT_EQ(readWholeFile(*second), "damaged too");
}

// A reader in another process, reading while the file is replaced over and over, only ever sees one of
// the whole versions: never a truncated or mixed file.
TEST(AtomicFile, AConcurrentReaderSeesOnlyWholeVersions) {
    test::TemporaryDirectory directory;
    const auto path = directory / "history";
    const std::string first(256 * 1024, 'a');
    const std::string second(300 * 1024, 'b');
    writeFileAtomically(path, first);

    const pid_t writer = ::fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        for (int i = 0; i < 100; ++i) {
            writeFileAtomically(path, i % 2 == 0 ? second : first);
        }
        ::_exit(0);
    }
    int reads = 0;
    int status = 0;
    for (; ::waitpid(writer, &status, WNOHANG) == 0; ++reads) {
        const auto contents = readWholeFile(path);
        ASSERT_TRUE(contents == first || contents == second) << "torn after " << reads << " reads";
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_GT(reads, 0);
    EXPECT_EQ(readWholeFile(path), first);
    EXPECT_EQ(entriesIn(directory.path()), 1U);
}

// A writer killed at a random moment leaves the old or the new version, whole.
TEST(AtomicFile, AWriterKilledMidwayLeavesAWholeVersion) {
    test::TemporaryDirectory directory;
    const auto path = directory / "mixes";
    const std::string old(512 * 1024, 'o');
    const std::string fresh(512 * 1024, 'n');
    for (int attempt = 0; attempt < 5; ++attempt) {
        writeFileAtomically(path, old);
        const pid_t writer = ::fork();
        ASSERT_GE(writer, 0);
        if (writer == 0) {
            for (;;) {
                writeFileAtomically(path, fresh);
            }
        }
        // Let the writer get going, then stop it wherever it is.
        while (readWholeFile(path) == old) {
        }
        ::kill(writer, SIGKILL);
        int status = 0;
        ::waitpid(writer, &status, 0);
        const auto contents = readWholeFile(path);
        EXPECT_TRUE(contents == old || contents == fresh);
    }
}

} // namespace
} // namespace somnara
