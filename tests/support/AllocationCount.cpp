// SPDX-License-Identifier: MIT
#include "support/AllocationCount.h"

#include <cstdlib>
#include <new>

namespace {

thread_local uint64_t allocations = 0;

}  // namespace

uint64_t kelvra::testing::allocationsOnThisThread() {
    return allocations;
}

// libstdc++'s other forms of `new` (arrays, nothrow) come here too. `delete` is replaced with
// it, so that a sanitizer's own allocator sees malloc and free in pairs.
void* operator new(std::size_t size) {
    ++allocations;
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* memory) noexcept {
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
#pragma GCC diagnostic pop
