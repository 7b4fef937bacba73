// Binary file at absolute offsets over a stdio stream, with 64-bit offsets
// (fseeko/ftello) so files beyond 2 GiB work.
#include "TK/tk_file.h"

#include <sys/stat.h>

#include <cinttypes>
#include <cstring>

#include "TK/tk_exc.h"
#include "TK/tk_fname.h"
#include "TK/tk_log.h"

namespace {

const char k_read_error[] = "Error reading from file";
const char k_write_error[] = "Cannot write into file";

}  // namespace

tk_file::tk_file(const tk_string& name, uint32_t flags) : m_flags(flags) {
  log_message(2, "tk_file::tk_file(%s)", name.c_str());
  if (name.empty()) throw tk_mail_assertion(__FILE__, __LINE__);
  m_name = tk_file_name(name).get_full_name();
  log_message(1, "Canonized file name: %s", m_name.c_str());
  if ((flags & TK_FILE_WRITE) == 0 && !tk_is_file_exist1(m_name, 0x4000))
    throw tk_exception("Bad path or busy with another process", 1);
}

tk_file::~tk_file() {
  log_message(2, "tk_file::~tk_file");
  if (m_stream != nullptr) fclose(m_stream);
}

bool tk_file::is_eof() const { return m_stream == nullptr || feof(m_stream) != 0; }

tk_stdio_file::tk_stdio_file(const tk_string& name, uint32_t flags) : tk_file(name, flags) {
  log_message(2, "tk_stdio_file::ctor(%s)", m_name.c_str());
  const char* mode = "rbe";
  if ((flags & TK_FILE_WRITE) != 0) mode = (flags & TK_FILE_CREATE) != 0 ? "w+be" : "r+be";
  m_stream = fopen(m_name.c_str(), mode);
  if (m_stream == nullptr) throw tk_exception("Error opening file", 1);
}

tk_stdio_file::~tk_stdio_file() = default;

uint64_t tk_stdio_file::get_length() {
  log_message(1, "tk_stdio_file::get_length");
  // Buffered writes must reach the file before its size is asked.
  struct stat st;
  if (((m_flags & TK_FILE_WRITE) != 0 && fflush(m_stream) != 0) ||
      fstat(fileno(m_stream), &st) != 0 || st.st_size < 0)
    throw tk_exception(k_read_error, 1);
  uint64_t length = static_cast<uint64_t>(st.st_size);
  log_message(1, "Got file size: %" PRIu64, length);
  return length;
}

void* tk_stdio_file::get_at(uint64_t offset, void* buffer, uint64_t length) {
  log_message(1, "tk_stdio_file::get_at(%" PRIu64 ",%" PRIu64 ")", offset, length);
  uint64_t size = get_length();
  if (offset > size || length > size - offset) {
    log_message(2,
                "Reading out of range: offset=%" PRIu64 ", length=%" PRIu64 ", file size=%" PRIu64,
                offset, length, size);
    throw tk_exception(k_read_error, 1);
  }
  if (length == 0) return buffer;
  if (buffer == nullptr || offset > static_cast<uint64_t>(INT64_MAX) ||
      fseeko(m_stream, static_cast<off_t>(offset), SEEK_SET) != 0 ||
      fread(buffer, 1, length, m_stream) != length)
    throw tk_exception(k_read_error, 1);
  return buffer;
}

uint8_t tk_stdio_file::get_u8(uint64_t offset) {
  uint8_t b = 0;
  get_at(offset, &b, 1);
  return b;
}

uint16_t tk_stdio_file::get_u16(uint64_t offset) {
  uint8_t b[2];
  get_at(offset, b, 2);
  return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

uint32_t tk_stdio_file::get_u32(uint64_t offset) {
  uint8_t b[4];
  get_at(offset, b, 4);
  return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
         (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

void tk_stdio_file::put_at(uint64_t offset, const void* data, uint64_t length) {
  log_message(1, "tk_stdio_file::put_at(%" PRIu64 ",%" PRIu64 ")", offset, length);
  if (offset > static_cast<uint64_t>(INT64_MAX) || (data == nullptr && length > 0))
    throw tk_exception(k_write_error, 1);
  uint64_t size = get_length();
  if (offset > size) {
    log_message(1, "offset > file_size, padding with nulls");
    if (fseeko(m_stream, 0, SEEK_END) != 0) throw tk_exception(k_read_error, 1);
    static const char k_zeros[4096] = {};
    for (uint64_t left = offset - size; left > 0;) {
      size_t chunk = left < sizeof k_zeros ? static_cast<size_t>(left) : sizeof k_zeros;
      if (fwrite(k_zeros, 1, chunk, m_stream) != chunk) throw tk_exception(k_write_error, 1);
      left -= chunk;
    }
  }
  if (fseeko(m_stream, static_cast<off_t>(offset), SEEK_SET) != 0)
    throw tk_exception(k_read_error, 1);
  if (length > 0 && fwrite(data, 1, length, m_stream) != length)
    throw tk_exception(k_write_error, 1);
}
