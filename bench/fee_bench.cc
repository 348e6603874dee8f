// Cost of saving one new fee slip with five details through the component
// (Save_Script on the embedded engine), beside the same statements run
// directly through the SQLite API in one transaction, in the same process.
#include <benchmark/benchmark.h>

#include <sqlite3.h>
#include "bench/run_times.h"
#include "bench/sqlite_direct.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "fee/interface.h"
#include "fee/module.h"
#include "fee/schema.h"
#include "platform/com/registry.h"
#include "testing/engines.h"

namespace {

constexpr int kDetails = 5;

struct FeeRoot {
  FeeRoot() {
    for (const char* sub : {"/bin", "/ini", "/db"}) std::filesystem::create_directories(dir.path() + sub);
    tivel::gf::initFeeDatabase(dir.path());
    db = dir.path() + "/db/scrivane.db";
  }
  tivel::testing::TempDir dir;
  std::string db;
};

// The slip a page hands over: a header row and five detail rows in
// disconnected recordsets, and an empty attachment recordset.
struct Forms {
  explicit Forms(tivel::gf::Interface& gf) {
    header = open(gf, "SELECT * FROM T_Script WHERE 1 = 0");
    header->addNew();
    header->setValue("JH", tivel::com::Variant("01"));
    header->setValue("Script_Id", tivel::com::Variant("(自动产生)"));
    header->setValue("Title", tivel::com::Variant("稿件标题"));
    header->setValue("Word_Count", tivel::com::Variant(int32_t{1200}));
    header->setValue("Operator", tivel::com::Variant("op1"));
    details = open(gf, "SELECT * FROM T_ScrpDtl WHERE 1 = 0");
    for (int i = 1; i <= kDetails; ++i) {
      details->addNew();
      details->setValue("S_NO", tivel::com::Variant(int32_t{i}));
      details->setValue("IsExt", tivel::com::Variant(int32_t{0}));
      details->setValue("Author_Id", tivel::com::Variant("AUT" + std::to_string(i)));
      details->setValue("Percentage", tivel::com::Variant(20.0));
      details->setValue("Amount", tivel::com::Variant(100.0 * i));
    }
    file = open(gf, "SELECT * FROM T_ScrpFile WHERE 1 = 0");
  }
  static tivel::ado::RecordsetPtr open(tivel::gf::Interface& gf, const char* sql) {
    tivel::com::Variant err;
    auto rs = std::dynamic_pointer_cast<tivel::ado::Recordset>(gf.f_GetRecordset(err, "", sql).toObject());
    if (!rs) throw std::runtime_error("f_GetRecordset: " + err.toString());
    return rs;
  }
  tivel::ado::RecordsetPtr header, details, file;
};

void saveThroughComponent(benchmark::State& state) {
  FeeRoot root;
  tivel::gf::resetThreadState();
  auto gf = std::dynamic_pointer_cast<tivel::gf::Interface>(tivel::com::CreateObject("TivelGF.interface"));
  Forms forms(*gf);
  for (auto _ : state) {
    std::string err;
    if (!gf->Save_Script(err, 2026, 12, "01", forms.header, forms.details, forms.file))
      state.SkipWithError(("Save_Script: " + err).c_str());
  }
  gf.reset();
  tivel::gf::resetThreadState();
}

// The statements one save issues, composed the same way, each prepared, run
// and finalised once, as the component does.
void save(tivel::bench::DirectDb& d) {
  d.run("BEGIN IMMEDIATE");
  const std::string counter = "Select * From CD_MAX_LSH WHERE JH = '01' and CURYEAR = 2026 AND CURMONTH = 12";
  d.run(counter);
  std::string max = d.first("SELECT MAXLSH FROM CD_MAX_LSH WHERE JH = '01' and CURYEAR = 2026 AND CURMONTH = 12");
  std::string serial = std::to_string(std::atol(max.c_str()) + 1);
  std::string number =
      "012026"
      "12" +
      serial;
  const std::string where = " WHERE JH = '01' AND Script_Id = '" + number + "'";
  d.run("SELECT COUNT(*) FROM T_Script" + where);
  if (max.empty())
    d.run("INSERT INTO CD_MAX_LSH(JH, CURYEAR, CURMONTH, MAXLSH) VALUES ('01', 2026, 12, '1')");
  else
    d.run("UPDATE CD_MAX_LSH SET MAXLSH = '" + serial +
          "' WHERE JH = '01' AND CURYEAR = 2026 AND CURMONTH = 12 AND MAXLSH = '" + max + "'");
  d.run("DELETE FROM T_ScrpDtl" + where);
  d.run("SELECT * FROM T_Script" + where);
  // Every column of the header, as the recordset writes a row it filled whole.
  sqlite3_stmt* ins = d.prepare(
      "INSERT INTO T_Script(JH, Script_Id, Title, Author_Names, Section_Name, Page_No, Pub_Date, Script_Type, "
      "Word_Count, Pic_Count, Fee_Standard, Total_Amount, Remark, Operator, Input_Time, Modify_Time, Sign_Id, "
      "Sign_Time) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  sqlite3_bind_text(ins, 1, "01", -1, SQLITE_STATIC);
  sqlite3_bind_text(ins, 2, number.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(ins, 3, "稿件标题", -1, SQLITE_STATIC);
  sqlite3_bind_int(ins, 9, 1200);
  sqlite3_bind_text(ins, 14, "op1", -1, SQLITE_STATIC);
  sqlite3_step(ins);
  sqlite3_finalize(ins);
  d.run("SELECT * FROM T_ScrpDtl" + where);
  for (int i = 1; i <= kDetails; ++i) {
    sqlite3_stmt* st = d.prepare(
        "INSERT INTO T_ScrpDtl(JH, Script_Id, S_NO, IsExt, Author_Id, Percentage, Amount) VALUES (?, ?, ?, ?, ?, ?, "
        "?)");
    std::string author = "AUT" + std::to_string(i);
    sqlite3_bind_text(st, 1, "01", -1, SQLITE_STATIC);
    sqlite3_bind_text(st, 2, number.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(st, 3, i);
    sqlite3_bind_int(st, 4, 0);
    sqlite3_bind_text(st, 5, author.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_double(st, 6, 20.0);
    sqlite3_bind_double(st, 7, 100.0 * i);
    sqlite3_step(st);
    sqlite3_finalize(st);
  }
  std::string n = d.first("SELECT COUNT(*) AS Exp1 FROM T_Script_Save" + where);
  d.run("INSERT INTO T_Script_Save SELECT *," + n + " AS I_NO FROM T_Script" + where);
  d.run("INSERT INTO T_ScrpDtl_Save SELECT *," + n + " AS I_NO FROM T_ScrpDtl" + where);
  d.run("COMMIT");
}

void saveDirect(benchmark::State& state) {
  FeeRoot root;
  tivel::bench::DirectDb d(root.db, 600000);
  for (auto _ : state) save(d);
}

BENCHMARK(saveThroughComponent)->Iterations(2000)->Unit(benchmark::kMicrosecond);
BENCHMARK(saveDirect)->Iterations(2000)->Unit(benchmark::kMicrosecond);

}  // namespace

// Runs the benchmarks, then prints the ratio the target is about.
int main(int argc, char** argv) {
  tivel::bench::RunTimes times;
  tivel::bench::runBenchmarks(argc, argv, times);
  auto t = [&](const char* name) { return times.real(name); };
  double ours = t("saveThroughComponent"), direct = t("saveDirect");
  if (ours > 0 && direct > 0)
    std::printf(
        "Save_Script of a slip with %d details / same statements direct: %.1f us / %.1f us = %.2f (target <= 1.30)\n",
        kDetails, ours, direct, ours / direct);
  benchmark::Shutdown();
  return 0;
}
