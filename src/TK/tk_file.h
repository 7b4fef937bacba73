// A binary file opened once and read or written at absolute byte offsets, as
// the context cache file uses it. Offsets and lengths are 64-bit: dumps and
// their cache files may well exceed 2 GiB.
#pragma once

#include <cstdint>
#include <cstdio>

#include "TK/tk_utils.h"

// Open flags: write access; with write access, create or empty the file.
constexpr uint32_t TK_FILE_WRITE = 1;
constexpr uint32_t TK_FILE_CREATE = 2;

class tk_file {
 public:
  // The name is made a canonical full path. Without TK_FILE_WRITE it must
  // name an existing file, else tk_exception "Bad path or busy with another
  // process" (level 1).
  tk_file(const tk_string& name, uint32_t flags);
  virtual ~tk_file();
  tk_file(const tk_file&) = delete;
  tk_file& operator=(const tk_file&) = delete;

  // Reads exactly length bytes at offset into buffer and returns buffer;
  // reading past the end raises "Error reading from file" (level 1).
  virtual void* get_at(uint64_t offset, void* buffer, uint64_t length) = 0;
  virtual uint8_t get_u8(uint64_t offset) = 0;
  virtual uint16_t get_u16(uint64_t offset) = 0;  // little-endian
  virtual uint32_t get_u32(uint64_t offset) = 0;  // little-endian
  virtual bool is_eof() const;
  // Writes data at offset; an offset beyond the end pads the gap with zeros.
  virtual void put_at(uint64_t offset, const void* data, uint64_t length) = 0;
  virtual uint64_t get_length() = 0;

  const tk_string& name() const { return m_name; }
  uint32_t flags() const { return m_flags; }

 protected:
  FILE* m_stream = nullptr;
  uint32_t m_flags = 0;
  tk_string m_name;
};

class tk_stdio_file : public tk_file {
 public:
  // flags 0: read an existing file ("rb"); TK_FILE_WRITE: read and write an
  // existing file ("r+b"); TK_FILE_WRITE | TK_FILE_CREATE: create or empty
  // ("w+b"). Failure to open raises "Error opening file" (level 1).
  tk_stdio_file(const tk_string& name, uint32_t flags);
  ~tk_stdio_file() override;

  void* get_at(uint64_t offset, void* buffer, uint64_t length) override;
  uint8_t get_u8(uint64_t offset) override;
  uint16_t get_u16(uint64_t offset) override;
  uint32_t get_u32(uint64_t offset) override;
  void put_at(uint64_t offset, const void* data, uint64_t length) override;
  uint64_t get_length() override;
};
