#ifndef QV_TEST_ALLOC_COUNTER_H
#define QV_TEST_ALLOC_COUNTER_H

// Counting replacement of the global operator new and delete, for tests and
// benchmarks that check that a piece of code allocates nothing.
//
// Include this header in EXACTLY ONE translation unit of an executable: it
// defines the replaceable global allocation functions (they cannot be
// inline), so a second inclusion in the same executable fails to link.
//
// Every form of operator new (plain, array, nothrow, aligned) goes through the
// counter; the delete forms count releases. Counting is always on; read the
// counters around the code under test:
//
//     #include "support/alloc_counter.h"
//
//     qvtest::AllocationScope scope;
//     actor.Animate(16);
//     EXPECT_EQ(scope.Allocations(), 0u);
//
// The counters are atomic, so allocations from other threads (gtest's, the
// benchmark library's) are counted too: keep the measured region free of
// test-framework calls (no EXPECT_* inside it).

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace qvtest
{
namespace detail
{
inline std::atomic<unsigned long long>& AllocationCounter()
{
    static std::atomic<unsigned long long> count{0};
    return count;
}
inline std::atomic<unsigned long long>& ReleaseCounter()
{
    static std::atomic<unsigned long long> count{0};
    return count;
}

inline void* CountedAlloc(std::size_t size)
{
    AllocationCounter().fetch_add(1, std::memory_order_relaxed);
    if (size == 0)
        size = 1;
    return std::malloc(size);
}

inline void* CountedAlignedAlloc(std::size_t size, std::size_t align)
{
    AllocationCounter().fetch_add(1, std::memory_order_relaxed);
    if (align < sizeof(void*))
        align = sizeof(void*);
    if (size == 0)
        size = 1;
    void* p = nullptr;
    if (posix_memalign(&p, align, size) != 0)
        return nullptr;
    return p;
}

// Kept out of line: once inlined into a caller, the compiler sees free()
// applied to the result of operator new and warns about a mismatch.
__attribute__((noinline)) inline void CountedFree(void* p)
{
    if (!p)
        return;
    ReleaseCounter().fetch_add(1, std::memory_order_relaxed);
    std::free(p);
}
} // namespace detail

// Allocations and releases made since the process started.
inline unsigned long long AllocationCount() { return detail::AllocationCounter().load(); }
inline unsigned long long ReleaseCount() { return detail::ReleaseCounter().load(); }

// Counts the allocations and releases made during its lifetime.
class AllocationScope
{
public:
    AllocationScope() : mAllocs(AllocationCount()), mReleases(ReleaseCount()) {}
    unsigned long long Allocations() const { return AllocationCount() - mAllocs; }
    unsigned long long Releases() const { return ReleaseCount() - mReleases; }

private:
    unsigned long long mAllocs;
    unsigned long long mReleases;
};
} // namespace qvtest

void* operator new(std::size_t size)
{
    void* p = qvtest::detail::CountedAlloc(size);
    if (!p)
        throw std::bad_alloc();
    return p;
}
void* operator new[](std::size_t size)
{
    void* p = qvtest::detail::CountedAlloc(size);
    if (!p)
        throw std::bad_alloc();
    return p;
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return qvtest::detail::CountedAlloc(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return qvtest::detail::CountedAlloc(size); }
void* operator new(std::size_t size, std::align_val_t align)
{
    void* p = qvtest::detail::CountedAlignedAlloc(size, static_cast<std::size_t>(align));
    if (!p)
        throw std::bad_alloc();
    return p;
}
void* operator new[](std::size_t size, std::align_val_t align)
{
    void* p = qvtest::detail::CountedAlignedAlloc(size, static_cast<std::size_t>(align));
    if (!p)
        throw std::bad_alloc();
    return p;
}
void* operator new(std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept
{
    return qvtest::detail::CountedAlignedAlloc(size, static_cast<std::size_t>(align));
}
void* operator new[](std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept
{
    return qvtest::detail::CountedAlignedAlloc(size, static_cast<std::size_t>(align));
}

void operator delete(void* p) noexcept { qvtest::detail::CountedFree(p); }
void operator delete[](void* p) noexcept { qvtest::detail::CountedFree(p); }
void operator delete(void* p, std::size_t) noexcept { qvtest::detail::CountedFree(p); }
void operator delete[](void* p, std::size_t) noexcept { qvtest::detail::CountedFree(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { qvtest::detail::CountedFree(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { qvtest::detail::CountedFree(p); }
void operator delete(void* p, std::align_val_t) noexcept { qvtest::detail::CountedFree(p); }
void operator delete[](void* p, std::align_val_t) noexcept { qvtest::detail::CountedFree(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { qvtest::detail::CountedFree(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { qvtest::detail::CountedFree(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { qvtest::detail::CountedFree(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { qvtest::detail::CountedFree(p); }

#endif // QV_TEST_ALLOC_COUNTER_H
