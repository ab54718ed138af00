#include "universe/chunk_slabs.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <vector>

#if defined(__linux__)
#include <pthread.h>
#include <sys/mman.h>
#define CELLFORGE_CHUNK_SLABS 1
#endif

namespace chunk_slabs {
namespace {

constexpr size_t kChunkBytes = size_t(1) << 17;

#if CELLFORGE_CHUNK_SLABS
constexpr size_t kSlabBytes = size_t(1) << 21;
constexpr unsigned kPerSlab = unsigned(kSlabBytes / kChunkBytes);

struct Slab {
    uintptr_t base;
    uint32_t freeMask;  // bit i: chunk i is free
};

struct Slabs {
    std::mutex lock;
    std::vector<Slab> slabs;  // sorted by base
};

Slabs* made = nullptr;

// A fork while another thread holds the lock would leave the child's copy
// locked for good (the Python module's process pools fork): hold it across
// the fork, as the allocator does with its own locks.
void lockForFork() { made->lock.lock(); }
void unlockAfterFork() { made->lock.unlock(); }

Slabs& slabs() {
    static Slabs* s = [] {
        made = new Slabs;  // never destroyed: chunks may outlive statics
        pthread_atfork(lockForFork, unlockAfterFork, unlockAfterFork);
        return made;
    }();
    return *s;
}

// Made when the program starts, before any thread: made by the first take,
// a fork while another thread was in the middle of making it would leave
// the child waiting for good on the half-done initialisation (and without
// the fork handlers).
[[maybe_unused]] const Slabs& madeAtStart = slabs();

// The first slab at or after `base` (the list is sorted by base).
std::vector<Slab>::iterator slabFrom(Slabs& s, uintptr_t base) {
    return std::lower_bound(s.slabs.begin(), s.slabs.end(), base, [](const Slab& a, uintptr_t b) { return a.base < b; });
}

// `bytes` (a multiple of 2 MiB) aligned to 2 MiB and asked to be backed
// by huge pages: map 2 MiB more, give back the ends.
uintptr_t mapAligned(size_t bytes) {
    void* p = mmap(nullptr, bytes + kSlabBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return 0;
    const uintptr_t at = reinterpret_cast<uintptr_t>(p);
    const uintptr_t base = (at + kSlabBytes - 1) & ~uintptr_t(kSlabBytes - 1);
    if (base > at) munmap(p, base - at);
    const uintptr_t end = at + bytes + kSlabBytes;
    if (end > base + bytes) munmap(reinterpret_cast<void*>(base + bytes), end - base - bytes);
#ifdef MADV_HUGEPAGE
    madvise(reinterpret_cast<void*>(base), bytes, MADV_HUGEPAGE);
#endif
    return base;
}
uintptr_t mapSlab() { return mapAligned(kSlabBytes); }
size_t roundToSlabs(size_t bytes) { return (bytes + kSlabBytes - 1) & ~(kSlabBytes - 1); }
#endif

}  // namespace

void* take() {
#if CELLFORGE_CHUNK_SLABS
    Slabs& s = slabs();
    std::lock_guard<std::mutex> hold(s.lock);
    for (Slab& slab : s.slabs)
        if (slab.freeMask) {
            const unsigned i = unsigned(__builtin_ctz(slab.freeMask));
            slab.freeMask &= ~(1u << i);
            return reinterpret_cast<void*>(slab.base + i * kChunkBytes);
        }
    const uintptr_t base = mapSlab();
    if (!base) return nullptr;
    Slab fresh{base, ((1u << kPerSlab) - 1) & ~1u};
    s.slabs.insert(slabFrom(s, base), fresh);
    return reinterpret_cast<void*>(base);
#else
    return std::aligned_alloc(kChunkBytes, kChunkBytes);
#endif
}

void give(void* chunk) {
#if CELLFORGE_CHUNK_SLABS
    const uintptr_t at = reinterpret_cast<uintptr_t>(chunk);
    const uintptr_t base = at & ~uintptr_t(kSlabBytes - 1);
    Slabs& s = slabs();
    std::lock_guard<std::mutex> hold(s.lock);
    const auto slab = slabFrom(s, base);
    if (slab == s.slabs.end() || slab->base != base) std::abort();  // not from take()
    slab->freeMask |= 1u << ((at - base) / kChunkBytes);
    if (slab->freeMask == (1u << kPerSlab) - 1) {
        munmap(reinterpret_cast<void*>(base), kSlabBytes);
        s.slabs.erase(slab);
    }
#else
    std::free(chunk);
#endif
}

void* takeLarge(size_t bytes, size_t align) {
#if CELLFORGE_CHUNK_SLABS
    if (bytes >= kSlabBytes) return reinterpret_cast<void*>(mapAligned(roundToSlabs(bytes)));
#endif
    if (align <= alignof(std::max_align_t)) return std::malloc(bytes);
    return std::aligned_alloc(align, (bytes + align - 1) & ~(align - 1));
}

void giveLarge(void* p, size_t bytes) {
#if CELLFORGE_CHUNK_SLABS
    if (bytes >= kSlabBytes) {
        munmap(p, roundToSlabs(bytes));
        return;
    }
#endif
    std::free(p);
}

size_t mappedSlabs() {
#if CELLFORGE_CHUNK_SLABS
    Slabs& s = slabs();
    std::lock_guard<std::mutex> hold(s.lock);
    return s.slabs.size();
#else
    return 0;
#endif
}

}  // namespace chunk_slabs
