// The wizard converts real dumps of ../shared/dumps to the same CSV files as
// TALVEXCLI: every file byte for byte, except that each binary value the
// console writes as "0x" and hex digits is a side file in the wizard, whose
// name the field holds and whose bytes are that value. Skips when the
// folder is absent.
#include <QTest>
#include <filesystem>
#include <map>

#include "wizard_harness.h"

namespace {

const std::string corpus = std::string(TALVEX_SOURCE_DIR) + "/../shared/dumps/";

// The records of a CSV file (delimiter ';'), fields unquoted.
std::vector<std::vector<std::string>> parse_csv(const std::string& text) {
  std::vector<std::vector<std::string>> records(1, std::vector<std::string>(1));
  bool quoted = false;
  for (size_t i = 3; i < text.size(); ++i) {  // past the byte-order mark
    const char c = text[i];
    std::string& field = records.back().back();
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ';') {
      records.back().emplace_back();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      ++i;
      records.emplace_back(1);
    } else {
      field += c;
    }
  }
  records.pop_back();  // after the last line end
  return records;
}

std::string unhex(const std::string& h) {
  std::string out;
  for (size_t i = 2; i + 1 < h.size(); i += 2)
    out += static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16));
  return out;
}

}  // namespace

class corpus_test : public QObject {
  Q_OBJECT

 private slots:
  void same_csv_as_the_console_program_data() {
    QTest::addColumn<QString>("dump");
    QTest::addColumn<int>("side_files");
    QTest::newRow("classic hr") << "classic/javierzc05__proyecto__respaldos_hr.dmp" << 0;
    QTest::newRow("classic BLOB") << "classic/DeathBeforeHonor__hr__data.dmp" << 25;
    // The export job's master table holds RAW values.
    QTest::newRow("data pump") << "datapump/OracleDataManagementSpain__ConvergedDatabase__HR.DMP"
                               << 335;
  }

  void same_csv_as_the_console_program() {
    QFETCH(QString, dump);
    QFETCH(int, side_files);
    const std::string path = corpus + dump.toStdString();
    if (!std::filesystem::exists(path)) QSKIP("../shared/dumps is not here");
    test_dir dir;
    const std::string cli = dir / "cli", gui = dir / "gui";
    const std::string cmd = std::string("'") + TALVEXCLI_PATH + "' --silent '--src=" + path +
                            "' '--dest=" + cli + "' --inc_fnames";
    QCOMPARE(std::system(cmd.c_str()), 0);

    wizard_harness h;
    h.start_reading(path, gui);
    QVERIFY(h.wait_for(tvx_tables_id));
    h.wizard->tables->on_add_all();
    h.next();
    QVERIFY(h.wait_for(tvx_finish_id, 60000));
    QVERIFY(h.wizard->errors.isEmpty());

    int files = 0, blobs = 0;
    for (const auto& e : std::filesystem::directory_iterator(cli)) {
      ++files;
      const std::string name = e.path().filename().string();
      const std::string a = test_read_file(e.path().string());
      const std::string b = test_read_file(gui + "/" + name);
      if (a == b) continue;
      const auto ra = parse_csv(a), rb = parse_csv(b);
      QCOMPARE(ra.size(), rb.size());
      for (size_t r = 0; r < ra.size(); ++r) {
        QCOMPARE(ra[r].size(), rb[r].size());
        for (size_t f = 0; f < ra[r].size(); ++f) {
          if (ra[r][f] == rb[r][f]) continue;
          QVERIFY2(ra[r][f].rfind("0x", 0) == 0, (name + ": " + rb[r][f]).c_str());
          QCOMPARE(test_read_file(gui + "/" + rb[r][f]), unhex(ra[r][f]));
          ++blobs;
        }
      }
    }
    QVERIFY(files > 0);
    QCOMPARE(blobs, side_files);
  }
};

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  Q_INIT_RESOURCE(talvex);
  quiet_offscreen_warnings();
  corpus_test t;
  return QTest::qExec(&t, argc, argv);
}

#include "corpus_test.moc"
