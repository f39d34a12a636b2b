#include "AllocationCounter.hpp"

#include <cstdlib>
#include <new>

namespace somnara::test {
namespace {
std::atomic<bool> counting{false};
std::atomic<long> count{0};
} // namespace

void countAllocations(bool on) noexcept {
    counting.store(on, std::memory_order_relaxed);
}

std::atomic<long>& allocationCount() noexcept {
    return count;
}

} // namespace somnara::test

void* operator new(std::size_t size) {
    if (somnara::test::counting.load(std::memory_order_relaxed)) {
        somnara::test::count.fetch_add(1, std::memory_order_relaxed);
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc{};
}

void operator delete(void* p) noexcept {
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
