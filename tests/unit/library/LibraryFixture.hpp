#pragma once

#include "support/TestLoop.hpp"

#include <somnara/library/CloudStore.hpp>
#include <somnara/linux/files/FileUserDefaults.hpp>
#include <somnara/system/ZelAnalyticsLogger.hpp>

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

/// Every value a subject publishes, from its current one on.
template <class T>
class SubjectRecorder {
public:
    explicit SubjectRecorder(const std::shared_ptr<AsyncCurrentValueSubject<T>>& subject) {
        task_ = spawn([this, stream = subject->subscribe()]() mutable -> asio::awaitable<void> {
            while (auto value = co_await stream.next()) {
                values.push_back(std::move(*value));
            }
        });
    }
    ~SubjectRecorder() { task_.cancel(); }

    std::vector<T> values;

private:
    Task<void> task_;
};

/// A logged assertion as the stores report it.
struct ReportedAssertion {
    std::string file;
    std::string function;
    int line = 0;
    std::string message;
};

/// The stores of one device over a cloud key-value store kept in memory, with in-memory user defaults.
class LibraryTest : public LoopTest {
protected:
    LibraryTest() {
        observation_ = ZelAnalyticsLogger::shared().observe([this](const ZelAnalyticsLogger::Record& record) {
            if (record.kind == ZelAnalyticsLogger::Record::Kind::assertionFailure) {
                assertions.push_back(
                    {record.file, record.function, record.line, record.message.value_or("")});
            }
        });
    }
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
    std::vector<ReportedAssertion> assertions;

private:
    ZelAnalyticsLogger::Observation observation_;
};

} // namespace somnara::test
