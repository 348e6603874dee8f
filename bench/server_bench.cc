// The login, checkAuth, Save_Script and getAllUsr through the components on
// a server database through ODBC, each beside the same statements run
// directly through the ODBC API (SQLExecDirectW, SQLFetch, SQLGetData of
// every column as wide text) on a connection of the same driver and
// settings, in the same process. Built once per server engine
// (TIVEL_BENCH_ENGINE: tivel_pg_bench for PostgreSQL, tivel_mariadb_bench for
// MariaDB); runs only when that engine's TIVEL_TEST_* variables name a test
// server. One throwaway database holds both components' tables. Where libpq
// is there, the PostgreSQL program also runs the login, checkAuth and
// Save_Script statements through libpq, the server's own client library.
#include <benchmark/benchmark.h>

#include <sql.h>
#include <sqlext.h>
#include "bench/interleaved.h"
#include "bench/login_statements.h"
#include "bench/run_times.h"
#if TIVEL_BENCH_LIBPQ
#include "bench/libpq_direct.h"
#endif

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>

#include "fee/interface.h"
#include "fee/module.h"
#include "fee/schema.h"
#include "mgt/admin/admin_mgt.h"
#include "mgt/common/collection.h"
#include "mgt/common/module.h"
#include "mgt/init/root.h"
#include "mgt/um/um_mgt.h"
#include "platform/ado/odbc/mariadb_dialect.h"
#include "platform/ado/odbc/odbc_connection_string.h"
#include "platform/ado/odbc/wide_text.h"
#include "platform/com/registry.h"
#include "testing/engines.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPace = std::chrono::microseconds(2500);  // generated keys: at most 999 a second
constexpr int kUsers = 10000;
constexpr int kDetails = 5;

using tivel::testing::env;

// What differs between the engines in this program.
struct Engine {
  const char* name;    // as testing::engines() names it
  const char* title;   // for the printed lines
  const char* prefix;  // of the TIVEL_TEST_* variables
  const char* driver;
  bool postgresql() const { return std::string(name) == "postgresql"; }
  std::string setting(const char* what) const { return env((std::string(prefix) + "_" + what).c_str()); }
  // A select's FROM for the numbers 1 to n, as column i.
  std::string numbers(int n) const {
    return postgresql() ? "generate_series(1," + std::to_string(n) + ") i"
                        : "(select seq as i from seq_1_to_" + std::to_string(n) + ") n";
  }
};

constexpr Engine kEngine = std::string_view(TIVEL_BENCH_ENGINE) == "mariadb"
                               ? Engine{"mariadb", "MariaDB", "TIVEL_TEST_MARIADB", "MariaDB Unicode"}
                               : Engine{"postgresql", "PostgreSQL", "TIVEL_TEST_PG", "PostgreSQL Unicode"};

// One ODBC connection used directly, with the driver and session settings
// the data-access layer adds.
class Odbc {
 public:
  explicit Odbc(const std::string& database) {
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
    SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
    std::string text = std::string("DRIVER={") + kEngine.driver + "};SERVER=" + kEngine.setting("HOST") +
                       ";PORT=" + kEngine.setting("PORT") + ";UID=" + kEngine.setting("USER") +
                       ";PWD=" + kEngine.setting("PASSWORD") + ";DATABASE=" + database + ";";
    for (const auto& [key, value] : tivel::ado::odbc::driverDefaults(kEngine.driver))
      text += tivel::ado::odbc::connectPair(key, value);
    std::u16string cs = tivel::ado::odbc::toUtf16(text);
    check(SQLDriverConnectW(dbc_, nullptr, w(cs), static_cast<SQLSMALLINT>(cs.size()), nullptr, 0, nullptr,
                            SQL_DRIVER_NOPROMPT),
          SQL_HANDLE_DBC, dbc_);
    if (!kEngine.postgresql()) run(tivel::ado::odbc::mariadbSessionSettings());
  }
  ~Odbc() {
    SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }
  Odbc(const Odbc&) = delete;
  Odbc& operator=(const Odbc&) = delete;

  // Runs one statement, reading every column of every row; the row count.
  // With `field`, the first row's column `column` (from 1) is kept there as text.
  int run(const std::string& sql, std::string* field = nullptr, SQLUSMALLINT column = 1) {
    SQLHSTMT st = nullptr;
    SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &st);
    std::u16string text = tivel::ado::odbc::toUtf16(sql);
    SQLRETURN rc = SQLExecDirectW(st, w(text), static_cast<SQLINTEGER>(text.size()));
    if (rc != SQL_NO_DATA) check(rc, SQL_HANDLE_STMT, st);
    SQLSMALLINT ncol = 0;
    SQLNumResultCols(st, &ncol);
    int rows = 0;
    while (ncol > 0 && SQLFetch(st) == SQL_SUCCESS) {
      for (SQLUSMALLINT i = 1; i <= static_cast<SQLUSMALLINT>(ncol); ++i) {
        char16_t buf[2048];
        SQLLEN ind = 0;
        SQLGetData(st, i, SQL_C_WCHAR, buf, sizeof buf, &ind);
        if (field && rows == 0 && i == column && ind >= 0)
          *field = tivel::ado::odbc::toUtf8(std::u16string_view(buf, static_cast<size_t>(ind) / 2));
      }
      ++rows;
    }
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    return rows;
  }
  // The first field of the first row as text ("" for none or NULL).
  std::string first(const std::string& sql) {
    std::string v;
    run(sql, &v);
    return v;
  }
  void begin() { SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0); }
  void commit() {
    check(SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_COMMIT), SQL_HANDLE_DBC, dbc_);
    SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
  }

 private:
  static SQLWCHAR* w(std::u16string& s) { return reinterpret_cast<SQLWCHAR*>(s.data()); }
  static void check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE h) {
    if (SQL_SUCCEEDED(rc)) return;
    SQLCHAR state[6] = {}, msg[512] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT len = 0;
    SQLGetDiagRecA(type, h, 1, state, &native, msg, sizeof msg, &len);
    throw std::runtime_error(reinterpret_cast<const char*>(msg));
  }
  SQLHENV env_ = nullptr;
  SQLHDBC dbc_ = nullptr;
};

// A root whose SysTivel.ini and Scrivane.ini both name one throwaway server
// database, with the management schema (seeded), the fee schema, 10,000 users
// (one of them "bench", account "bench") and 100 authorizations.
struct Server {
  Server() : db(kEngine.name) {
    namespace fs = std::filesystem;
    for (const char* sub : {"/bin", "/ini", "/db", "/log"}) fs::create_directories(dir.path() + sub);
    const std::string ini = "[DB]\nmode=2\n[DBCONN_sql_drive]\n" + db.driveSection();
    for (const char* file : {"/ini/SysTivel.ini", "/ini/Scrivane.ini"}) std::ofstream(dir.path() + file) << ini;
    tivel::mgt::initRoot({dir.path(), true});
    tivel::gf::initFeeDatabase(dir.path());
    tivel::mgt::resetThreadState();
    Odbc d(db.location());
    d.run(
        "insert into umUsr(usr_no,account,pwd,name,NetName,Address,Phone,Mobile,Email,EmailOA,state,login_mode,"
        "login_count,account_time) select 'USR_'||i,'user'||i,'pw','用户USR_'||i,'user'||i,'北京市海淀区',"
        "'010-12345678','13900000000','user'||i||'@example.com','user'||i||'@oa.example.com',0,'100000','0',"
        "'2026-01-01 00:00:00' from " +
        kEngine.numbers(kUsers - 1));
    d.run(
        "insert into umUsr(usr_no,account,pwd,name,state,login_mode,login_count,account_time) "
        "values('USR_bench','bench','pw','用户',0,'100000','0','2026-01-01 00:00:00')");
    d.run(
        "insert into AppAuth(res_no,OGRU_type,OGRU_no,Res_Auth,isAvail) select 'RES_'||(i%50),3,'USR_'||i,'10110','1' "
        "from " +
        kEngine.numbers(99));
    d.run(
        "insert into AppAuth(res_no,OGRU_type,OGRU_no,Res_Auth,isAvail) values('RES_bench',3,'USR_bench','10110','1')");
    d.run(kEngine.postgresql() ? "analyze" : "analyze table umUsr, AppAuth");
  }
  tivel::testing::ScratchDatabase db;
  tivel::testing::TempDir dir;
};
std::unique_ptr<Server> server;

void pace(Clock::time_point start) {
  auto left = kPace - (Clock::now() - start);
  if (left > Clock::duration::zero()) std::this_thread::sleep_for(left);
}

void loginThroughComponents(benchmark::State& state) {
  auto admin = std::dynamic_pointer_cast<tivel::mgt::AdminMgt>(tivel::com::CreateObject("TivelMgt.AdminMgt"));
  for (auto _ : state) {
    auto start = Clock::now();
    std::string code = admin->loginByPwd("bench", "pw", "127.0.0.1");
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    if (code != "0") state.SkipWithError(("login answered " + code).c_str());
    pace(start);
  }
}

void loginDirect(benchmark::State& state) {
  Odbc d(server->db.location());
  static long n = 0;  // one database for every run: keys stay unique over repetitions
  for (auto _ : state) {
    auto start = Clock::now();
    tivel::bench::loginStatements(d, ++n);
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    pace(start);
  }
}

void checkThroughComponents(benchmark::State& state) {
  auto admin = std::dynamic_pointer_cast<tivel::mgt::AdminMgt>(tivel::com::CreateObject("TivelMgt.AdminMgt"));
  for (auto _ : state)
    if (admin->checkAuth("RES_bench", "USR_bench", 3) != "1") state.SkipWithError("checkAuth did not answer 1");
}

// The check's select on `d`; whether it grants the right.
template <class Db>
bool checkStatement(Db& d) {
  std::string auth;  // Res_Auth, the fourth column
  d.run("select * from AppAuth where res_no='RES_bench' and OGRU_Type=3 and OGRU_No='USR_bench'", &auth, 4);
  return auth.size() >= 3 && auth[2] == '1';
}

void checkDirect(benchmark::State& state) {
  Odbc d(server->db.location());
  for (auto _ : state)
    if (!checkStatement(d)) state.SkipWithError("direct select answered no row");
}

void listThroughComponents(benchmark::State& state) {
  auto um = std::dynamic_pointer_cast<tivel::mgt::UmMgt>(tivel::com::CreateObject("TivelMgt.UmMgt"));
  for (auto _ : state) {
    auto c = std::dynamic_pointer_cast<tivel::mgt::cCollection>(um->getAllUsr().toObject());
    if (!c || c->Count() != kUsers) state.SkipWithError("getAllUsr did not list every user");
  }
}

void listDirect(benchmark::State& state) {
  Odbc d(server->db.location());
  for (auto _ : state)
    if (d.run("select * from umUsr ") != kUsers) state.SkipWithError("direct select did not read every user");
}

tivel::ado::RecordsetPtr form(tivel::gf::Interface& gf, const char* sql) {
  tivel::com::Variant err;
  auto rs = std::dynamic_pointer_cast<tivel::ado::Recordset>(gf.f_GetRecordset(err, "", sql).toObject());
  if (!rs) throw std::runtime_error("f_GetRecordset: " + err.toString());
  return rs;
}

// A call that saves one slip of kDetails details through Save_Script.
std::function<void()> slipSaver() {
  auto gf = std::dynamic_pointer_cast<tivel::gf::Interface>(tivel::com::CreateObject("TivelGF.interface"));
  auto header = form(*gf, "SELECT * FROM T_Script WHERE 1 = 0");
  header->addNew();
  header->setValue("JH", tivel::com::Variant("01"));
  header->setValue("Script_Id", tivel::com::Variant("(自动产生)"));
  header->setValue("Title", tivel::com::Variant("稿件标题"));
  header->setValue("Word_Count", tivel::com::Variant(int32_t{1200}));
  header->setValue("Operator", tivel::com::Variant("op1"));
  auto details = form(*gf, "SELECT * FROM T_ScrpDtl WHERE 1 = 0");
  for (int i = 1; i <= kDetails; ++i) {
    details->addNew();
    details->setValue("S_NO", tivel::com::Variant(int32_t{i}));
    details->setValue("IsExt", tivel::com::Variant(int32_t{0}));
    details->setValue("Author_Id", tivel::com::Variant("AUT" + std::to_string(i)));
    details->setValue("Percentage", tivel::com::Variant(20.0));
    details->setValue("Amount", tivel::com::Variant(100.0 * i));
  }
  auto file = form(*gf, "SELECT * FROM T_ScrpFile WHERE 1 = 0");
  return [gf, header, details, file] {
    std::string err;
    if (!gf->Save_Script(err, 2026, 12, "01", header, details, file)) throw std::runtime_error("Save_Script: " + err);
  };
}

void saveThroughComponent(benchmark::State& state) {
  const std::function<void()> save = slipSaver();
  for (auto _ : state) {
    try {
      save();
    } catch (const std::exception& e) {
      state.SkipWithError(e.what());
    }
  }
}

// The statements one save issues on the server database, in one transaction.
template <class Db>
void saveStatements(Db& d) {
  d.begin();
  d.run(kEngine.postgresql() ? "LOCK TABLE CD_MAX_LSH IN EXCLUSIVE MODE"
                             : "SELECT GET_LOCK(CONCAT('tivel:', MD5(CONCAT(DATABASE(), '.cd_max_lsh'))), -1)");
  d.run("Select * From CD_MAX_LSH WHERE JH = '02' and CURYEAR = 2026 AND CURMONTH = 12");
  std::string max = d.first("SELECT MAXLSH FROM CD_MAX_LSH WHERE JH = '02' and CURYEAR = 2026 AND CURMONTH = 12");
  std::string serial = std::to_string(std::atol(max.c_str()) + 1);
  std::string number =
      "022026"
      "12" +
      serial;
  const std::string where = " WHERE JH = '02' AND Script_Id = '" + number + "'";
  d.run("SELECT COUNT(*) FROM T_Script" + where);
  if (max.empty())
    d.run("INSERT INTO CD_MAX_LSH(JH, CURYEAR, CURMONTH, MAXLSH) VALUES ('02', 2026, 12, '1')");
  else
    d.run("UPDATE CD_MAX_LSH SET MAXLSH = '" + serial +
          "' WHERE JH = '02' AND CURYEAR = 2026 AND CURMONTH = 12 AND MAXLSH = '" + max + "'");
  d.run("DELETE FROM T_ScrpDtl" + where);
  d.run("SELECT * FROM T_Script" + where);
  // Every column of the header, as the recordset writes a row it filled whole.
  d.run(
      "INSERT INTO T_Script(JH, Script_Id, Title, Author_Names, Section_Name, Page_No, Pub_Date, Script_Type, "
      "Word_Count, Pic_Count, Fee_Standard, Total_Amount, Remark, Operator, Input_Time, Modify_Time, Sign_Id, "
      "Sign_Time) VALUES ('02', '" +
      number +
      "', '稿件标题', NULL, NULL, NULL, NULL, NULL, 1200, NULL, NULL, NULL, NULL, 'op1', NULL, NULL, NULL, NULL)");
  d.run("SELECT * FROM T_ScrpDtl" + where);
  for (int i = 1; i <= kDetails; ++i)
    d.run("INSERT INTO T_ScrpDtl(JH, Script_Id, S_NO, IsExt, Author_Id, Percentage, Amount) VALUES ('02', '" + number +
          "', " + std::to_string(i) + ", 0, 'AUT" + std::to_string(i) + "', 20, " + std::to_string(100 * i) + ")");
  std::string n = d.first("SELECT COUNT(*) AS Exp1 FROM T_Script_Save" + where);
  d.run("INSERT INTO T_Script_Save SELECT *," + n + " AS I_NO FROM T_Script" + where);
  d.run("INSERT INTO T_ScrpDtl_Save SELECT *," + n + " AS I_NO FROM T_ScrpDtl" + where);
  d.commit();
  if (!kEngine.postgresql()) d.run("SELECT RELEASE_ALL_LOCKS()");
}

void saveDirect(benchmark::State& state) {
  Odbc d(server->db.location());
  for (auto _ : state) saveStatements(d);
}

#if TIVEL_BENCH_LIBPQ
tivel::bench::Libpq libpq() {
  return {kEngine.setting("HOST"), kEngine.setting("PORT"), kEngine.setting("USER"), kEngine.setting("PASSWORD"),
          server->db.location()};
}

std::shared_ptr<tivel::bench::Libpq> sharedLibpq() {
  return std::make_shared<tivel::bench::Libpq>(kEngine.setting("HOST"), kEngine.setting("PORT"),
                                               kEngine.setting("USER"), kEngine.setting("PASSWORD"),
                                               server->db.location());
}

void loginLibpq(benchmark::State& state) {
  auto d = libpq();
  static long n = 0;  // keys apart from loginDirect's
  for (auto _ : state) {
    auto start = Clock::now();
    tivel::bench::loginStatements(d, 1000000 + ++n);
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    pace(start);
  }
}

void checkLibpq(benchmark::State& state) {
  auto d = libpq();
  for (auto _ : state)
    if (!checkStatement(d)) state.SkipWithError("libpq select answered no row");
}

void saveLibpq(benchmark::State& state) {
  auto d = libpq();
  for (auto _ : state) saveStatements(d);
}

void listLibpq(benchmark::State& state) {
  auto d = libpq();
  for (auto _ : state)
    if (d.run("select * from umUsr ") != kUsers) state.SkipWithError("libpq select did not read every user");
}

// The four works through the components beside libpq, in interleaved rounds
// (bench/interleaved.h), so that load on the machine falls on both alike.
// Each round's calls: enough for tens of milliseconds a side.
void libpqInterleaved() {
  using tivel::bench::Side;
  const int rounds = tivel::bench::rounds(15);
  const auto timed = [](auto&& work) {
    const auto start = Clock::now();
    work();
    const double counted = std::chrono::duration<double>(Clock::now() - start).count();
    pace(start);
    return counted;
  };
  const auto report = [&](const char* what, const char* unit, int calls, std::function<std::function<double()>()> ours,
                          std::function<std::function<double()>()> theirs) {
    Side a(std::move(ours)), b(std::move(theirs));
    tivel::bench::printRatio(std::string("PostgreSQL: ") + what + " through the components / libpq",
                             tivel::bench::interleave(a, b, rounds, calls), unit, 1.3, rounds, 1.5);
  };
  report(
      "login", "us", 20,
      [&] {
        auto admin = std::dynamic_pointer_cast<tivel::mgt::AdminMgt>(tivel::com::CreateObject("TivelMgt.AdminMgt"));
        return std::function<double()>([admin, timed] {
          return timed([&] {
            if (admin->loginByPwd("bench", "pw", "127.0.0.1") != "0") throw std::runtime_error("login failed");
          });
        });
      },
      [&] {
        auto d = sharedLibpq();
        return std::function<double()>([d, timed] {
          static long n = 2000000;  // keys apart from the other login runs'
          return timed([&] { tivel::bench::loginStatements(*d, ++n); });
        });
      });
  report(
      "checkAuth", "us", 400,
      [] {
        auto admin = std::dynamic_pointer_cast<tivel::mgt::AdminMgt>(tivel::com::CreateObject("TivelMgt.AdminMgt"));
        return std::function<double()>([admin] {
          if (admin->checkAuth("RES_bench", "USR_bench", 3) != "1")
            throw std::runtime_error("checkAuth did not answer 1");
          return -1.0;
        });
      },
      [&] {
        auto d = sharedLibpq();
        return std::function<double()>([d] {
          if (!checkStatement(*d)) throw std::runtime_error("libpq select answered no row");
          return -1.0;
        });
      });
  report(
      "Save_Script of a slip with 5 details", "us", 20,
      [] {
        auto save = std::make_shared<std::function<void()>>(slipSaver());
        return std::function<double()>([save] {
          (*save)();
          return -1.0;
        });
      },
      [&] {
        auto d = sharedLibpq();
        return std::function<double()>([d] {
          saveStatements(*d);
          return -1.0;
        });
      });
  report(
      "getAllUsr of 10000 users", "ms", 3,
      [] {
        auto um = std::dynamic_pointer_cast<tivel::mgt::UmMgt>(tivel::com::CreateObject("TivelMgt.UmMgt"));
        return std::function<double()>([um] {
          auto c = std::dynamic_pointer_cast<tivel::mgt::cCollection>(um->getAllUsr().toObject());
          if (!c || c->Count() != kUsers) throw std::runtime_error("getAllUsr did not list every user");
          return -1.0;
        });
      },
      [&] {
        auto d = sharedLibpq();
        return std::function<double()>([d] {
          if (d->run("select * from umUsr ") != kUsers)
            throw std::runtime_error("libpq select did not read every user");
          return -1.0;
        });
      });
}
#endif

BENCHMARK(loginThroughComponents)->UseManualTime()->Iterations(300)->Unit(benchmark::kMicrosecond);
BENCHMARK(loginDirect)->UseManualTime()->Iterations(300)->Unit(benchmark::kMicrosecond);
BENCHMARK(checkThroughComponents)->Unit(benchmark::kMicrosecond);
BENCHMARK(checkDirect)->Unit(benchmark::kMicrosecond);
BENCHMARK(saveThroughComponent)->Iterations(300)->Unit(benchmark::kMicrosecond);
BENCHMARK(saveDirect)->Iterations(300)->Unit(benchmark::kMicrosecond);
#if TIVEL_BENCH_LIBPQ
BENCHMARK(loginLibpq)->UseManualTime()->Iterations(300)->Unit(benchmark::kMicrosecond);
BENCHMARK(checkLibpq)->Unit(benchmark::kMicrosecond);
BENCHMARK(saveLibpq)->Iterations(300)->Unit(benchmark::kMicrosecond);
#endif
BENCHMARK(listThroughComponents)->Unit(benchmark::kMillisecond);
BENCHMARK(listDirect)->Unit(benchmark::kMillisecond);
#if TIVEL_BENCH_LIBPQ
BENCHMARK(listLibpq)->Unit(benchmark::kMillisecond);
#endif

}  // namespace

// Runs the benchmarks on a throwaway server database, then prints the ratios.
int main(int argc, char** argv) {
  if (kEngine.setting("HOST").empty()) {
    std::printf("%s benchmarks skipped: %s_HOST names no test server\n", kEngine.title, kEngine.prefix);
    return 0;
  }
  // The allocator's thresholds as `tivel serve` sets them (bench/interleaved.h).
  tivel::bench::steadyHeap();
  server = std::make_unique<Server>();
  // TIVEL_TEST_PG_NATIVE=1 puts the components on the native backend
  // (testing/engines.h); the ODBC and libpq sides stay as they are.
  if (kEngine.postgresql())
    std::printf("%s: the components reach it through %s\n", kEngine.title,
                tivel::testing::env("TIVEL_TEST_PG_NATIVE") == "1" ? "the native backend (libpq)" : "ODBC");
  tivel::bench::RunTimes times;
  tivel::bench::runBenchmarks(argc, argv, times);
  tivel::mgt::resetThreadState();
  tivel::gf::resetThreadState();
#if TIVEL_BENCH_LIBPQ
  if (env("TIVEL_BENCH_INTERLEAVED") != "0") libpqInterleaved();
#endif
  const struct {
    const char *what, *ours, *direct, *libpq, *unit;
  } lines[] = {
      {"login", "loginThroughComponents", "loginDirect", "loginLibpq", "us"},
      {"checkAuth", "checkThroughComponents", "checkDirect", "checkLibpq", "us"},
      {"Save_Script of a slip with 5 details", "saveThroughComponent", "saveDirect", "saveLibpq", "us"},
      {"getAllUsr of 10000 users", "listThroughComponents", "listDirect", "listLibpq", "ms"},
  };
  for (const auto& l : lines) {
    double ours = times.real(l.ours), direct = times.real(l.direct), client = times.real(l.libpq);
    if (ours > 0 && direct > 0)
      std::printf("%s: %s through the components / the same statements through ODBC: %.1f %s / %.1f %s = %.2f\n",
                  kEngine.title, l.what, ours, l.unit, direct, l.unit, ours / direct);
    // The CPU ratios are this process's own work (the client's): the
    // components' and the driver's share beside libpq's.
    const double clientCpu = times.cpu(l.libpq);
    if (ours > 0 && direct > 0 && client > 0 && clientCpu > 0)
      std::printf(
          "%s: %s through libpq: %.1f %s; components / libpq = %.2f, ODBC API / libpq = %.2f; client CPU: "
          "components / libpq = %.2f, ODBC API / libpq = %.2f\n",
          kEngine.title, l.what, client, l.unit, ours / client, direct / client, times.cpu(l.ours) / clientCpu,
          times.cpu(l.direct) / clientCpu);
  }
  server.reset();
  benchmark::Shutdown();
  return 0;
}
