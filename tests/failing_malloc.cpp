#include "tests/failing_malloc.h"

#include <atomic>
#include <cstddef>

extern "C" void* __real_malloc(std::size_t size);
extern "C" void* __wrap_malloc(std::size_t size);

namespace {
std::atomic<int> s_calls{0};
std::atomic<int> s_failAt{0};
}  // namespace

void FailMallocAt(int failAt) {
    s_calls = 0;
    s_failAt = failAt;
}

int MallocCalls() { return s_calls; }

extern "C" void* __wrap_malloc(std::size_t size) {
    if (++s_calls == s_failAt) return nullptr;
    return __real_malloc(size);
}
