// Catalogue scan of a Data Pump (expdp) dump: finds the XML metadata blocks
// of the tables and where their row data lies, and builds the dump database.
#pragma once

#include <memory>

#include "oracle_dump/ora_dump_file.h"

class ora_dump_reader;
class ora_dump_stream;

// Called by ora_dump_reader::open after the Data Pump header checks passed
// (format version, part number, compression and encryption flags); the
// reader's charsets hold the database character set. Returns the database,
// owned by the caller.
std::unique_ptr<ora_dump_file> open_datapump_catalogue(ora_dump_reader& reader,
                                                       const tk_wstring& path,
                                                       std::shared_ptr<ora_dump_stream> stream,
                                                       int major, int minor);
