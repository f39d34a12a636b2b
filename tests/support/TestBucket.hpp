#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace somnara::test {

/// The test bucket's credentials and name (deployment values of the tests only).
struct TestBucketCredentials {
    std::string bucket = "somnara-sounds";
    std::string accessKeyId = "AKIASOMNARATESTKEY01";
    std::string secretAccessKey = "s0mnaraTestSecretAccessKey0123456789abcd";
    std::string region = "us-east-1";
};

/// The Python that has botocore (Debian's python3-botocore), or none.
inline std::optional<std::string> botocorePython() {
    for (const char* python : {"/usr/bin/python3", "python3"}) {
        const auto check = std::string(python) + " -c 'import botocore' >/dev/null 2>&1";
        if (std::system(check.c_str()) == 0) {
            return python;
        }
    }
    return std::nullopt;
}

inline std::filesystem::path testBucketScript() {
    return std::filesystem::path(SOMNARA_SOURCE_DIR) / "tests" / "support" / "test_bucket.py";
}

/// The verifying test bucket (tests/support/test_bucket.py) serving `root` on 127.0.0.1, running for
/// the life of the object. `behaviours` maps object names to a mode (forbidden, missing, slow, truncated,
/// empty, garbage).
class TestBucket {
public:
    TestBucket(const std::filesystem::path& root, const std::map<std::string, std::string>& behaviours = {},
               int port = 0, TestBucketCredentials credentials = {})
        : credentials_(std::move(credentials)) {
        const auto python = botocorePython();
        if (!python) {
            throw std::runtime_error("no python3 with botocore (apt-get install python3-botocore)");
        }
        std::vector<std::string> arguments{*python,
                                           testBucketScript().string(),
                                           "serve",
                                           "--root",
                                           root.string(),
                                           "--bucket",
                                           credentials_.bucket,
                                           "--access-key-id",
                                           credentials_.accessKeyId,
                                           "--secret-access-key",
                                           credentials_.secretAccessKey,
                                           "--region",
                                           credentials_.region,
                                           "--port",
                                           std::to_string(port)};
        for (const auto& [name, mode] : behaviours) {
            arguments.push_back("--behaviour");
            arguments.push_back(name + '=' + mode);
        }
        int pipe[2];
        if (::pipe2(pipe, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe failed");
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(pipe[1], STDOUT_FILENO);
            std::vector<char*> argv;
            for (auto& argument : arguments) {
                argv.push_back(argument.data());
            }
            argv.push_back(nullptr);
            ::execvp(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(pipe[1]);
        // The server says "port N" once it listens.
        FILE* output = ::fdopen(pipe[0], "r");
        std::array<char, 64> line{};
        if (std::fgets(line.data(), line.size(), output) == nullptr ||
            std::sscanf(line.data(), "port %d", &port_) != 1) {
            std::fclose(output);
            stop();
            throw std::runtime_error("the test bucket did not start");
        }
        std::fclose(output);
    }
    ~TestBucket() { stop(); }
    TestBucket(const TestBucket&) = delete;
    TestBucket& operator=(const TestBucket&) = delete;

    int port() const noexcept { return port_; }
    const TestBucketCredentials& credentials() const noexcept { return credentials_; }
    /// The path-style base URL of the bucket.
    std::string baseURL() const {
        return "http://127.0.0.1:" + std::to_string(port_) + "/" + credentials_.bucket;
    }

private:
    void stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

    TestBucketCredentials credentials_;
    pid_t pid_ = -1;
    int port_ = 0;
};

} // namespace somnara::test
