#pragma once

#include "support/Recorders.hpp"
#include "support/TestLoop.hpp"

#include <somnara/library/CloudStore.hpp>
#include <somnara/linux/files/FileUserDefaults.hpp>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace somnara::test {

inline CloudData blob(std::string_view text) {
    return CloudData(text.begin(), text.end());
}
inline std::string text(const CloudData& data) {
    return std::string(data.begin(), data.end());
}

/// The stores of one device over a cloud key-value store kept in memory, with in-memory user defaults.
class LibraryTest : public LoopTest {
protected:
    ~LibraryTest() override {
        // Ends the subscriptions of the stores' cloud tasks before the stores and the loop go.
        if (cloudStore) {
            cloudStore->dictionarySubject()->finish();
        }
        loop.runUntilIdle();
    }

    void startCloud() { cloudStore = CloudStore::make(cloud); }

    /// The unreadable values kept aside under "<key>.corrupt-<time>".
    std::vector<CloudData> keptCopies(const std::string& key) const {
        std::vector<CloudData> kept;
        for (const auto& [name, value] : defaults->dictionaryRepresentation()) {
            if (name.starts_with(key + ".corrupt-") && value.isData()) {
                kept.push_back(*value.get<UserDefaultsValue::Data>());
            }
        }
        return kept;
    }

    std::shared_ptr<MemoryCloudKeyValueStore> cloud = std::make_shared<MemoryCloudKeyValueStore>();
    std::shared_ptr<CloudStore> cloudStore;
    std::shared_ptr<FileUserDefaults> defaults = std::make_shared<FileUserDefaults>(std::nullopt);
    /// Where the stores logged assertions: "file function line".
    std::vector<std::string> assertions() const {
        std::vector<std::string> places;
        for (const auto& record : analytics.assertions()) {
            places.push_back(record.file + ' ' + record.function + ' ' + std::to_string(record.line));
        }
        return places;
    }
    AnalyticsRecorder analytics;
};

} // namespace somnara::test
