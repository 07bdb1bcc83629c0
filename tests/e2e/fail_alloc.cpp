// Preloaded into the program under test to make chosen allocations fail:
// GRIDCULL_TEST_FAIL_ALLOC="min max" fails every malloc and calloc of min to
// max bytes (inclusive). Without the variable nothing fails.
#include <cstddef>
#include <cstdlib>

extern "C" void* __libc_malloc(std::size_t);
extern "C" void* __libc_calloc(std::size_t, std::size_t);

namespace {

// An empty range until the library's constructor has read the variable:
// allocations of the loader and of static set-up never fail.
unsigned long long gLo = 1, gHi = 0;

__attribute__((constructor)) void ReadRange() {
    if (const char* range = std::getenv("GRIDCULL_TEST_FAIL_ALLOC")) {
        char* end = nullptr;
        gLo = std::strtoull(range, &end, 10);
        gHi = std::strtoull(end, nullptr, 10);
    }
}

bool ShouldFail(std::size_t bytes) { return bytes >= gLo && bytes <= gHi; }

}  // namespace

extern "C" void* malloc(std::size_t bytes) { return ShouldFail(bytes) ? nullptr : __libc_malloc(bytes); }

extern "C" void* calloc(std::size_t count, std::size_t size) {
    return ShouldFail(count * size) ? nullptr : __libc_calloc(count, size);
}
