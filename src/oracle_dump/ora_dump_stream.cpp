// Memory-mapped dump stream.
#include "oracle_dump/ora_dump_stream.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "TK/tk_exc.h"

std::shared_ptr<ora_dump_stream> ora_dump_stream::open_file(const tk_string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw tk_exception_ex("Cannot open '" + path + "': ", 1);
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    throw tk_exception_ex("Cannot open '" + path + "': ", 1, err);
  }
  std::shared_ptr<ora_dump_stream> s(new ora_dump_stream());
  const size_t size = static_cast<size_t>(st.st_size);
  if (size > 0) {
    void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (map == MAP_FAILED) {
      const int err = errno;
      ::close(fd);
      throw tk_exception_ex("Cannot read '" + path + "': ", 1, err);
    }
    // Scans run front to back; row iteration jumps around within a table.
    ::madvise(map, size, MADV_SEQUENTIAL);
    s->m_map = map;
    s->m_map_size = size;
    s->m_data = static_cast<const uint8_t*>(map);
    s->m_size = size;
  }
  ::close(fd);
  return s;
}

ora_dump_stream::ora_dump_stream(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

std::shared_ptr<ora_dump_stream> ora_dump_stream::copy_of(const void* data, size_t size) {
  std::shared_ptr<ora_dump_stream> s(new ora_dump_stream());
  if (size > 0) {
    s->m_copy.reset(new uint8_t[size]);
    std::memcpy(s->m_copy.get(), data, size);
    s->m_data = s->m_copy.get();
    s->m_size = size;
  }
  return s;
}

ora_dump_stream::~ora_dump_stream() {
  if (m_map != nullptr) ::munmap(m_map, m_map_size);
}

std::string_view ora_dump_stream::read_word() {
  while (m_pos < m_size && is_blank(m_data[m_pos])) ++m_pos;
  const size_t start = m_pos;
  while (m_pos < m_size && !is_blank(m_data[m_pos])) ++m_pos;
  return std::string_view(reinterpret_cast<const char*>(m_data + start), m_pos - start);
}
