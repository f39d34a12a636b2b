#include <somnara/foundation/QueryParameters.hpp>

#include <cctype>
#include <cstring>

namespace somnara {
namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

/// The characters RFC 3986 allows in a URI reference, with '%' checked separately.
bool isURICharacter(char c) {
    const auto u = static_cast<unsigned char>(c);
    if (std::isalnum(u) != 0 && u < 0x80) {
        return true;
    }
    return std::strchr("-._~:/?#[]@!$&'()*+,;=", c) != nullptr && c != '\0';
}

bool isValidReference(std::string_view url) {
    for (std::size_t i = 0; i < url.size(); ++i) {
        if (url[i] == '%') {
            if (i + 2 >= url.size() || hexValue(url[i + 1]) < 0 || hexValue(url[i + 2]) < 0) {
                return false;
            }
            i += 2;
        } else if (!isURICharacter(url[i])) {
            return false;
        }
    }
    // A second '#' cannot appear: the fragment takes the rest and may not hold one.
    const auto fragment = url.find('#');
    return fragment == std::string_view::npos || url.find('#', fragment + 1) == std::string_view::npos;
}

std::string percentDecoded(std::string_view text) {
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            decoded.push_back(static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2])));
            i += 2;
        } else {
            // '+' stays a plus: only HTML forms use it for a space.
            decoded.push_back(text[i]);
        }
    }
    return decoded;
}

} // namespace

std::optional<std::map<std::string, std::string>> queryParameters(std::string_view url) {
    if (!isValidReference(url)) {
        return std::nullopt;
    }
    // RFC 3986 appendix B: the query runs from the first '?' to the fragment's '#'.
    const auto fragment = url.find('#');
    const auto beforeFragment = url.substr(0, fragment);
    const auto mark = beforeFragment.find('?');
    if (mark == std::string_view::npos) {
        return std::nullopt;
    }
    const auto query = beforeFragment.substr(mark + 1);
    if (query.empty()) {
        // "link?" has a query but no items in it.
        return std::nullopt;
    }
    std::map<std::string, std::string> parameters;
    std::size_t begin = 0;
    while (begin <= query.size()) {
        auto end = query.find('&', begin);
        if (end == std::string_view::npos) {
            end = query.size();
        }
        const auto item = query.substr(begin, end - begin);
        const auto equals = item.find('=');
        if (equals == std::string_view::npos) {
            parameters.erase(percentDecoded(item));
        } else {
            parameters[percentDecoded(item.substr(0, equals))] = percentDecoded(item.substr(equals + 1));
        }
        begin = end + 1;
    }
    return parameters;
}

} // namespace somnara
