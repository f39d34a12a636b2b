#include "support/TemporaryDirectory.hpp"
#include "support/TestBucket.hpp"

#include <somnara/downloads/AWSSigner.hpp>

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

using namespace somnara;

namespace {

using namespace std::chrono_literals;

std::string command(const std::string& line) {
    std::string output;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(line.c_str(), "r"), ::pclose);
    std::array<char, 4096> buffer{};
    while (pipe && std::fgets(buffer.data(), buffer.size(), pipe.get()) != nullptr) {
        output += buffer.data();
    }
    while (!output.empty() && output.back() == '\n') {
        output.pop_back();
    }
    return output;
}

std::string quoted(const std::string& text) {
    std::string result = "'";
    for (const char c : text) {
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return result + "'";
}

struct Response {
    long status = 0;
    std::string body;
};

Response get(const std::string& url) {
    Response response;
    std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), curl_easy_cleanup);
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &response.body);
    curl_easy_setopt(
        curl.get(), CURLOPT_WRITEFUNCTION, +[](char* data, std::size_t size, std::size_t count, void* body) {
            static_cast<std::string*>(body)->append(data, size * count);
            return size * count;
        });
    if (curl_easy_perform(curl.get()) == CURLE_OK) {
        curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &response.status);
    }
    return response;
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
        const auto reference = command(
            *python + ' ' + quoted(test::testBucketScript()) + " presign --endpoint " + quoted(c.endpoint) +
            " --style " + c.style + " --bucket " + credentials.bucket + " --key " + quoted(c.key) +
            " --access-key-id " + credentials.accessKeyId + " --secret-access-key " +
            credentials.secretAccessKey + " --region " + c.region + " --time " + std::to_string(c.time));
        EXPECT_EQ(ours, reference) << c.what;
    }
}

TEST(AWSSigner, TheVerifyingBucketAcceptsOnlyGoodSignatures) {
    if (!test::botocorePython()) {
        GTEST_SKIP() << "no python3 with botocore (apt-get install python3-botocore)";
    }
    const test::TemporaryDirectory root;
    const std::string names[] = {"rain.m4a", "brown noise.m4a", "café+crème ☔.m4a"};
    for (const auto& name : names) {
        std::ofstream(root / name) << "contents of " << name;
    }
    const test::TestBucket bucket(root.path());
    const auto& credentials = bucket.credentials();
    const AWSSigner signer({credentials.accessKeyId, credentials.secretAccessKey}, "s3", credentials.region);
    const AWSSigner wrongSecret({credentials.accessKeyId, "wrong" + credentials.secretAccessKey.substr(5)},
                                "s3", credentials.region);
    const auto now = Date::fromSystemClock(std::chrono::system_clock::now());
    for (const auto& name : names) {
        const auto url = bucket.baseURL() + '/' + name;
        const auto good = get(signer.signURL(url, "GET", now, 86400s));
        EXPECT_EQ(good.status, 200) << name << ": " << good.body;
        EXPECT_EQ(good.body, "contents of " + name);

        auto tampered = signer.signURL(url, "GET", now, 86400s);
        tampered.back() = tampered.back() == '0' ? '1' : '0';
        struct Refusal {
            const char* what;
            std::string url;
        };
        const Refusal refusals[] = {
            {"tampered signature", tampered},
            {"wrong secret", wrongSecret.signURL(url, "GET", now, 86400s)},
            {"expired", signer.signURL(url, "GET", now.addingTimeInterval(-86400 - 120), 86400s)},
        };
        for (const auto& refusal : refusals) {
            EXPECT_EQ(get(refusal.url).status, 403) << name << ": " << refusal.what;
        }
    }
}

} // namespace
