// Preloaded into the program under test to make chosen allocations fail:
// GRIDCULL_TEST_FAIL_ALLOC="min max" fails every malloc and calloc of min to
// max bytes (inclusive). Without the variable nothing fails.
#include <cstddef>
#include <cstdlib>
#include <cstring>

extern "C" void* __libc_malloc(std::size_t);
extern "C" void* __libc_calloc(std::size_t, std::size_t);

namespace {

// getenv does not allocate, so it is safe inside malloc.
bool ShouldFail(std::size_t bytes) {
    static int parsed = 0;
    static unsigned long long lo = 0, hi = 0;
    if (!parsed) {
        const char* range = std::getenv("GRIDCULL_TEST_FAIL_ALLOC");
        if (range) {
            char* end = nullptr;
            lo = std::strtoull(range, &end, 10);
            hi = std::strtoull(end, nullptr, 10);
        }
        parsed = range ? 1 : -1;
    }
    return parsed > 0 && bytes >= lo && bytes <= hi;
}

}  // namespace

extern "C" void* malloc(std::size_t bytes) { return ShouldFail(bytes) ? nullptr : __libc_malloc(bytes); }

extern "C" void* calloc(std::size_t count, std::size_t size) {
    return ShouldFail(count * size) ? nullptr : __libc_calloc(count, size);
}
