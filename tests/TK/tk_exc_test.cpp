// Exception texts, levels and the system error capture.
#include "TK/tk_exc.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "TK/tk_singl.h"

TEST(tk_exception, empty_text_reads_unknown_exception) {
  EXPECT_STREQ(tk_exception(std::string(), 1).what(), "Unknown exception");
  EXPECT_STREQ(tk_exception(std::u16string(), 0).what(), "Unknown exception");
  EXPECT_STREQ(tk_exception(2).what(), "Unknown exception");
  tk_exception wide(u"Tabelle \u00c4", 1);
  EXPECT_EQ(wide.text(), "Tabelle \xc3\x84");
  EXPECT_EQ(wide.level(), 1);
  EXPECT_EQ(wide.offset(), -1);
}

TEST(tk_exception, ex_keeps_errno_and_its_message) {
  ASSERT_NE(unlink("/nonexistent-dir-for-talvex/file"), 0);
  tk_exception_ex e("Cannot delete: ");
  EXPECT_EQ(e.code(), static_cast<uint32_t>(ENOENT));
  EXPECT_EQ(e.text(), std::string("Cannot delete: ") + strerror(ENOENT));
  EXPECT_EQ(e.level(), 1);

  tk_exception_ex explicit_error("x: ", 0, EACCES);
  EXPECT_EQ(explicit_error.text(), std::string("x: ") + strerror(EACCES));
  EXPECT_EQ(explicit_error.level(), 0);
}

TEST(tk_exception, mail_assertion_encodes_file_and_line) {
  tk_mail_assertion a("x", 7);
  EXPECT_EQ(a.text(), "Internal error: \ncode=785c37");
  EXPECT_EQ(a.level(), 2);
  // Bytes above 0x7F still give two lower-case digits each.
  EXPECT_EQ(make_err_meggase("\xc3\xa9", 10), "Internal error: \ncode=c3a95c3130");
}

TEST(tk_exception, fixed_texts_and_levels) {
  ole_cast_exception cast;
  EXPECT_EQ(cast.text(), "Cannot cast from source type to destination type");
  EXPECT_EQ(cast.level(), 0);
  ole_type_exception type;
  EXPECT_EQ(type.text(), "The operating type is not supported yet");
  EXPECT_EQ(type.level(), 1);
}

TEST(tk_exception, dump_error_names_the_offset) {
  tk_exception e = dump_error("Can't read record", 123456789012LL, 1);
  EXPECT_EQ(e.text(), "Can't read record (offset 123456789012)");
  EXPECT_EQ(e.offset(), 123456789012LL);
  EXPECT_EQ(e.level(), 1);
  EXPECT_EQ(dump_error("x", 0).level(), 0);
}

TEST(tk_exception, singleton_without_instance_is_an_internal_error) {
  struct lonely : tk_singleton<lonely> {};
  EXPECT_EQ(tk_singleton<lonely>::get(), nullptr);
  try {
    tk_singleton<lonely>::instance();
    FAIL() << "no exception";
  } catch (const tk_exception& e) {
    EXPECT_EQ(e.level(), 2);
    EXPECT_EQ(e.text().rfind("Internal error: \ncode=", 0), 0u);
  }
  {
    lonely first;
    lonely second;
    EXPECT_EQ(&tk_singleton<lonely>::instance(), &first);
  }
  EXPECT_EQ(tk_singleton<lonely>::get(), nullptr);
}
