// The generic converter layers: the thread functor every long operation is
// packaged as, and the converter's log-file setting.
#include "UDB/udb_conv.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "TK/tk_exc.h"
#include "TK/tk_fname.h"
#include "TK/tk_log.h"

void tk_thread_functor::operator()() {
  while (!is_complete()) idle();
  final_step();
}

void tk_thread_functor::idle() { std::this_thread::sleep_for(std::chrono::milliseconds(100)); }

tk_converter::tk_converter() { log_message(2, "tk_converter::ctor"); }

void tk_converter::set_logfile(const tk_string& name) {
  log_message(1, "tk_convertor::set_logfile(%s)", name.c_str());
  if (tk_logger::get() == nullptr) return;
  log_file = name;
  if (name.empty()) {
    log_message(1, "Filename is empty");
    return;
  }
  struct stat st {};
  if (::stat(name.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) throw tk_exception("Logfile name specifies an existing path.", 1);
    // No write bit at all is the read-only attribute of this platform; the
    // access test adds ACLs and read-only mounts (root passes it anyway).
    const bool no_write_bits = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
    if (no_write_bits || ::access(name.c_str(), W_OK) != 0)
      throw tk_exception("Logfile name specifies an existing read-only file.", 1);
  }
  // The log is created on the first message, so the folder must exist now
  // and take new files.
  tk_file_name fn(name);
  const tk_string folder = fn.get_drivepath();
  if (!tk_is_path_exist(folder))
    throw tk_exception("Logfile path does not exist.\nPlease verify the correct path was given.",
                       1);
  if (!tk_has_access(folder, TK_GENERIC_WRITE))
    throw tk_exception(
        "Cannot create log file. Make sure you have sufficient\nprivileges to create files in the "
        "directory.",
        1);
  tk_logger::instance().set_file(name);
}
