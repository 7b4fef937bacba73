// Fuzz targets: the entry points libFuzzer drives (one program per target,
// built with -DTALVEX_FUZZ=ON and clang) and the regression replay test runs
// over the files in tests/fuzz/regressions/<target>/.
//
// Every target takes arbitrary bytes and must return without a crash, a
// hang, a leak or undefined behaviour; errors the engine reports as
// exceptions are expected and swallowed.
#pragma once

#include <cstddef>
#include <cstdint>

// A dump opened from memory: header, format detection, catalogue scan of
// either format, then every table initialised (DDL or XML metadata).
int talvex_fuzz_dump_open(const uint8_t* data, size_t size);
// A classic dump opened from memory and every table's rows walked.
int talvex_fuzz_classic_rows(const uint8_t* data, size_t size);
// A Data Pump dump opened from memory and every table's rows walked.
int talvex_fuzz_pump_rows(const uint8_t* data, size_t size);
// One XML metadata document, in catalogue mode and in table mode.
int talvex_fuzz_pump_metadata(const uint8_t* data, size_t size);
// The console's table-list file reader.
int talvex_fuzz_table_list(const uint8_t* data, size_t size);
// The settings profile reader: what it reads is written again and reads back
// the same, and the converter takes it or refuses it cleanly.
int talvex_fuzz_profile(const uint8_t* data, size_t size);
// The dump context cache file reader: what it accepts is written again and
// reads back to the same image.
int talvex_fuzz_context_cache(const uint8_t* data, size_t size);

struct talvex_fuzz_target {
  const char* name;  // also the folder of its regression files
  int (*run)(const uint8_t* data, size_t size);
};

// The targets above, by name; ends with a null entry.
extern const talvex_fuzz_target talvex_fuzz_targets[];
