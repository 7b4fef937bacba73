// Opening a dump as a unit of work: the console runs it inline at the start
// of a conversion, the wizard on a worker thread while it shows progress. The
// opener owns the dump reader; the database it produces is taken over by the
// converter right after the call.
#pragma once

#include <exception>
#include <memory>
#include <vector>

#include "TK/tk_exc.h"
#include "TK/tk_log.h"
#include "UDB/udb_conv.h"
#include "converter/error_handler.h"
#include "oracle_dump/ora_dump_file.h"
#include "oracle_dump/ora_dump_reader.h"

// One opener per process, registered like the converter (in the
// constructor's body, so no cast of a half-built object is needed).
template <class T>
class ora_dump_opener_t : public tk_thread_functor {
 public:
  ora_dump_opener_t() {
    log_message(2, "ora_dump_opener_t::ctor");
    if (s_instance == nullptr) s_instance = this;
  }
  ~ora_dump_opener_t() override {
    if (s_instance == this) s_instance = nullptr;
  }
  ora_dump_opener_t(const ora_dump_opener_t&) = delete;
  ora_dump_opener_t& operator=(const ora_dump_opener_t&) = delete;

  static ora_dump_opener_t& instance() {
    if (s_instance == nullptr) throw tk_mail_assertion(__FILE__, __LINE__);
    return *s_instance;
  }
  static ora_dump_opener_t* get() noexcept { return s_instance; }

  // Opens the converter's source_file. A dump that cannot be opened is
  // reported and ends the process (error_exit), whatever the error's level.
  void operator()() override {
    log_message(2, "ora_dump_opener::operator()");
    T& converter = T::instance();
    const tk_wstring path = converter.source_file;
    const tk_string path8 = tk_u8(path);
    log_message(3, "Reading file '%s'\r\n", path8.c_str());
    if (!converter.silent) console_out("Reading file " + path8 + "\n");
    std::vector<tk_wstring> paths{path};
    paths.insert(paths.end(), converter.source_parts.begin(), converter.source_parts.end());
    reader.m_b_allow_partial = converter.allow_partial;
    try {
      database = reader.open(paths);
    } catch (const tk_exception& e) {
      error_handler::instance().handle(e, 1);
      throw error_exit{TALVEX_EXIT_FAILURE};
    } catch (const std::exception& e) {
      // Out of memory and the like: without a database there is nothing to
      // convert, so this ends the run the same way.
      error_handler::instance().handle(tk_exception(e.what(), 1), 1);
      throw error_exit{TALVEX_EXIT_FAILURE};
    }
  }

  // Declared first so that it outlives any database it produced.
  ora_dump_reader reader;
  std::unique_ptr<ora_dump_file> database;

 private:
  static inline ora_dump_opener_t* s_instance = nullptr;
};
