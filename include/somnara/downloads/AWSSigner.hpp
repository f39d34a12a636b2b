#pragma once

#include <somnara/runtime/Date.hpp>

#include <chrono>
#include <string>
#include <string_view>

namespace somnara {

/// A static credential: an access key identifier and its secret, no session token.
struct StaticCredential {
    std::string accessKeyId;
    std::string secretAccessKey;
};

/// Presigns requests by AWS Signature Version 4 in the query string (the published presigned-URL form):
/// the URL gains X-Amz-Algorithm, X-Amz-Credential, X-Amz-Date, X-Amz-Expires, X-Amz-SignedHeaders
/// (the host only) and X-Amz-Signature, and the payload is "UNSIGNED-PAYLOAD".
///
/// Threads: any; immutable after construction.
class AWSSigner {
public:
    AWSSigner(StaticCredential credentials, std::string service, std::string region);

    /// `url` with the signature added, valid from `date` for `expires`. The path and the query of `url`
    /// may be plain text (spaces, '+', any UTF-8) or percent-encoded: they are decoded, then encoded as
    /// RFC 3986 says (unreserved characters kept, everything else as %XX of its UTF-8 bytes), which is
    /// also the text that is signed. Throws `std::invalid_argument` for a URL without a scheme or host.
    [[nodiscard]] std::string signURL(std::string_view url, std::string_view method, Date date,
                                      std::chrono::seconds expires) const;

    const std::string& region() const noexcept { return region_; }

private:
    // Immutable after construction.
    const StaticCredential credentials_;
    const std::string service_;
    const std::string region_;
};

} // namespace somnara
