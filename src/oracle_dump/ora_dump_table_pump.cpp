// Data Pump initialisation of a dump table: its schema from the table's XML
// metadata and its data sections.
#include "TK/tk_exc.h"
#include "oracle_dump/ora_dump_table.h"

bool ora_dump_table::init_pump(const table_pos& pos) {
  (void)pos;
  m_b_pump = true;
  throw tk_exception("Data Pump (expdp) dumps are not supported yet.", 1);
}
