#include "AllocationCounter.hpp"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<bool> counting{false};
std::atomic<std::size_t> allocations{0};

void countOne() noexcept {
    if (counting.load(std::memory_order_relaxed)) {
        allocations.fetch_add(1, std::memory_order_relaxed);
    }
}

void* allocate(std::size_t n) {
    countOne();
    void* p = std::malloc(n == 0 ? 1 : n);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}

void* allocateAligned(std::size_t n, std::align_val_t alignment) {
    countOne();
    const auto a = static_cast<std::size_t>(alignment);
    void* p = std::aligned_alloc(a, (n + a - 1) / a * a);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}
} // namespace

namespace somnara::test {

void countAllocations(bool on) noexcept {
    counting.store(on, std::memory_order_relaxed);
}

std::size_t takeAllocationCount() noexcept {
    return allocations.exchange(0);
}

} // namespace somnara::test

void* operator new(std::size_t n) {
    return allocate(n);
}
void* operator new[](std::size_t n) {
    return allocate(n);
}
void* operator new(std::size_t n, std::align_val_t a) {
    return allocateAligned(n, a);
}
void* operator new[](std::size_t n, std::align_val_t a) {
    return allocateAligned(n, a);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}

#if SOMNARA_COUNT_MALLOC
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* malloc(std::size_t n) {
    countOne();
    return __libc_malloc(n);
}
void* calloc(std::size_t n, std::size_t size) {
    countOne();
    return __libc_calloc(n, size);
}
void* realloc(void* p, std::size_t n) {
    countOne();
    return __libc_realloc(p, n);
}
}
#endif
