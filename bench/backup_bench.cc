// Backup and restore speed on each engine, and what a running backup costs
// a writer: rows a second written into the archive and restored from it, and
// the writer's transactions a second alone and while backups run.
//   build-bench/bin/tivel_backup_bench    (servers from TIVEL_TEST_PG_* / TIVEL_TEST_MARIADB_*)
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "mgt/init/backup.h"
#include "mgt/init/schema.h"
#include "platform/ado/connection.h"
#include "testing/engines.h"

namespace {

using namespace tivel;
constexpr int kUsers = 50000;

// A management database of kUsers users (and an empty fee database).
struct Filled {
  explicit Filled(const std::string& engine) : mgt(engine), fee(engine) {
    for (auto* db : {&mgt, &fee}) {
      ado::Connection c;
      c.open(db->connectionString());
      mgt::applySchema(c, db == &mgt ? "mgt" : "fee");
      if (db == &mgt)
        c.inTransaction([&] {
          for (int i = 0; i < kUsers; ++i)
            c.backend().executeBound(
                "insert into umUsr(usr_no,account,name,Email,state) values(?,?,?,?,?)",
                {com::Variant("USR_" + std::to_string(i)), com::Variant("user" + std::to_string(i)),
                 com::Variant("用户" + std::to_string(i)), com::Variant("u" + std::to_string(i) + "@example.org"),
                 com::Variant(int32_t{i % 3})});
        });
      c.close();
    }
  }
  std::vector<mgt::ArchivedDatabase> list() const {
    return {{"mgt", mgt.connectionString()}, {"fee", fee.connectionString()}};
  }
  testing::ScratchDatabase mgt, fee;
};

// Transactions a second of a writer adding a department and its two users,
// for `seconds`, while `during` runs on another thread (when given).
double writerRate(const std::string& cs, double seconds, const std::function<void(std::atomic<bool>&)>& during) {
  std::atomic<bool> stop{false};
  std::thread other;
  if (during) other = std::thread([&] { during(stop); });
  ado::Connection w;
  w.open(cs);
  static std::atomic<long> serial{0};
  long done = 0;
  const auto start = std::chrono::steady_clock::now();
  while (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() < seconds) {
    const std::string n = std::to_string(++serial);
    w.inTransaction([&] {
      w.execute("insert into umOrg(Org_no,name,Priority) values('W_" + n + "','部门',1)");
      for (const char* u : {"a", "b"})
        w.execute("insert into umUsr(usr_no,account,name) values('W_" + n + u + "','w" + n + u + "','用户')");
    });
    ++done;
  }
  const double rate = done / std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  stop = true;
  if (other.joinable()) other.join();
  w.close();
  return rate;
}

void BM_Backup(benchmark::State& state, const std::string& engine) {
  Filled db(engine);
  testing::TempDir dir;
  const std::string archive = dir.path() + "/a.backup";
  mgt::ArchiveFigures f;
  for (auto _ : state) f = mgt::writeBackup(db.list(), {}, archive);
  state.counters["rows"] = static_cast<double>(f.rows);
  state.counters["backup_rows_per_s"] = f.rows / f.seconds;
  testing::ScratchDatabase mgt2(engine), fee2(engine);
  mgt::ArchiveFigures r =
      mgt::restoreBackup(archive, {{"mgt", mgt2.connectionString()}, {"fee", fee2.connectionString()}});
  state.counters["restore_rows_per_s"] = r.rows / r.seconds;
  // The writer alone, then with one backup after another running beside it.
  writerRate(db.mgt.connectionString(), 1, {});  // warm-up, not counted
  const double alone = writerRate(db.mgt.connectionString(), 3, {});
  long backups = 0;
  const double beside = writerRate(db.mgt.connectionString(), 3, [&](std::atomic<bool>& stop) {
    while (!stop) {
      mgt::writeBackup(db.list(), {}, dir.path() + "/b.backup");
      ++backups;
    }
  });
  state.counters["writer_tx_per_s_alone"] = alone;
  state.counters["writer_tx_per_s_during_backup"] = beside;
  state.counters["backups_during"] = static_cast<double>(backups);
}

const bool registered = [] {
  for (const std::string& e : testing::engines())
    benchmark::RegisterBenchmark(("BM_Backup/" + e).c_str(), BM_Backup, e)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
  return true;
}();

}  // namespace

BENCHMARK_MAIN();
