#include "bench/support/counting_allocator.h"

#include <malloc.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

namespace {

std::atomic<std::size_t> g_live{0}, g_peak{0};  // NOLINT: the counting allocator's own state

#if !defined(__SANITIZE_ADDRESS__)
void* added(void* p) noexcept {
    if (!p) return p;
    const std::size_t now = g_live += malloc_usable_size(p);
    std::size_t peak = g_peak.load();
    while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
    }
    return p;
}
void removed(void* p) noexcept {
    if (p) g_live -= malloc_usable_size(p);
}
#endif

}  // namespace

namespace quilo::bench {

bool heapCounted() {
#if defined(__SANITIZE_ADDRESS__)
    return false;
#else
    return true;
#endif
}
std::size_t liveHeapBytes() {
    return g_live.load();
}
std::size_t peakHeapBytes() {
    return g_peak.load();
}
void resetHeapPeak() {
    g_peak.store(g_live.load());
}

}  // namespace quilo::bench

#if !defined(__SANITIZE_ADDRESS__)
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
void __libc_free(void*);

void* malloc(std::size_t n) {
    return added(__libc_malloc(n));
}
void* calloc(std::size_t n, std::size_t size) {
    return added(__libc_calloc(n, size));
}
void* realloc(void* p, std::size_t n) {
    const std::size_t before = p ? malloc_usable_size(p) : 0;
    void* q = __libc_realloc(p, n);
    if (q || n == 0) {  // moved, resized or (size 0) freed; on failure p stays as it was
        g_live -= before;
        (void)added(q);
    }
    return q;
}
void* memalign(std::size_t alignment, std::size_t n) {
    return added(__libc_memalign(alignment, n));
}
void* aligned_alloc(std::size_t alignment, std::size_t n) {
    return memalign(alignment, n);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t n) {
    void* p = memalign(alignment, n);
    if (!p) return ENOMEM;
    *out = p;
    return 0;
}
void free(void* p) {
    removed(p);
    __libc_free(p);
}
}
#endif
