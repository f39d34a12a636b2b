#pragma once

#include <utility>

namespace somnara {

/// A copy of `record` with one member replaced: the body of the value records' `withX` operations.
template <class Record, class Member, class Value>
[[nodiscard]] Record copyWith(Record record, Member Record::*member, Value&& value) {
    record.*member = std::forward<Value>(value);
    return record;
}

} // namespace somnara
