#pragma once

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>

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
        if (std::system((std::string(python) + " -c 'import botocore' >/dev/null 2>&1").c_str()) == 0) {
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
    explicit TestBucket(const std::filesystem::path& root,
                        const std::map<std::string, std::string>& behaviours = {}, int port = 0) {
        const TestBucketCredentials& c = credentials_;
        std::string command = "exec " + botocorePython().value_or("python3") + " '" +
                              testBucketScript().string() + "' serve --root '" + root.string() +
                              "' --bucket " + c.bucket + " --access-key-id " + c.accessKeyId +
                              " --secret-access-key " + c.secretAccessKey + " --region " + c.region +
                              " --port " + std::to_string(port);
        for (const auto& [name, mode] : behaviours) {
            command += " --behaviour '" + name + '=' + mode + "'";
        }
        // The server says "port N pid M" once it listens.
        output_ = ::popen(command.c_str(), "r");
        if (output_ == nullptr || std::fscanf(output_, "port %d pid %d", &port_, &pid_) != 2) {
            stop();
            throw std::runtime_error("the test bucket did not start (needs python3 with botocore)");
        }
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
        }
        if (output_ != nullptr) {
            ::pclose(output_);
        }
        output_ = nullptr;
        pid_ = -1;
    }

    TestBucketCredentials credentials_;
    FILE* output_ = nullptr;
    int pid_ = -1;
    int port_ = 0;
};

} // namespace somnara::test
