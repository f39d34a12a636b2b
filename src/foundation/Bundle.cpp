#include <somnara/foundation/Bundle.hpp>

#include <dlfcn.h>

#include <cstdlib>
#include <string>
#include <system_error>

#ifndef SOMNARA_BUILD_RESOURCES_DIR
#error "the build defines SOMNARA_BUILD_RESOURCES_DIR"
#endif
#ifndef SOMNARA_INSTALL_DATADIR
#error "the build defines SOMNARA_INSTALL_DATADIR"
#endif

namespace somnara {
namespace {

bool isDirectory(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}

/// `<prefix>/share/somnara` for a binary in `<prefix>/bin`, `<prefix>/lib` or `<prefix>/lib/<triplet>`.
std::optional<std::filesystem::path> installedResources(const std::filesystem::path& binary) {
    std::error_code error;
    const auto resolved = std::filesystem::canonical(binary, error);
    if (error) {
        return std::nullopt;
    }
    auto prefix = resolved.parent_path().parent_path();
    for (int level = 0; level < 2 && !prefix.empty(); ++level) {
        const auto candidate = prefix / SOMNARA_INSTALL_DATADIR / "somnara";
        if (isDirectory(candidate)) {
            return candidate;
        }
        prefix = prefix.parent_path();
    }
    return std::nullopt;
}

} // namespace

Bundle::Bundle(std::filesystem::path resourcesDirectory)
    : resourcesDirectory_(std::move(resourcesDirectory)) {}

const Bundle& Bundle::module() {
    static const Bundle bundle(locateModuleResources());
    return bundle;
}

std::filesystem::path Bundle::locateModuleResources() {
    if (const char* overridden = std::getenv("SOMNARA_RESOURCES");
        overridden != nullptr && *overridden != '\0') {
        return overridden;
    }
    // The file this function was loaded from: the shared library, or the program it is linked into.
    Dl_info info{};
    if (dladdr(reinterpret_cast<const void*>(&Bundle::locateModuleResources), &info) != 0 &&
        info.dli_fname != nullptr) {
        if (auto found = installedResources(info.dli_fname)) {
            return *found;
        }
    }
    if (auto found = installedResources("/proc/self/exe")) {
        return *found;
    }
    return SOMNARA_BUILD_RESOURCES_DIR;
}

std::optional<std::filesystem::path> Bundle::url(std::string_view forResource, std::string_view withExtension,
                                                 std::string_view subdirectory) const {
    std::string fileName(forResource);
    if (!withExtension.empty()) {
        fileName += '.';
        fileName += withExtension;
    }
    auto path = resourcesDirectory_;
    if (!subdirectory.empty()) {
        path /= subdirectory;
    }
    path /= fileName;
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        return std::nullopt;
    }
    return path;
}

} // namespace somnara
