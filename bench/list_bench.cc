// Cost of listing every user (getAllUsr over 10,000 users) through the
// components on the embedded engine, beside the same select run directly
// through the SQLite API reading every column of every row; and the memory a
// recordset of 100,000 rows holds beside the bytes of its values.
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <sqlite3.h>
#include "bench/interleaved.h"
#include "bench/run_times.h"
#include "bench/sqlite_direct.h"

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>

#include "mgt/common/collection.h"
#include "mgt/common/module.h"
#include "mgt/init/root.h"
#include "mgt/um/um_mgt.h"
#include "platform/ado/recordset.h"
#include "platform/com/registry.h"
#include "records/record.h"
#include "testing/engines.h"

namespace {

// The statement getAllUsr runs.
constexpr const char* kAllUsers = "select * from umUsr ";

// A root with the seeded schema and `users` users, every column filled.
struct Portal {
  explicit Portal(int users) {
    tivel::mgt::initRoot({dir.path(), true});
    tivel::mgt::resetThreadState();
    db = dir.path() + "/db/tivel.db";
    tivel::bench::insertRows(db,
                             "insert into umUsr(usr_no,account,pwd,name,NetName,Address,Phone,Mobile,Email,EmailOA,"
                             "state,login_mode,login_count,account_time) values(?1,?2,'pw','用户'||?1,?2,"
                             "'北京市海淀区','010-12345678','13900000000',?2||'@example.com',?2||'@oa.example.com',0,"
                             "'100000','0','2026-01-01 00:00:00')",
                             users, [](sqlite3_stmt* ins, int i) {
                               std::string no = "USR_" + std::to_string(i);
                               std::string account = "user" + std::to_string(i);
                               sqlite3_bind_text(ins, 1, no.c_str(), -1, SQLITE_TRANSIENT);
                               sqlite3_bind_text(ins, 2, account.c_str(), -1, SQLITE_TRANSIENT);
                             });
  }
  tivel::testing::TempDir dir;
  std::string db;
};

void listThroughComponents(benchmark::State& state, int users) {
  Portal portal(users);
  auto um = std::dynamic_pointer_cast<tivel::mgt::UmMgt>(tivel::com::CreateObject("TivelMgt.UmMgt"));
  for (auto _ : state) {
    tivel::com::Variant list = um->getAllUsr();
    auto c = std::dynamic_pointer_cast<tivel::mgt::cCollection>(list.toObject());
    if (!c || c->Count() != users) state.SkipWithError("getAllUsr did not list every user");
  }
  um.reset();
  tivel::mgt::resetThreadState();
}

// The same statement prepared, run and finalised once per list, every column
// of every row read as text.
void listDirect(benchmark::State& state, int users) {
  Portal portal(users);
  tivel::bench::DirectDb d(portal.db);
  for (auto _ : state)
    if (d.run(kAllUsers) != users) state.SkipWithError("direct select did not read every user");
}

// The floor of records that own their values: the same 10,000 records made
// from values already in memory (the seven getAllUsr fills, each copied),
// keyed into a list, and released, with no engine and no recordset.
void listRecordsOnly(benchmark::State& state, int users) {
  Portal portal(users);
  auto conn = std::make_shared<tivel::ado::Connection>();
  conn->open("Provider=SQLite;Data Source=" + portal.db + ";");
  const std::vector<std::string> fields = {"Usr_No", "Name", "Account", "Login_Count", "Login_Mode", "Pwd", "State"};
  std::vector<std::vector<tivel::com::Variant>> rows;
  auto rs = std::make_shared<tivel::ado::Recordset>();
  rs->open(kAllUsers, conn, tivel::ado::adOpenStatic, tivel::ado::adLockReadOnly);
  for (; !rs->eof(); rs->moveNext()) {
    rows.emplace_back();
    for (const std::string& f : fields) rows.back().push_back(rs->value(f));
  }
  rs->close();
  const tivel::records::RecordClass* cls = tivel::records::findRecordClass("cUmUsr");
  std::vector<int> places;
  for (const std::string& f : fields) places.push_back(tivel::records::Record(*cls).indexOf(f));
  for (auto _ : state) {
    auto list = tivel::mgt::newCollection();
    list->reserve(rows.size());  // as a list read from a recordset does
    for (const auto& row : rows) {
      auto rec = std::make_shared<tivel::records::Record>(*cls);
      for (size_t i = 0; i < row.size(); ++i) rec->setAt(static_cast<size_t>(places[i]), row[i]);
      list->Add(tivel::com::Variant(std::static_pointer_cast<tivel::com::Object>(rec)), "USR" + row[0].toString());
    }
    if (list->Count() != users) state.SkipWithError("not every record was listed");
  }
}

// What a recordset of every user holds, measured by the allocator.
struct Memory {
  double held = 0, values = 0;
};
Memory measured;

// Opens one recordset on every user and counts the heap it holds against its
// values' bytes: text lengths, and 8 bytes for a number or a date.
void recordsetMemory(benchmark::State& state, int users) {
  Portal portal(users);
  auto conn = std::make_shared<tivel::ado::Connection>();
  conn->open("Provider=SQLite;Data Source=" + portal.db + ";");
  // Once first, so the engine's page cache and kept statement are already
  // held and only the recordset's own heap is counted.
  conn->execute(kAllUsers)->close();
  for (auto _ : state) {
    malloc_trim(0);
    const size_t before = mallinfo2().uordblks;
    auto rs = std::make_shared<tivel::ado::Recordset>();
    rs->open(kAllUsers, conn, tivel::ado::adOpenStatic, tivel::ado::adLockReadOnly);
    const size_t after = mallinfo2().uordblks;
    double values = 0;
    for (const auto& row : rs->visibleRows())
      for (const auto& v : row) {
        if (const auto* s = v.get<std::string>())
          values += static_cast<double>(s->size());
        else if (!v.isNull() && !v.isEmpty())
          values += 8;
      }
    measured = {static_cast<double>(after - before), values};
    rs.reset();
  }
  state.counters["held_bytes"] = measured.held;
  state.counters["value_bytes"] = measured.values;
}

BENCHMARK_CAPTURE(listThroughComponents, users_10000, 10000)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(listDirect, users_10000, 10000)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(listRecordsOnly, users_10000, 10000)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(recordsetMemory, rows_100000, 100000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

// The list through the components beside the direct select on one root,
// interleaved in rounds (bench/interleaved.h).
void listInterleaved() {
  constexpr int kUsers = 10000;
  Portal portal(kUsers);
  tivel::bench::Side ours([] {
    auto um = std::dynamic_pointer_cast<tivel::mgt::UmMgt>(tivel::com::CreateObject("TivelMgt.UmMgt"));
    return [um]() -> double {
      auto c = std::dynamic_pointer_cast<tivel::mgt::cCollection>(um->getAllUsr().toObject());
      if (!c || c->Count() != kUsers) throw std::runtime_error("getAllUsr did not list every user");
      return -1;
    };
  });
  tivel::bench::Side direct([&] {
    auto d = std::make_shared<tivel::bench::DirectDb>(portal.db);
    return [d]() -> double {
      if (d->run(kAllUsers) != kUsers) throw std::runtime_error("direct select did not read every user");
      return -1;
    };
  });
  const int rounds = tivel::bench::rounds(15);
  tivel::bench::printRatio("getAllUsr of 10000 users / the same select direct",
                           tivel::bench::interleave(ours, direct, rounds, 20), "ms", 1.5, rounds);
}

// Runs the benchmarks, then prints the ratios the targets are about; the
// list's ratio is measured again in interleaved rounds.
int main(int argc, char** argv) {
  tivel::bench::steadyHeap();
  tivel::bench::RunTimes times;
  tivel::bench::runBenchmarks(argc, argv, times);
  double ours = times.real("listThroughComponents/users_10000"), direct = times.real("listDirect/users_10000");
  if (ours > 0 && direct > 0)
    std::printf("getAllUsr of 10000 users / the same select direct: %.2f ms / %.2f ms = %.2f (target <= 1.50)\n", ours,
                direct, ours / direct);
  listInterleaved();
  if (double records = times.real("listRecordsOnly/users_10000"); records > 0 && direct > 0)
    std::printf(
        "10000 records made from values in memory, keyed and released / the direct select: %.2f ms / %.2f ms = %.2f\n",
        records, direct, records / direct);
  if (measured.values > 0)
    std::printf("recordset of 100000 rows: %.1f MB held / %.1f MB of values = %.2f (target <= 2.00)\n",
                measured.held / 1e6, measured.values / 1e6, measured.held / measured.values);
  benchmark::Shutdown();
  return 0;
}
