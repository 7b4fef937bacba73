// One process-wide instance of a class: the first object constructed registers
// itself, its destructor clears the registration, and instance() raises an
// internal error when none exists.
#pragma once

#include "TK/tk_exc.h"

template <class T>
class tk_singleton {
 public:
  tk_singleton() {
    if (s_instance == nullptr) s_instance = static_cast<T*>(this);
  }
  ~tk_singleton() {
    if (s_instance == static_cast<T*>(this)) s_instance = nullptr;
  }
  tk_singleton(const tk_singleton&) = delete;
  tk_singleton& operator=(const tk_singleton&) = delete;

  static T& instance() {
    if (s_instance == nullptr) throw tk_mail_assertion(__FILE__, __LINE__);
    return *s_instance;
  }
  static T* get() noexcept { return s_instance; }

 private:
  static inline T* s_instance = nullptr;
};

