// Tests of the converter's settings profiles: the file the CSV converter
// writes, the round trip of every setting, the value rules of each key, and
// the profiles it refuses without changing a setting.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "TK/tk_exc.h"
#include "TK/tk_log.h"
#include "common/test_dir.h"
#include "converter/error_handler.h"
#include "converter/talvex_convertor.h"

namespace {

class profile : public ::testing::Test {
 protected:
  // Loads the bytes as a profile into conv; the message of a refusal, or "".
  std::string load(const std::string& bytes) {
    test_write_file(dir / "p.tlvx", bytes);
    try {
      conv.load_profile(tk_u16(dir / "p.tlvx"));
    } catch (const tk_exception& e) {
      EXPECT_EQ(e.level(), 1);
      const std::string prefix = "Profile '" + (dir / "p.tlvx") + "'";
      EXPECT_EQ(e.text().rfind(prefix, 0), 0u) << e.text();
      return e.text().substr(prefix.size());
    }
    return "";
  }

  test_dir dir;
  tk_logger logger{nullptr, false, 3, false};
  error_handler handler;
  talvex_convertor conv;
};

TEST_F(profile, stores_the_layout_the_wizard_reads) {
  conv.source_file = u"C:\\data\\x.dmp";
  conv.dest_folder = u"C:\\out";
  conv.table_list = {u"EMP", u"DEPT"};
  ASSERT_TRUE(conv.store_profile(tk_u16(dir / "p.tlvx")));
  EXPECT_EQ(test_read_file(dir / "p.tlvx"),
            "[Available Queries]\r\n"
            "\r\n"
            "[CSV settings]\r\n"
            "Include field names=1\r\n"
            "CSV delimiter=1\r\n"
            "Spatial as EWKT=0\r\n"
            "\r\n"
            "[Generic settings]\r\n"
            "src=C:\\data\\x.dmp\r\n"
            "dest=C:\\out\r\n"
            "logfile=\r\n"
            "skip indexes=0\r\n"
            "only definitions=0\r\n"
            "mode=0\r\n"
            "\r\n"
            "[Selected Tables]\r\n"
            "EMP\r\n"
            "DEPT\r\n"
            "\r\n"
            "[Selected Views]\r\n"
            "\r\n");
}

TEST_F(profile, every_setting_survives_store_and_load) {
  conv.source_file = u"/dumps/월간 export.dmp";
  conv.dest_folder = u" /out/=[x]";
  conv.set_logfile(dir / "run.log");
  conv.existing_folder_mode = 2;
  conv.delimiter_index = 0;
  conv.include_field_names = false;
  conv.ewkt = true;
  conv.definitions_only = true;
  conv.skip_indexes = true;
  conv.table_list = {u"사원", u"员工", u"עובדים", u"A[1]", u"EMP", u"EMP"};
  conv.selected_views = {{u"V1", u"select 1 from dual"}};
  conv.available_queries = {{u"Q1", u"select 2 from dual"}};
  ASSERT_TRUE(conv.store_profile(tk_u16(dir / "p.tlvx")));

  talvex_convertor fresh;
  fresh.table_list = {u"OLD"};
  ASSERT_TRUE(fresh.load_profile(tk_u16(dir / "p.tlvx")));
  EXPECT_EQ(fresh.source_file, conv.source_file);
  EXPECT_EQ(fresh.dest_folder, conv.dest_folder);
  EXPECT_EQ(fresh.log_file, conv.log_file);
  EXPECT_EQ(fresh.existing_folder_mode, 2);
  EXPECT_EQ(fresh.delimiter_index, 0u);
  EXPECT_FALSE(fresh.include_field_names);
  EXPECT_TRUE(fresh.ewkt);
  EXPECT_TRUE(fresh.definitions_only);
  EXPECT_TRUE(fresh.skip_indexes);
  EXPECT_EQ(fresh.table_list, conv.table_list);  // replaced, not added to
  EXPECT_TRUE(fresh.table_jobs.empty());
  EXPECT_EQ(fresh.selected_views, conv.selected_views);
  EXPECT_EQ(fresh.available_queries, conv.available_queries);
  EXPECT_EQ(fresh.profile_files, std::vector<std::string>{dir / "p.tlvx"});

  // Loading twice changes nothing, and storing again writes the same bytes.
  ASSERT_TRUE(fresh.load_profile(tk_u16(dir / "p.tlvx")));
  EXPECT_EQ(fresh.table_list, conv.table_list);
  const std::string first = test_read_file(dir / "p.tlvx");
  ASSERT_TRUE(fresh.store_profile(tk_u16(dir / "p.tlvx")));
  EXPECT_EQ(test_read_file(dir / "p.tlvx"), first);
}

TEST_F(profile, values_and_what_an_empty_or_absent_one_keeps) {
  conv.source_file = u"/keep.dmp";
  conv.table_list = {u"KEEP"};
  conv.delimiter_index = 2;
  conv.include_field_names = false;
  // No CSV settings and empty values: nothing changes but the mode.
  EXPECT_EQ(load("[Generic settings]\nsrc=\nmode=1\nonly definitions=\n[Selected Tables]\n"), "");
  EXPECT_EQ(conv.source_file, u"/keep.dmp");
  EXPECT_EQ(conv.table_list, std::vector<tk_wstring>{u"KEEP"});
  EXPECT_EQ(conv.delimiter_index, 2u);
  EXPECT_FALSE(conv.include_field_names);
  EXPECT_EQ(conv.existing_folder_mode, 1);

  const struct {
    const char* value;
    uint32_t index;
  } delimiters[] = {{"0", 0}, {"1", 1}, {"2", 2}, {" 2", 2}, {"02", 2}};
  for (const auto& d : delimiters) {
    conv.delimiter_index = 7;
    EXPECT_EQ(load(std::string("[CSV settings]\nCSV delimiter=") + d.value + "\n"), "") << d.value;
    EXPECT_EQ(conv.delimiter_index, d.index) << d.value;
  }
  EXPECT_EQ(load("[CSV settings]\nInclude field names=1\n[Generic settings]\nskip indexes=1\n"),
            "");
  EXPECT_TRUE(conv.include_field_names);
  EXPECT_TRUE(conv.skip_indexes);
}

TEST_F(profile, refusals_name_the_line_and_change_nothing) {
  conv.source_file = u"/keep.dmp";
  conv.existing_folder_mode = 1;
  conv.table_list = {u"KEEP"};
  const std::string start = "[Generic settings]\nsrc=/other.dmp\n[Selected Tables]\nT1\n";
  struct refusal {
    std::string tail;
    const char* message;
  };
  const refusal cases[] = {
      {"[Generic settings]\nmode=3\n", ", line 6: 'mode=3': Invalid merge/overwrite mode"},
      {"[Generic settings]\nmode=01\n", ", line 6: 'mode=01': Invalid merge/overwrite mode"},
      {"[Generic settings]\nmode= 1\n", ", line 6: 'mode= 1': Invalid merge/overwrite mode"},
      {"[CSV settings]\nCSV delimiter=3\n", ", line 6: 'CSV delimiter=3': Invalid CSV delimiter"},
      {"[CSV settings]\nCSV delimiter=x\n", ", line 6: 'CSV delimiter=x': Invalid CSV delimiter"},
      {"[CSV settings]\nCSV delimiter=-1\n", ", line 6: 'CSV delimiter=-1': Invalid CSV delimiter"},
      {"[CSV settings]\nCSV delimiter=99999999999999999999\n",
       ", line 6: 'CSV delimiter=99999999999999999999': Invalid CSV delimiter"},
      {"[CSV settings]\nInclude field names=yes\n",
       ", line 6: 'Include field names=yes': Invalid value, 0 or 1 expected"},
      {"[Generic settings]\nonly definitions=2\n",
       ", line 6: 'only definitions=2': Invalid value, 0 or 1 expected"},
      {"[Generic settings]\ndest /out\n",
       ", line 6: 'dest /out' is no setting; a setting is a key, '=' and a value"},
      {"[Generic settings]\ndset=/out\n",
       ", line 6: unknown setting 'dset' in section [Generic settings]"},
      {"[Generic settings]\nsrc=/third.dmp\n",
       ", line 6: the setting 'src' is given twice (first on line 2)"},
      {"[Generic Settings]\n", ", line 5: unknown section [Generic Settings]"},
      {"[Selected Tables]\nEMP=select * from emp\n",
       ", line 6: 'EMP=select * from emp' is a query or a table name with '='; neither can be "
       "converted"},
      {"[Selected Tables]\n=\n", ", line 6: an entry without a table name"},
      {"[Generic settings]\nlogfile=" + (dir / "no/such/run.log") + "\n",
       ", line 6: Logfile path does not exist.\nPlease verify the correct path was given."},
  };
  for (const refusal& c : cases) {
    EXPECT_EQ(load(start + c.tail), c.message) << c.tail;
    EXPECT_EQ(conv.existing_folder_mode, 1);
    EXPECT_EQ(conv.delimiter_index, 1u);
    EXPECT_TRUE(conv.include_field_names);
    EXPECT_EQ(conv.table_list, std::vector<tk_wstring>{u"KEEP"});
    EXPECT_EQ(conv.source_file, u"/keep.dmp");
    EXPECT_EQ(conv.log_file, "");
    EXPECT_TRUE(conv.profile_files.empty());
  }
}

TEST_F(profile, a_setting_the_format_cannot_hold_writes_nothing) {
  conv.table_list = {u"GOOD", u"BAD=NAME"};
  try {
    conv.store_profile(tk_u16(dir / "p.tlvx"));
    ADD_FAILURE();
  } catch (const tk_exception& e) {
    EXPECT_STREQ(e.what(),
                 "Cannot store 'BAD=NAME' in section [Selected Tables] of a profile: it contains "
                 "'='");
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "p.tlvx"));
}

TEST_F(profile, mode_0_keeps_the_folder_that_holds_the_profile) {
  std::filesystem::create_directory(dir / "out");
  test_write_file(dir / "out/p.tlvx", "[Generic settings]\r\nmode=0\r\n");
  conv.load_profile(tk_u16(dir / "out/p.tlvx"));
  conv.dest_folder = tk_u16(dir / "out");
  try {
    conv.check_dest();
    ADD_FAILURE();
  } catch (const tk_exception& e) {
    EXPECT_NE(e.text().find("it contains the settings profile"), std::string::npos) << e.text();
  }
  EXPECT_TRUE(std::filesystem::exists(dir / "out/p.tlvx"));
}

}  // namespace
