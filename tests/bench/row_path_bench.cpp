// Micro-benchmarks of the row path (Google Benchmark): NUMBER, DATE and
// TIMESTAMP decoding and formatting, text decoding, and CSV field assembly.
// Each runs on values the fixture writer encodes exactly as Oracle stores
// them; bytes per second are those of the stored values.
//
//   build/release/bench_row_path [--benchmark_filter=Number]
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "common/csv_util.h"
#include "fixtures/classic_dump_writer.h"
#include "oracle_dump/ora_charset.h"
#include "oracle_dump/ora_dump_reader_th.h"

namespace {

std::vector<std::string> numbers(bool integers) {
  std::vector<std::string> out;
  const char* const decimals[] = {
      "1234.5",      "-0.000123", "3.14159265358979323846",
      "-98765.4321", "1E-30",     "12345678901234567890123456789012345678",
      "0.5"};
  for (int i = 0; i < 1000; ++i) {
    if (integers)
      out.push_back(ora_dump_fx_number(std::to_string(static_cast<long long>(i) * 7919 - 3000)));
    else
      out.push_back(ora_dump_fx_number(decimals[i % 7]));
  }
  return out;
}

size_t total(const std::vector<std::string>& values) {
  size_t n = 0;
  for (const std::string& v : values) n += v.size();
  return n;
}

void number_decimal(benchmark::State& state) {
  const std::vector<std::string> values = numbers(false);
  ole_variant v;
  std::string out;
  for (auto _ : state) {
    out.clear();
    for (const std::string& b : values) {
      const auto* p = reinterpret_cast<const uint8_t*>(b.data());
      ora_dump_reader_th::decode_number(p, b.size(), v.decimal_buffer());
      v.finish_decimal(VT_DECIMAL);
      v.append_text_utf8(out);
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * total(values)));
}
BENCHMARK(number_decimal);

void number_integer(benchmark::State& state) {
  const std::vector<std::string> values = numbers(true);
  ole_variant v;
  std::string out;
  for (auto _ : state) {
    out.clear();
    for (const std::string& b : values) {
      const auto* p = reinterpret_cast<const uint8_t*>(b.data());
      if (!ora_dump_reader_th::put_integer_number(p, b.size(), VT_I8, v)) {
        ora_dump_reader_th::decode_number(p, b.size(), v.decimal_buffer());
        v.finish_decimal(VT_I8);
      }
      v.append_text_utf8(out);
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * total(values)));
}
BENCHMARK(number_integer);

void date_and_timestamp(benchmark::State& state) {
  std::vector<std::string> dates, stamps;
  for (int i = 0; i < 1000; ++i) {
    dates.push_back(
        ora_dump_fx_date(1900 + i % 200, 1 + i % 12, 1 + i % 28, i % 24, i % 60, i % 7));
    stamps.push_back(ora_dump_fx_timestamp(1970 + i % 80, 1 + i % 12, 1 + i % 28, i % 24, i % 60,
                                           i % 60, static_cast<uint32_t>(i) * 1000));
  }
  ole_variant v;
  std::string out;
  for (auto _ : state) {
    out.clear();
    for (size_t i = 0; i < dates.size(); ++i) {
      ora_dump_reader_th::get_datetime_value(reinterpret_cast<const uint8_t*>(dates[i].data()),
                                             dates[i].size(), v);
      v.append_text_utf8(out);
      ora_dump_reader_th::get_timestamp_value(reinterpret_cast<const uint8_t*>(stamps[i].data()),
                                              stamps[i].size(), v, 6);
      v.append_text_utf8(out);
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(
      static_cast<int64_t>(state.iterations() * (total(dates) + total(stamps))));
}
BENCHMARK(date_and_timestamp);

// Text of a UTF-8 database (873) or a Windows-1252 one (178), decoded into a
// value and written as CSV text.
void text(benchmark::State& state) {
  const int charset = static_cast<int>(state.range(0));
  const std::string word = charset == 873 ? "Z\xC3\xBCrich caf\xC3\xA9 " : "Z\xFCrich caf\xE9 ";
  std::vector<std::string> values;
  for (int i = 0; i < 1000; ++i) values.push_back("plain name " + std::to_string(i) + " " + word);
  ora_charsets cs;
  ole_variant v;
  std::string out;
  for (auto _ : state) {
    out.clear();
    for (const std::string& t : values) {
      cs.decode(charset, reinterpret_cast<const uint8_t*>(t.data()), t.size(), v);
      v.append_text_utf8(out);
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * total(values)));
}
BENCHMARK(text)->Arg(873)->Arg(178);

// Whole CSV lines of eight fields (text, some needing quotes, numbers and a
// date) written to /dev/null.
void csv_fields(benchmark::State& state) {
  std::vector<t_ftd> ftds(8);
  udb_schema schema;
  for (t_ftd& f : ftds) schema.push_back(&f);
  udb_record rec;
  rec.shape(schema);
  csv_file csv(u"/dev/null", u";");
  const std::string texts[] = {"a plain name", "name; with the delimiter", "say \"hi\"",
                               "Z\xC3\xBCrich caf\xC3\xA9 and a longer note of forty bytes"};
  ole_decimal amount;
  amount.parse("-1234.56");
  const ole_date when(std::string("2024-02-29 13:45:00"));
  size_t bytes = 0;
  for (auto _ : state) {
    for (int row = 0; row < 1000; ++row) {
      for (size_t i = 0; i < 5; ++i) {
        const std::string& t = texts[(static_cast<size_t>(row) + i) % 4];
        rec[i].utf8_text_buffer() = t;
        bytes += t.size() + 1;
      }
      rec[5].set_i8(row * 7919);
      rec[6].set_decimal(amount);
      rec[7].set_date(when);
      csv.append_record(rec);
      bytes += 40;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(csv_fields);

}  // namespace

BENCHMARK_MAIN();
