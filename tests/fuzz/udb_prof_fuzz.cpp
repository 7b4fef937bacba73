// libFuzzer target for the settings profile reader: any bytes are read
// without a crash or a hang; whatever is read can be written again and reads
// back the same; and the generic converter takes it or refuses it cleanly.
//
// Built by hand for now, e.g. from the repository folder:
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -Isrc \
//     tests/fuzz/udb_prof_fuzz.cpp src/UDB/udb_prof.cpp src/UDB/udb_conv.cpp \
//     src/TK/*.cpp -o udb_prof_fuzz
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "TK/tk_exc.h"
#include "UDB/udb_conv.h"
#include "UDB/udb_prof.h"

namespace {

class fuzz_converter : public udb_converter {
 public:
  bool is_ready() override { return true; }
};

bool same_entries(const udb_profile& a, const udb_profile& b) {
  if (a.sections().size() != b.sections().size()) return false;
  for (const auto& [name, entries] : a.sections()) {
    const udb_profile::entry_list& other = b.get_section(name);
    if (other.size() != entries.size()) return false;
    for (size_t i = 0; i < entries.size(); ++i)
      if (other[i].key != entries[i].key || other[i].value != entries[i].value) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  udb_profile profile;
  try {
    profile.read(std::string_view(reinterpret_cast<const char*>(data), size), "fuzz");
  } catch (const tk_exception&) {
    return 0;
  }
  // A refusal to write what was read is a finding as well: it escapes here.
  const std::string text = profile.to_text();
  udb_profile again;
  again.read(text, "again");
  if (!same_entries(profile, again) || again.to_text() != text) __builtin_trap();

  fuzz_converter converter;
  try {
    converter.load_profile(profile);
  } catch (const tk_exception&) {
  }
  return 0;
}
