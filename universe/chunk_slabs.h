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
//   * Without mmap the chunks come from aligned_alloc one by one.
#pragma once

#include <cstddef>

namespace chunk_slabs {
// A fresh 128 KiB chunk aligned to 128 KiB (its contents undefined), or
// null when the system has no memory.
void* take();
// Gives back a chunk from take().
void give(void* chunk);
// How many slabs are mapped now (for tests and diagnostics).
size_t mappedSlabs();
}  // namespace chunk_slabs
