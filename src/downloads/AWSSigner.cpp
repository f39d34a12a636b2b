#include <somnara/downloads/AWSSigner.hpp>

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/sha.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <stdexcept>
#include <utility>
#include <vector>

namespace somnara {

namespace {

using Digest = std::array<unsigned char, SHA256_DIGEST_LENGTH>;

Digest hmacSha256(std::string_view key, std::string_view message) {
    Digest digest{};
    unsigned int length = 0;
    HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
         reinterpret_cast<const unsigned char*>(message.data()), message.size(), digest.data(), &length);
    return digest;
}

std::string_view view(const Digest& digest) {
    return {reinterpret_cast<const char*>(digest.data()), digest.size()};
}

std::string hex(const unsigned char* bytes, std::size_t count) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(count * 2);
    for (std::size_t i = 0; i < count; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0f];
    }
    return text;
}

std::string sha256Hex(std::string_view text) {
    Digest digest{};
    SHA256(reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest.data());
    return hex(digest.data(), digest.size());
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

/// "%XX" sequences become their bytes; anything else, a lone '%' included, stays as it is.
std::string percentDecoded(std::string_view text) {
    std::string decoded;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const int high = hexValue(text[i + 1]);
            const int low = hexValue(text[i + 2]);
            if (high >= 0 && low >= 0) {
                decoded += static_cast<char>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        decoded += text[i];
    }
    return decoded;
}

/// RFC 3986: unreserved characters stay, every other byte becomes %XX (upper-case hex); '/' stays in
/// paths.
std::string percentEncoded(std::string_view text, bool keepSlash) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string encoded;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || c == '-' || c == '_' || c == '.' || c == '~' || (keepSlash && c == '/')) {
            encoded += c;
        } else {
            encoded += '%';
            encoded += digits[byte >> 4];
            encoded += digits[byte & 0x0f];
        }
    }
    return encoded;
}

struct ParsedUrl {
    std::string scheme;
    std::string authority;
    std::string host;
    std::string path;
    std::vector<std::pair<std::string, std::string>> query;
};

ParsedUrl parse(std::string_view url) {
    ParsedUrl parsed;
    const auto schemeEnd = url.find("://");
    if (schemeEnd == std::string_view::npos || schemeEnd == 0) {
        throw std::invalid_argument("a URL to sign needs a scheme: " + std::string(url));
    }
    parsed.scheme = url.substr(0, schemeEnd);
    std::transform(parsed.scheme.begin(), parsed.scheme.end(), parsed.scheme.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    auto rest = url.substr(schemeEnd + 3);
    rest = rest.substr(0, rest.find('#'));
    const auto authorityEnd = rest.find_first_of("/?");
    parsed.authority = rest.substr(0, authorityEnd);
    rest = authorityEnd == std::string_view::npos ? std::string_view{} : rest.substr(authorityEnd);
    // The signed host: lower case, without user information, with the port unless it is the scheme's own.
    auto host = std::string_view(parsed.authority).substr(parsed.authority.rfind('@') + 1);
    const auto colon = host.rfind(':');
    if (colon != std::string_view::npos && host.find(']', colon) == std::string_view::npos) {
        const auto port = host.substr(colon + 1);
        const bool defaultPort =
            (parsed.scheme == "http" && port == "80") || (parsed.scheme == "https" && port == "443");
        if (defaultPort || port.empty()) {
            host = host.substr(0, colon);
        }
    }
    if (host.empty()) {
        throw std::invalid_argument("a URL to sign needs a host: " + std::string(url));
    }
    std::transform(host.begin(), host.end(), std::back_inserter(parsed.host),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const auto queryStart = rest.find('?');
    parsed.path = percentEncoded(percentDecoded(rest.substr(0, queryStart)), true);
    if (parsed.path.empty()) {
        parsed.path = "/";
    }
    if (queryStart != std::string_view::npos) {
        auto query = rest.substr(queryStart + 1);
        while (!query.empty()) {
            const auto pair = query.substr(0, query.find('&'));
            query.remove_prefix(std::min(query.size(), pair.size() + 1));
            if (pair.empty()) {
                continue;
            }
            const auto equals = pair.find('=');
            parsed.query.emplace_back(percentEncoded(percentDecoded(pair.substr(0, equals)), false),
                                      equals == std::string_view::npos
                                          ? ""
                                          : percentEncoded(percentDecoded(pair.substr(equals + 1)), false));
        }
    }
    return parsed;
}

std::string utcTimestamp(Date date) {
    const auto seconds = static_cast<std::time_t>(
        std::chrono::floor<std::chrono::seconds>(date.toSystemClock().time_since_epoch()).count());
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char text[17];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &utc);
    return text;
}

} // namespace

AWSSigner::AWSSigner(StaticCredential credentials, std::string service, std::string region)
    : credentials_(std::move(credentials)), service_(std::move(service)), region_(std::move(region)) {}

std::string AWSSigner::signURL(std::string_view url, std::string_view method, Date date,
                               std::chrono::seconds expires) const {
    const auto parsed = parse(url);
    const auto timestamp = utcTimestamp(date);
    const auto day = timestamp.substr(0, 8);
    const auto scope = day + '/' + region_ + '/' + service_ + "/aws4_request";

    // The request's own parameters first, then the signature's, each in the order S3 clients write them.
    auto parameters = parsed.query;
    const std::vector<std::pair<std::string, std::string>> authorisation{
        {"X-Amz-Algorithm", "AWS4-HMAC-SHA256"},
        {"X-Amz-Credential", percentEncoded(credentials_.accessKeyId + '/' + scope, false)},
        {"X-Amz-Date", timestamp},
        {"X-Amz-Expires", std::to_string(expires.count())},
        {"X-Amz-SignedHeaders", "host"},
    };
    parameters.insert(parameters.end(), authorisation.begin(), authorisation.end());
    auto joined = [](const std::vector<std::pair<std::string, std::string>>& pairs) {
        std::string text;
        for (const auto& [key, value] : pairs) {
            text += (text.empty() ? "" : "&") + key + '=' + value;
        }
        return text;
    };
    auto sorted = parameters;
    std::sort(sorted.begin(), sorted.end());

    std::string methodText(method);
    std::transform(methodText.begin(), methodText.end(), methodText.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    const auto canonicalRequest = methodText + '\n' + parsed.path + '\n' + joined(sorted) +
                                  "\nhost:" + parsed.host + "\n\nhost\nUNSIGNED-PAYLOAD";
    const auto stringToSign =
        "AWS4-HMAC-SHA256\n" + timestamp + '\n' + scope + '\n' + sha256Hex(canonicalRequest);

    const auto dateKey = hmacSha256("AWS4" + credentials_.secretAccessKey, day);
    const auto regionKey = hmacSha256(view(dateKey), region_);
    const auto serviceKey = hmacSha256(view(regionKey), service_);
    const auto signingKey = hmacSha256(view(serviceKey), "aws4_request");
    const auto signature = hmacSha256(view(signingKey), stringToSign);

    return parsed.scheme + "://" + parsed.authority + parsed.path + '?' + joined(parameters) +
           "&X-Amz-Signature=" + hex(signature.data(), signature.size());
}

} // namespace somnara
