#include "support/FileContents.hpp"
#include "support/TemporaryDirectory.hpp"
#include "support/TestBucket.hpp"

#include <somnara/catalogue/SoundTrack.hpp>

#include <gtest/gtest.h>

#include <array>
#include <set>

namespace {

namespace fs = std::filesystem;
using somnara::test::fileContents;

const fs::path bucketRoot = fs::path(SOMNARA_BINARY_DIR) / "bucket";

/// `somnara sounds download` in `home` from `bucket`, standard error on a pipe.
class Download {
public:
    Download(const fs::path& home, const somnara::test::TestBucket& bucket) {
        int pipe[2];
        if (::pipe(pipe) != 0) {
            throw std::runtime_error("pipe failed");
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(pipe[1], STDERR_FILENO);
            ::close(pipe[0]);
            ::setenv("SOMNARA_HOME", home.c_str(), 1);
            ::setenv("SOMNARA_BUCKET_URL", bucket.baseURL().c_str(), 1);
            ::setenv("SOMNARA_BUCKET_REGION", bucket.credentials().region.c_str(), 1);
            ::setenv("SOMNARA_ACCESS_KEY_ID", bucket.credentials().accessKeyId.c_str(), 1);
            ::setenv("SOMNARA_SECRET_ACCESS_KEY", bucket.credentials().secretAccessKey.c_str(), 1);
            const auto program = (fs::path(SOMNARA_BINARY_DIR) / "app" / "somnara").string();
            ::execl(program.c_str(), program.c_str(), "sounds", "download", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(pipe[1]);
        errors_ = ::fdopen(pipe[0], "r");
    }
    ~Download() {
        std::fclose(errors_);
        if (pid_ > 0) {
            kill();
        }
    }

    /// Reads standard error until a line starts with `prefix`; false at its end.
    bool waitForLine(const std::string& prefix) {
        std::array<char, 512> line{};
        while (std::fgets(line.data(), line.size(), errors_) != nullptr) {
            if (std::string_view(line.data()).starts_with(prefix)) {
                return true;
            }
        }
        return false;
    }

    void kill() {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

    int wait() {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
    std::FILE* errors_ = nullptr;
};

// A download killed mid-transfer leaves only whole sounds in sounds/; the next run removes the partial
// download, runs its transfer again and fetches what is missing.
TEST(DownloadCommand, AKilledDownloadLeavesOnlyWholeSoundsAndTheNextRunCompletesThem) {
    if (!somnara::test::botocorePython()) {
        GTEST_SKIP() << "no python3 with botocore (apt-get install python3-botocore)";
    }
    const somnara::test::TemporaryDirectory home;
    const auto victim = std::string(somnara::SoundTrack::allCases()[7].fileName()) + ".m4a";
    int port = 0;
    {
        const somnara::test::TestBucket bucket(bucketRoot, {{victim, "slow"}});
        port = bucket.port();
        Download download(home.path(), bucket);
        ASSERT_TRUE(download.waitForLine("49/50 sounds"));
        download.kill();
    }
    std::set<std::string> stored;
    for (const auto& entry : fs::directory_iterator(home / "sounds")) {
        stored.insert(entry.path().filename().string());
        EXPECT_EQ(fileContents(entry.path()), fileContents(bucketRoot / entry.path().filename()))
            << entry.path();
    }
    EXPECT_EQ(stored.size(), 49U);
    EXPECT_FALSE(stored.contains(victim));
    EXPECT_NE(fileContents(home / ".sound_downloads.transfers.json").find(victim), std::string::npos);

    const somnara::test::TestBucket healed(bucketRoot, {}, port);
    Download again(home.path(), healed);
    EXPECT_EQ(again.wait(), 0);
    EXPECT_EQ(fileContents(home / "sounds" / victim), fileContents(bucketRoot / victim));
    std::set<std::string> left;
    for (const auto& entry : fs::directory_iterator(home.path())) {
        left.insert(entry.path().filename().string());
    }
    EXPECT_EQ(left, (std::set<std::string>{"sounds", ".sound_downloads.transfers.json"}));
}

} // namespace
