#include <somnara/selection/SoundTracksCollectionError.hpp>

#include <string>

namespace somnara {

namespace {

class Category final : public std::error_category {
public:
    const char* name() const noexcept override { return "SomnaraKit.SoundTracksCollectionError"; }

    std::string message(int code) const override {
        switch (static_cast<SoundTracksCollectionError>(code)) {
        case SoundTracksCollectionError::cannotMakeMixWithNoSoundTracksSelected:
            return "cannot make a mix with no sound tracks selected";
        }
        return "unknown sound tracks collection error";
    }
};

} // namespace

const std::error_category& soundTracksCollectionErrorCategory() noexcept {
    static const Category category;
    return category;
}

std::error_code make_error_code(SoundTracksCollectionError error) noexcept {
    return {static_cast<int>(error), soundTracksCollectionErrorCategory()};
}

} // namespace somnara
