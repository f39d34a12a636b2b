#pragma once

#include <somnara/downloads/AWSSigner.hpp>

#include <filesystem>
#include <optional>
#include <string>

namespace somnara {

/// Where the lossless sounds are downloaded from: a deployment value, never part of the sources.
struct BucketConfiguration {
    /// The bucket's base URL, virtual-hosted ("https://bucket.s3.amazonaws.com") or path-style
    /// ("http://127.0.0.1:9000/bucket"); objects are this URL / their name.
    std::string baseURL;
    std::string region = "us-east-1";
    StaticCredential credentials;

    /// The environment's bucket when SOMNARA_BUCKET_URL is set (with SOMNARA_BUCKET_REGION,
    /// SOMNARA_ACCESS_KEY_ID and SOMNARA_SECRET_ACCESS_KEY), else the one in `file` (a JSON object
    /// with "url", "region", "access_key_id" and "secret_access_key"). None when neither names a
    /// bucket, or when the file is incomplete or readable by other users: then a log line at error
    /// level says why.
    static std::optional<BucketConfiguration> load(const std::filesystem::path& file = defaultFile());
    /// "$XDG_CONFIG_HOME/somnara/bucket.json", by default "~/.config/somnara/bucket.json".
    static std::filesystem::path defaultFile();
    /// What to tell the user when `load` finds none: where a bucket is configured.
    static std::string noneConfiguredMessage();
};

} // namespace somnara
