#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace somnara {

/// A directory of resources: the library's sounds, images and localisation tables.
///
/// Immutable after construction; any thread may use it.
class Bundle {
public:
    explicit Bundle(std::filesystem::path resourcesDirectory);

    /// The library's own resources, located once per process (see `locateModuleResources`).
    static const Bundle& module();

    /// Where the library's resources are: `$SOMNARA_RESOURCES` when set; else `share/somnara` of the
    /// prefix the library (or the program it is linked into) was installed to; else the build tree's
    /// resources directory, so that programs and tests run straight from a build.
    static std::filesystem::path locateModuleResources();

    const std::filesystem::path& resourcesDirectory() const noexcept { return resourcesDirectory_; }

    /// The path of the regular file `<subdirectory>/<name>.<extension>`, or none when it does not
    /// exist. An empty extension means the name is the whole file name.
    std::optional<std::filesystem::path> url(std::string_view forResource, std::string_view withExtension,
                                             std::string_view subdirectory = {}) const;

private:
    std::filesystem::path resourcesDirectory_;
};

} // namespace somnara
