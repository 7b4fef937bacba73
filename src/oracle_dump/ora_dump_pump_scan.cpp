// Catalogue scan of a Data Pump dump.
#include "oracle_dump/ora_dump_pump_scan.h"

#include "TK/tk_exc.h"

std::unique_ptr<ora_dump_file> open_datapump_catalogue(ora_dump_reader& reader, const tk_wstring& path,
                                                       std::shared_ptr<ora_dump_stream> stream,
                                                       int major, int minor) {
  (void)reader;
  (void)path;
  (void)stream;
  (void)major;
  (void)minor;
  throw tk_exception("Data Pump (expdp) dumps are not supported yet.", 1);
}
