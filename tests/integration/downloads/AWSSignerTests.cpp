#include "support/ShellOutput.hpp"
#include "support/TestBucket.hpp"

#include <somnara/downloads/AWSSigner.hpp>

#include <gtest/gtest.h>

#include <string>

using namespace somnara;

namespace {

using namespace std::chrono_literals;

std::string quoted(const std::string& text) {
    std::string result = "'";
    for (const char c : text) {
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return result + "'";
}

TEST(AWSSigner, PresignsExactlyAsBotocoreDoes) {
    const auto python = test::botocorePython();
    if (!python) {
        GTEST_SKIP() << "no python3 with botocore (apt-get install python3-botocore)";
    }
    const test::TestBucketCredentials credentials;
    struct Case {
        const char* what;
        std::string endpoint;
        std::string style;
        std::string key;
        std::string region;
        double time;
    };
    const Case cases[] = {
        {"plain", "https://s3.us-east-1.amazonaws.com", "virtual", "rain.m4a", "us-east-1", 1'767'225'600},
        {"spaces", "https://s3.us-east-1.amazonaws.com", "virtual", "brown noise.m4a", "us-east-1",
         1'767'311'999},
        {"plus and unicode", "https://s3.eu-west-1.amazonaws.com", "virtual", "café+crème ☔ (1).m4a",
         "eu-west-1", 1'785'000'123},
        {"a port, path-style", "http://127.0.0.1:9000", "path", "rain.m4a", "us-east-1", 1'767'225'600},
        {"path-style, nested key", "https://s3.eu-central-1.amazonaws.com", "path",
         "lossless/wind & fire.m4a", "eu-central-1", 1'700'000'000},
    };
    for (const auto& c : cases) {
        const auto schemeEnd = c.endpoint.find("://") + 3;
        const auto url = c.style == "virtual" ? c.endpoint.substr(0, schemeEnd) + credentials.bucket + '.' +
                                                    c.endpoint.substr(schemeEnd) + '/' + c.key
                                              : c.endpoint + '/' + credentials.bucket + '/' + c.key;
        const AWSSigner signer({credentials.accessKeyId, credentials.secretAccessKey}, "s3", c.region);
        const auto ours = signer.signURL(url, "GET", Date::fromTimeIntervalSince1970(c.time), 86400s);
        const auto reference = test::shellOutput(
            *python + ' ' + quoted(test::testBucketScript()) + " presign --endpoint " + quoted(c.endpoint) +
            " --style " + c.style + " --bucket " + credentials.bucket + " --key " + quoted(c.key) +
            " --access-key-id " + credentials.accessKeyId + " --secret-access-key " +
            credentials.secretAccessKey + " --region " + c.region + " --time " + std::to_string(c.time));
        EXPECT_EQ(ours + '\n', reference) << c.what;
    }
}

} // namespace
