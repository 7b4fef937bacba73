// heap_peak: an LD_PRELOAD library that counts the bytes a program holds on
// the heap and writes the peak, in bytes, to the file named by
// HEAP_PEAK_FILE when the program ends. scripts/bench.sh runs the converter
// under it:
//
//   HEAP_PEAK_FILE=/tmp/peak LD_PRELOAD=build/release/libheap_peak.so prog ...
//
// It wraps glibc's allocator entry points (__libc_malloc and friends, so no
// dlsym is needed while the loader itself allocates) and measures each block
// with malloc_usable_size.
#include <malloc.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);
void* __libc_memalign(size_t, size_t);
}

namespace {

std::atomic<long long> g_now{0};
std::atomic<long long> g_peak{0};

void add(void* p) {
  if (p == nullptr) return;
  const long long now = g_now.fetch_add(static_cast<long long>(malloc_usable_size(p))) +
                        static_cast<long long>(malloc_usable_size(p));
  long long peak = g_peak.load(std::memory_order_relaxed);
  while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
  }
}

void remove(void* p) {
  if (p != nullptr) g_now.fetch_sub(static_cast<long long>(malloc_usable_size(p)));
}

struct reporter {
  ~reporter() {
    const char* path = std::getenv("HEAP_PEAK_FILE");
    if (path == nullptr) return;
    if (std::FILE* f = std::fopen(path, "w")) {
      std::fprintf(f, "%lld\n", g_peak.load());
      std::fclose(f);
    }
  }
} g_reporter;

}  // namespace

extern "C" {

void* malloc(size_t n) {
  void* p = __libc_malloc(n);
  add(p);
  return p;
}

void* calloc(size_t n, size_t size) {
  void* p = __libc_calloc(n, size);
  add(p);
  return p;
}

void* realloc(void* old, size_t n) {
  const long long before = old != nullptr ? static_cast<long long>(malloc_usable_size(old)) : 0;
  void* p = __libc_realloc(old, n);
  if (p == nullptr) return nullptr;
  g_now.fetch_sub(before);
  add(p);
  return p;
}

void free(void* p) {
  remove(p);
  __libc_free(p);
}

void* memalign(size_t align, size_t n) {
  void* p = __libc_memalign(align, n);
  add(p);
  return p;
}

void* aligned_alloc(size_t align, size_t n) { return memalign(align, n); }

int posix_memalign(void** out, size_t align, size_t n) {
  void* p = memalign(align, n);
  if (p == nullptr) return ENOMEM;
  *out = p;
  return 0;
}

}  // extern "C"
