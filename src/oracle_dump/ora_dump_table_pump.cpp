// Data Pump initialisation of a dump table: its schema from the table's XML
// metadata and its data sections.
//
// Each data section is the row stream that follows one STRMTABLE_T document;
// the catalogue scan recorded where its first record begins, so a section's
// start is that position and the rows need no further searching.
#include "TK/tk_exc.h"
#include "TK/tk_log.h"
#include "oracle_dump/ora_dump_parser.h"
#include "oracle_dump/ora_dump_stream.h"
#include "oracle_dump/ora_dump_table.h"

bool ora_dump_table::init_pump(const table_pos& pos) {
  log_message(2, "ora_dump_table::_init1( %d )", static_cast<int>(pos.v_data_start_pos.size()));
  m_b_pump = true;
  const bool no_records = pos.v_data_start_pos.empty() || pos.v_data_end_pos.empty();
  if (no_records) {
    log_message(3, "Table '%s' has no records", tk_u8(name).c_str());
    m_start_pos = pos.start_pos;
    m_end_pos = pos.end_pos;
  } else {
    m_start_pos = pos.v_data_end_pos.front();
    m_end_pos = pos.v_data_end_pos_for_progress.empty() ? m_stream->size()
                                                        : pos.v_data_end_pos_for_progress.front();
    for (size_t i = 0; i < pos.v_data_end_pos.size(); ++i) {
      table_partition part;
      // The section's rows begin right at the recorded marker byte.
      part.start_pos = pos.v_data_end_pos[i];
      part.end_pos = i < pos.v_data_start_pos.size() ? pos.v_data_start_pos[i] : pos.end_pos;
      part.skip_blob_flag = m_token_handler->m_skip_blob_flag;
      m_partitions.push_back(std::move(part));
    }
    log_message(3, "XML start pos (stage 2, %s): %lld, end pos : %lld", tk_u8(name).c_str(),
                static_cast<long long>(m_start_pos), static_cast<long long>(m_end_pos));
  }

  tk_string refusal;
  try {
    std::vector<uint8_t> payload;
    int64_t end = 0;
    // A UTF-16 document's text begins with 0x00 right after the header.
    const int kind = m_stream->byte_at(pos.start_pos + 4) == 0 ? 2 : 1;
    if (!ora_pump_collect_xml(*m_stream, pos.start_pos, kind, payload, end)) {
      log_message(3, "The exception occured during a tableinitialization.");
      return false;
    }
    const ora_charsets* cs = m_ddl_charsets;
    if (cs == nullptr) {
      log_message(3, "The exception occured during a tableinitialization.");
      return false;
    }
    const std::string text = ora_pump_xml_utf8(payload, *cs);
    ora_xml_platform xml_platform;
    ora_dump_parser parser;
    parser.parse_table_description(text.data(), text.size(), this);
    refusal = parser.refusal();
    if (p_database != nullptr)
      for (const ora_dump_parser::unknown_type& u : parser.unknown_types())
        p_database->report_unknown_type(name, u.column, u.type_num, pos.start_pos);
    if (p_database != nullptr) {
      if (ora_index_map* map = p_database->get_global_indices()) {
        log_message(2, "ora_dump_table::_init1 - loading indexes");
        auto it = map->find({parser.owner(), name});
        if (it != map->end())
          for (const udb_index& idx : it->second) indexes.push_back(idx);
      }
    }
  } catch (const tk_exception& e) {
    log_message(3, "The exception occured during a tableinitialization. %s", e.what());
    return false;
  } catch (const std::exception& e) {
    log_message(3, "The exception occured during a tableinitialization.\n");
    return false;
  }
  // A refused definition skips this table with an error; the others go on.
  if (!refusal.empty())
    throw dump_error("The table's metadata is not read: " + refusal, pos.start_pos, 0);

  m_lst_records.clear();
  if (!no_records) {
    log_message(1, "Adding record.end_pos=%lld",
                static_cast<long long>(m_partitions.front().start_pos));
    m_lst_records.push_back(m_partitions.front().start_pos);
  }
  reset();
  return true;
}
