// Memory for the universe's block chunks.
//
// Design note
//   * Chunks (128 KiB, aligned to their size) come from slabs of 16 chunks,
//     2 MiB aligned to 2 MiB, which the kernel is asked to back with huge
//     pages. A universe that makes or moves its blocks (loading, a crowd of
//     movers, the move to spatial order) otherwise pays a page fault every
//     4 KiB and an unmap with its TLB flush for every chunk it gives back;
//     on a virtual machine both are dear.
//   * Slabs are shared by every universe of the process (a lock guards
//     them; chunks are taken and given only every few hundred blocks). A
//     slab whose chunks are all given back goes back to the system, so a
//     universe that shrinks (the move to spatial order gives all its old
//     chunks back at once) does not keep its old memory.
//   * Large tables read at random (the block table, a few MB to a few
//     hundred) take whole huge pages too, through LargePages: with 4 KiB
//     pages nearly every lookup would also miss the TLB. So do the claim
//     records, which the first generation after a load may write for most
//     blocks at once: a fault per 4 KiB made that generation cost as much
//     as dozens of later ones.
//   * Without mmap the chunks come from aligned_alloc one by one, and large
//     tables from malloc.
#pragma once

#include <cstddef>
#include <new>

namespace chunk_slabs {
// A fresh 128 KiB chunk aligned to 128 KiB (its contents undefined), or
// null when the system has no memory.
void* take();
// Gives back a chunk from take().
void give(void* chunk);
// How many slabs are mapped now (for tests and diagnostics).
size_t mappedSlabs();

// Memory for a large table: from 2 MiB on, whole huge pages of its own;
// below that, from malloc. Null when the system has no memory. giveLarge
// takes the size that takeLarge was given.
// Below 2 MiB the memory is aligned to `align` (a power of two).
void* takeLarge(size_t bytes, size_t align = alignof(std::max_align_t));
void giveLarge(void* p, size_t bytes);

// An allocator for std::vector over takeLarge.
template <class T>
struct LargePages {
    using value_type = T;
    LargePages() = default;
    template <class U>
    LargePages(const LargePages<U>&) {}
    T* allocate(size_t n) {
        if (n > size_t(-1) / sizeof(T)) throw std::bad_array_new_length();
        void* p = takeLarge(n * sizeof(T), alignof(T));
        if (!p) throw std::bad_alloc();
        return static_cast<T*>(p);
    }
    void deallocate(T* p, size_t n) { giveLarge(p, n * sizeof(T)); }
    template <class U>
    bool operator==(const LargePages<U>&) const {
        return true;
    }
};
}  // namespace chunk_slabs
