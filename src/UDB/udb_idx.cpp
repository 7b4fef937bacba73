// Index merging and sequences.
//
// A dump describes the same index more than once: CREATE INDEX, then ALTER
// TABLE ... ADD CONSTRAINT ... PRIMARY KEY or UNIQUE USING that index. The
// merge keeps one entry per name and lets the strongest description win.
#include "UDB/udb_idx.h"

#include "TK/tk_log.h"

void udb_indexes::push_back(const udb_index& index) {
  if (log_enabled(2)) log_message(2, "udb_indexes::push_back(%s)", tk_u8(index.name).c_str());
  udb_index* existing = nullptr;
  for (udb_index& e : *this) {
    if (tk_wcompare_no_case(e.name, index.name)) {
      existing = &e;
      break;
    }
  }
  if (existing == nullptr) {
    log_message(2, "Index does not exist, add it");
    std::vector<udb_index>::push_back(index);
    return;
  }
  udb_index& e = *existing;
  if (e.primary) {
    log_message(2, "Primary key with the same name exists, skip it.");
    return;
  }
  if (index.primary) {
    log_message(2, "Upgrade existing index to primary key.");
    e = index;
    return;
  }
  if (e.unique_constraint) {
    log_message(2, "Unique constraint with the same name exists, skip it.");
    return;
  }
  if (index.unique_constraint) {
    log_message(2, "Set unique constraint attributes for existing index.");
    e = index;
  }
  if (e.unique) {
    log_message(2, "Unique index with the same name exists, skip it.");
    return;
  }
  if (!index.unique) return;
  log_message(2, "Set unique attribute for existing index.");
  e = index;
}

udb_sequence::udb_sequence(const tk_wstring& name, int32_t start, int32_t increment,
                           int32_t min_value, int32_t max_value, bool cycle)
    : name(name),
      increment(increment),
      start(start),
      min_value(min_value),
      max_value(max_value),
      cycle(cycle) {
  if (log_enabled(2))
    log_message(2, "udb_sequence::ctor(%s,%d,%d,%d,%d,%d)", tk_u8(name).c_str(), start, increment,
                min_value, max_value, cycle ? 1 : 0);
}
