// One process-wide instance of a class: the first object constructed registers
// itself, its destructor clears the registration, and instance() raises an
// internal error when none exists.
#pragma once

#include "TK/tk_exc.h"

template <class T>
class tk_singleton {
 public:
  // The registration keeps the base pointer: casting `this` to T inside the
  // base's constructor or destructor, where T is not alive, is undefined.
  tk_singleton() {
    if (s_instance == nullptr) s_instance = this;
  }
  ~tk_singleton() {
    if (s_instance == this) s_instance = nullptr;
  }
  tk_singleton(const tk_singleton&) = delete;
  tk_singleton& operator=(const tk_singleton&) = delete;

  static T& instance() {
    if (s_instance == nullptr) throw tk_mail_assertion(__FILE__, __LINE__);
    return *static_cast<T*>(s_instance);
  }
  static T* get() noexcept { return static_cast<T*>(s_instance); }

 private:
  static inline tk_singleton* s_instance = nullptr;
};
