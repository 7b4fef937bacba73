// The dump database: the catalogue of an opened dump, handing out one table
// recordset per table on request, and the context cache file that lets the
// next opening of the same dump skip the catalogue scan.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "UDB/udb_db.h"

class ora_dump_stream;
class ora_dump_reader_th;
class ora_charsets;

// Where one table lies in the dump.
struct table_pos {
  struct index_pos {
    int64_t start = 0, end = 0;
    bool unique = false;
  };

  int64_t start_pos = 0;
  int64_t end_pos = 0;
  std::vector<int64_t> v_data_start_pos;
  std::vector<int64_t> v_data_end_pos;
  std::vector<int64_t> v_data_end_pos_for_progress;
  tk_wstring full_name;
  int32_t record_count = 0;
  std::vector<index_pos> indexes;
  std::vector<std::pair<int64_t, int64_t>> alters;
};

using ora_table_map = std::map<tk_wstring, table_pos>;
using ora_index_map = std::map<std::pair<tk_wstring, tk_wstring>, udb_indexes>;

class ora_dump_file : public udb_database {
 public:
  // What a catalogue scan (or a cache file) found.
  struct context {
    tk_wstring dump_path;
    int64_t m_file_size = 0;
    std::shared_ptr<ora_dump_stream> stream;
    tk_string m_str_version;
    tk_string m_str_username;
    tk_string m_str_tablespacename;
    std::shared_ptr<ora_table_map> m_pmap_tables;
    std::shared_ptr<ora_dump_reader_th> decoder;
    // Makes another decoder like `decoder` over the given character sets:
    // every table read gets a stream, character sets and decoder of its
    // own, so that tables can be read on several threads at once. Empty:
    // tables share `stream` and `decoder` (one thread only).
    std::function<std::shared_ptr<ora_dump_reader_th>(const ora_charsets&)> make_decoder;
    std::list<udb_sequence> m_sequences;
    std::shared_ptr<ora_index_map> m_pmap_indices;
    const ora_charsets* charsets = nullptr;
    // Whether this catalogue may be written to (and was allowed to come
    // from) the cache file: a catalogue scanned with other naming rules
    // than the converter's must not be handed to a later run.
    bool cacheable = true;

    // Fills this context from the dump's cache file. False when there is no
    // usable file: none, another dump's (size differs), older than the dump,
    // or damaged in any way. Never raises.
    bool load_if(const tk_wstring& dump_path);
    // Parses a cache file image of `size` bytes. dump_size is the size of the
    // dump it must describe: a file recorded for another size, or holding
    // positions past it, is refused. Safe on any bytes; never raises.
    bool load_from_bytes(const uint8_t* data, size_t size, int64_t dump_size);
    // The cache file image of this context.
    std::string to_bytes(int64_t dump_size) const;
    // Writes the cache file beside the dump, or in the user's cache folder
    // when the dump's folder is not writable. Failures are traced only.
    void save(int64_t dump_size) const noexcept;

   private:
    bool load_cache_file(const tk_wstring& dump_path);
  };

  explicit ora_dump_file(const context& ctx);
  ~ora_dump_file() override;

  void init();  // rebuilds the table names list from the catalogue
  // The table's reader. It reads through a stream and decoder of its own
  // (when the context can make them), so that several tables may be read
  // at once on different threads; opening a table is for one thread only.
  std::unique_ptr<udb_recordset> get_table(const tk_wstring& name, int flag) override;
  bool tables_independent() const { return static_cast<bool>(m_ctx.make_decoder); }
  void create_relationships(const std::list<udb_relationship>& rels) override;
  void append_relationships(const std::list<udb_relationship>& rels);
  void add_global_idx(const tk_wstring& owner, const tk_wstring& table, const udb_index& index);
  ora_index_map* get_global_indices() { return m_ctx.m_pmap_indices.get(); }

  // Records, once per table and column, that a column's type number is
  // unknown and its values are kept as raw bytes (a level-0 error).
  void report_unknown_type(const tk_wstring& table, const tk_wstring& column, int32_t type_num,
                           int64_t metadata_pos);

  const context& get_context() const { return m_ctx; }
  // A catalogue whose scan refused damaged or crafted blocks is not kept in
  // the cache file: every run scans it again and reports them again.
  void keep_out_of_cache() { m_ctx.cacheable = false; }
  ora_table_map* tables() { return m_ctx.m_pmap_tables.get(); }
  // The catalogue entry of a table (exact key); null when absent.
  table_pos* find_table_pos(const tk_wstring& key);

  // Row counts a complete walk over a table found; the cache file keeps
  // them for listings of later runs.
  void note_record_count(const tk_wstring& key, uint64_t count);
  // The table's row count when it is known without reading rows: from an
  // earlier walk (cache) or because the table has no data section at all.
  bool known_record_count(const tk_wstring& key, uint64_t& count);

 private:
  // Index statements of a classic dump are not kept in the cache file:
  // before it is written, every table whose indexes the global index map
  // lacks is read once so that its indexes are registered there.
  void register_all_indexes() noexcept;

  context m_ctx;
  std::set<std::pair<tk_wstring, tk_wstring>> m_unknown_types_reported;
};

// The two places where a dump's context cache file may lie: beside the dump
// (its name with the extension replaced by ".tvc") and in the user's cache
// folder ($XDG_CACHE_HOME/talvex, by default ~/.cache/talvex), where the name
// also carries a hash of the dump's full path so that dumps of the same name
// in different folders do not share a file. Either may be empty when it
// cannot be formed.
struct ora_cache_paths {
  tk_string beside;
  tk_string user_cache;
};
ora_cache_paths ora_cache_paths_of(const tk_string& dump_path);

// A loaded cache must also agree with the dump itself: every table's
// recorded start must hold what a scan would have found there (the line of a
// CREATE TABLE statement; the header of an XML metadata document). A few
// bytes per table, so a replaced dump of the same size is still caught.
bool ora_cache_fits_dump(const ora_dump_file::context& ctx, const tk_string& dump_path,
                         bool datapump);
