#include <somnara/system/DetailedErrorDescription.hpp>

#include <cxxabi.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string_view>
#include <typeinfo>

namespace somnara {
namespace {

std::string demangled(const std::type_info& type) {
    int status = 0;
    const std::unique_ptr<char, decltype(&std::free)> name(
        abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), &std::free);
    return status == 0 && name ? std::string(name.get()) : std::string(type.name());
}

struct ErrorFields {
    std::string typeName;
    std::string domain;
    long long code = 0;
    nlohmann::json userInfo = nlohmann::json::object();
    std::string localizedDescription;
};

std::string compose(const ErrorFields& fields) {
    // C++ errors carry no failure reason, recovery suggestion, options, attempter or help anchor.
    constexpr std::string_view nil = "(nil)";
    std::string text = fields.typeName;
    text += "\ndomain: " + fields.domain;
    text += "\ncode: " + std::to_string(fields.code);
    text += "\nuserInfo: " + fields.userInfo.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    text += "\nlocalizedDescription: " + fields.localizedDescription;
    text += "\nlocalizedFailureReason: ";
    text += nil;
    text += "\nlocalizedRecoverySuggestion: ";
    text += nil;
    text += "\nlocalizedRecoveryOptions: []";
    text += "\nrecoveryAttempter: ";
    text += nil;
    text += "\nhelpAnchor: ";
    text += nil;
    return text;
}

} // namespace

std::string detailedErrorDescription(const std::exception& error) {
    ErrorFields fields;
    fields.typeName = demangled(typeid(error));
    fields.localizedDescription = error.what();
    if (const auto* systemError = dynamic_cast<const std::system_error*>(&error)) {
        // The error code inside is the error proper: its category is the domain.
        fields.domain = systemError->code().category().name();
        fields.code = systemError->code().value();
        if (const auto* fileError = dynamic_cast<const std::filesystem::filesystem_error*>(&error)) {
            if (!fileError->path1().empty()) {
                fields.userInfo["path1"] = fileError->path1().string();
            }
            if (!fileError->path2().empty()) {
                fields.userInfo["path2"] = fileError->path2().string();
            }
        }
    } else {
        fields.domain = fields.typeName;
    }
    return compose(fields);
}

std::string detailedErrorDescription(const std::error_code& error) {
    ErrorFields fields;
    fields.typeName = "std::error_code";
    fields.domain = error.category().name();
    fields.code = error.value();
    fields.localizedDescription = error.message();
    return compose(fields);
}

} // namespace somnara
