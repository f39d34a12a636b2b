#include <somnara/downloads/BucketConfiguration.hpp>
#include <somnara/foundation/AtomicFile.hpp>
#include <somnara/system/SomnaraLogger.hpp>

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <exception>

namespace somnara {

namespace {

namespace fs = std::filesystem;

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::optional<BucketConfiguration> complete(BucketConfiguration bucket, const std::string& source) {
    if (bucket.region.empty()) {
        bucket.region = "us-east-1";
    }
    if (bucket.baseURL.find("://") == std::string::npos || bucket.credentials.accessKeyId.empty() ||
        bucket.credentials.secretAccessKey.empty()) {
        SomnaraLogger::log(
            "Ignoring the download bucket of " + source +
                ": it needs a URL with a scheme, an access key identifier and a secret access key",
            LogType::error);
        return std::nullopt;
    }
    while (bucket.baseURL.ends_with('/')) {
        bucket.baseURL.pop_back();
    }
    return bucket;
}

} // namespace

fs::path BucketConfiguration::defaultFile() {
    const auto configHome = environment("XDG_CONFIG_HOME");
    const fs::path base =
        !configHome.empty() ? fs::path(configHome) : fs::path(environment("HOME")) / ".config";
    return base / "somnara" / "bucket.json";
}

std::string BucketConfiguration::noneConfiguredMessage() {
    return "no download bucket is configured: set SOMNARA_BUCKET_URL, SOMNARA_BUCKET_REGION, "
           "SOMNARA_ACCESS_KEY_ID and SOMNARA_SECRET_ACCESS_KEY, or write them to " +
           defaultFile().string() + " (readable by you alone)";
}

std::optional<BucketConfiguration> BucketConfiguration::load(const fs::path& file) {
    if (const auto url = environment("SOMNARA_BUCKET_URL"); !url.empty()) {
        return complete({url,
                         environment("SOMNARA_BUCKET_REGION"),
                         {environment("SOMNARA_ACCESS_KEY_ID"), environment("SOMNARA_SECRET_ACCESS_KEY")}},
                        "the environment");
    }
    std::error_code error;
    const auto status = fs::status(file, error);
    if (error || !fs::exists(status)) {
        return std::nullopt;
    }
    // The file holds a secret: one that others can read is not used, so that nobody runs with it by
    // mistake.
    if ((status.permissions() & (fs::perms::group_read | fs::perms::others_read)) != fs::perms::none) {
        SomnaraLogger::log("Not reading " + file.string() +
                               ": other users can read it; make it private with chmod 600",
                           LogType::error);
        return std::nullopt;
    }
    try {
        const auto json = nlohmann::json::parse(readWholeFile(file).value_or(""));
        return complete({json.value("url", ""),
                         json.value("region", ""),
                         {json.value("access_key_id", ""), json.value("secret_access_key", "")}},
                        file.string());
    } catch (const std::exception& failure) {
        SomnaraLogger::log("Cannot read the download bucket of " + file.string() + ": " + failure.what(),
                           LogType::error);
        return std::nullopt;
    }
}

} // namespace somnara
