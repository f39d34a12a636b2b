#pragma once

// Recorders of what the code under test publishes: the values of a stream, and the analytics records
// (events and logged assertions).

#include "support/TestLoop.hpp"

#include <somnara/runtime/AsyncStream.hpp>
#include <somnara/system/ZelAnalyticsLogger.hpp>

#include <memory>
#include <mutex>
#include <string_view>
#include <utility>
#include <vector>

namespace somnara::test {

/// Every value a stream delivers, in order, taken by a task on the test loop that ends with the recorder.
template <class T>
class StreamRecorder {
public:
    explicit StreamRecorder(AsyncStream<T> stream) {
        task_ = spawn([this, stream = std::move(stream)]() mutable -> asio::awaitable<void> {
            while (auto value = co_await stream.next()) {
                values.push_back(std::move(*value));
            }
        });
    }
    /// From the moment of subscription: a current-value subject's current value first.
    template <class Subject>
    explicit StreamRecorder(const std::shared_ptr<Subject>& subject) : StreamRecorder(subject->subscribe()) {}
    StreamRecorder(const StreamRecorder&) = delete;
    StreamRecorder& operator=(const StreamRecorder&) = delete;
    ~StreamRecorder() { task_.cancel(); }

    std::vector<T> values;

private:
    Task<void> task_;
};

template <class Stream>
struct StreamElement;
template <class T>
struct StreamElement<AsyncStream<T>> {
    using type = T;
};
template <class Subject>
StreamRecorder(const std::shared_ptr<Subject>&)
    -> StreamRecorder<typename StreamElement<decltype(std::declval<Subject&>().subscribe())>::type>;

/// The analytics records reported while it lives, from any thread.
class AnalyticsRecorder {
public:
    using Record = ZelAnalyticsLogger::Record;

    /// Records of one kind, optionally only those reported from `file`.
    std::vector<Record> records(Record::Kind kind, std::string_view file = {}) const {
        const std::lock_guard lock(mutex_);
        std::vector<Record> found;
        for (const auto& record : records_) {
            if (record.kind == kind && (file.empty() || record.file == file)) {
                found.push_back(record);
            }
        }
        return found;
    }
    std::vector<Record> assertions(std::string_view file = {}) const {
        return records(Record::Kind::assertionFailure, file);
    }
    std::vector<Record> events() const { return records(Record::Kind::event); }
    std::vector<Record> all() const {
        const std::lock_guard lock(mutex_);
        return records_;
    }
    void clear() {
        const std::lock_guard lock(mutex_);
        records_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<Record> records_;
    ZelAnalyticsLogger::Observation observation_ =
        ZelAnalyticsLogger::shared().observe([this](const Record& r) {
            const std::lock_guard lock(mutex_);
            records_.push_back(r);
        });
};

} // namespace somnara::test
