// Brackets one conversion run in the trace log: a start line when created, an
// end line (and the converter's finished flag) when the run is left by any
// path.
#pragma once

class init_conversion {
 public:
  // leave_com: kept from the original interface; there is no component
  // library to initialise on this platform.
  init_conversion(bool* finished, bool leave_com);
  ~init_conversion();

  init_conversion(const init_conversion&) = delete;
  init_conversion& operator=(const init_conversion&) = delete;

 private:
  bool* m_finished;
  bool m_leave_com;
};
