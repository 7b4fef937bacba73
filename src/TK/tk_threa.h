// Values shared between a worker thread and the thread that watches it: the
// wizard's progress page reads the converter's counters and the name of the
// table being converted while the conversion writes them.
#pragma once

#include <atomic>
#include <mutex>
#include <utility>

// A counter written by one thread and read by others. Each read and write is
// whole (never a torn 64-bit value) and relaxed: the reader only shows it,
// so no ordering with other memory is needed and the writer's hot loop pays
// no fence. Reads and writes look like those of a plain number.
template <class T>
class tk_relaxed {
 public:
  tk_relaxed() = default;
  tk_relaxed(T v) : m_v(v) {}  // NOLINT: used like the plain number it replaces
  tk_relaxed(const tk_relaxed&) = delete;
  tk_relaxed& operator=(const tk_relaxed&) = delete;

  operator T() const { return m_v.load(std::memory_order_relaxed); }
  T load() const { return m_v.load(std::memory_order_relaxed); }
  tk_relaxed& operator=(T v) {
    m_v.store(v, std::memory_order_relaxed);
    return *this;
  }
  // Only the writing thread changes the value, so a load and a store do.
  tk_relaxed& operator++() {
    m_v.store(load() + 1, std::memory_order_relaxed);
    return *this;
  }
  tk_relaxed& operator+=(T n) {
    m_v.store(load() + n, std::memory_order_relaxed);
    return *this;
  }

 private:
  std::atomic<T> m_v{};
};

// A value (a text) written by one thread and copied out by others under a
// lock. Assigning and clearing look like those of the plain value.
template <class T>
class tk_guarded {
 public:
  tk_guarded() = default;
  tk_guarded(const tk_guarded&) = delete;
  tk_guarded& operator=(const tk_guarded&) = delete;

  tk_guarded& operator=(T v) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_v = std::move(v);
    return *this;
  }
  void clear() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_v = T();
  }
  T get() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_v;
  }
  bool empty() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_v.empty();
  }

 private:
  mutable std::mutex m_lock;
  T m_v{};
};
