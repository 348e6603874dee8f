#include "mgt/init/backup.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "mgt/init/archive_format.h"
#include "mgt/init/archive_reader.h"
#include "mgt/init/schema.h"
#include "platform/ado/connection.h"
#include "platform/ado/recordset.h"
#include "platform/com/error.h"
#include "testing/engines.h"

namespace tivel::mgt {
namespace {

using tivel::testing::ScratchDatabase;
using tivel::testing::TempDir;

// A management and a fee database on one engine, with their tables.
struct Databases {
  explicit Databases(const std::string& engine) : mgt(engine), fee(engine) {}
  std::vector<ArchivedDatabase> list() const {
    return {{"mgt", mgt.connectionString()}, {"fee", fee.connectionString()}};
  }
  void create() {
    for (const auto& [name, cs] : std::vector<std::pair<std::string, std::string>>{{"mgt", mgt.connectionString()},
                                                                                   {"fee", fee.connectionString()}}) {
      ado::Connection c;
      c.open(cs);
      applySchema(c, name);
      c.close();
    }
  }
  long count(const std::string& table, bool feeDb = false) {
    ado::Connection c;
    c.open(feeDb ? fee.connectionString() : mgt.connectionString());
    long n = c.execute("select count(*) from " + table)->value(0).toLong();
    c.close();
    return n;
  }
  ScratchDatabase mgt, fee;
};

// More users than a backup reads a statement, so tables are read in pages.
// Values that must come back exactly: Chinese and other text beyond ASCII,
// NULLs, empty texts, quotes and backslashes, whole and fractional numbers
// at the edges of a double's precision, bytes of every value.
void fill(Databases& d) {
  d.create();
  ado::Connection m;
  m.open(d.mgt.connectionString());
  m.execute("insert into umOrg(Org_no,name,disc,Priority,top_org_no) values('ORG_1','总部',NULL,1,NULL)");
  m.execute(
      "insert into umOrg(Org_no,name,disc,Priority,top_org_no) values('ORG_2','财务部 ''引号'' \\ "
      "😀','',-2147483648,'ORG_1')");
  m.execute("insert into umGrp(Grp_no,name,disc) values('1','系统管理员',NULL)");
  m.execute("insert into SysLog(Log_no,WDateTime,disc,Log_Type) values('LOG_1','2026-12-09 10:00:00','登录',1)");
  m.execute("insert into umUsrSecInst(Usi_no,Usa_no,usr_no,Usi_Value,isAvail) values(7,'3','USR_1','5',1)");
  m.inTransaction([&] {
    for (int i = 0; i < 1500; ++i)
      m.execute("insert into umUsr(usr_no,account,name,state) values('USR_" + std::to_string(i) + "','user" +
                std::to_string(i) + "','用户" + std::to_string(i) + "'," + std::to_string(i % 3) + ")");
  });
  m.close();
  ado::Connection f;
  f.open(d.fee.connectionString());
  f.execute(
      "insert into T_Script(JH,Script_Id,Title,Word_Count,Total_Amount,Pub_Date) "
      "values('01','S1','稿件',1200,0.1,'2026-12-09')");
  f.execute("insert into T_Script(JH,Script_Id,Title,Word_Count,Total_Amount) values('01','S2',NULL,NULL,1e-300)");
  f.execute("insert into T_Script(JH,Script_Id,Total_Amount) values('01','S3',123456789.123456789)");
  f.execute("insert into T_ScrpDtl(JH,Script_Id,S_NO,Percentage,Amount) values('01','S1',1,33.333333333333336,-0.5)");
  com::Variant::Bytes bytes;
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<uint8_t>(i));
  f.backend().executeBound("insert into T_ScrpFile(JH,Script_Id,DATA,REMARK) values(?,?,?,?)",
                           {com::Variant("01"), com::Variant("S1"), com::Variant(bytes), com::Variant("附件")});
  f.close();
}

// Every table of an archive: its row lines, sorted.
std::map<std::string, std::vector<std::string>> tablesOf(const std::string& archive) {
  std::map<std::string, std::vector<std::string>> out;
  std::string current;
  walkArchive(archive, {.table =
                            [&](const std::string& db, const std::string& t, const std::vector<std::string>&) {
                              current = db + "." + t;
                              out[current];
                            },
                        .row = [&](const std::string& line) { out[current].push_back(line); }});
  for (auto& [t, rows] : out) std::sort(rows.begin(), rows.end());
  return out;
}

// Case-insensitive table names: the archive keeps each engine's spelling.
std::map<std::string, std::vector<std::string>> folded(std::map<std::string, std::vector<std::string>> in) {
  std::map<std::string, std::vector<std::string>> out;
  for (auto& [t, rows] : in) {
    std::string k = t;
    for (char& c : k) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    out[k] = std::move(rows);
  }
  return out;
}

class BackupTest : public ::testing::TestWithParam<std::string> {};

// A writer adds departments with their two users in transactions while the
// backup runs: the archive holds whole transactions only, restores into an
// empty database of the same engine with every table's count and checksum,
// and a second backup of the restored copy is identical row for row.
TEST_P(BackupTest, CopiesConsistentlyWhileAWriterRunsAndRestores) {
  Databases source(GetParam());
  fill(source);
  std::atomic<bool> stop{false};
  std::atomic<int> written{0};
  std::thread writer([&] {
    ado::Connection w;
    w.open(source.mgt.connectionString());
    for (int i = 0; i < 5000 && !stop; ++i) {
      const std::string n = std::to_string(i);
      w.inTransaction([&] {
        w.execute("insert into umOrg(Org_no,name,Priority) values('W_" + n + "','部门" + n + "'," + n + ")");
        for (const char* u : {"a", "b"}) {
          w.execute("insert into umUsr(usr_no,account,name) values('U_" + n + u + "','acc" + n + u + "','用户')");
          w.execute("insert into umOrg2Usr(Org_no,Usr_no,isMain,priority) values('W_" + n + "','U_" + n + u + "',1,1)");
        }
      });
      ++written;
    }
    w.close();
  });
  while (written < 20) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  TempDir dir;
  const std::string archive = dir.path() + "/a.backup";
  ArchiveFigures taken = writeBackup(source.list(), {{"ini/SysTivel.ini", "[DB]\nmode=3\n"}}, archive);
  stop = true;
  writer.join();
  EXPECT_EQ(taken.tables,
            static_cast<int>(scriptTables(GetParam(), "mgt").size() + scriptTables(GetParam(), "fee").size()));
  EXPECT_EQ(verifyArchive(archive).rows, taken.rows);
  EXPECT_EQ(archivedFiles(archive).size(), 1u);

  Databases copy(GetParam());
  ArchiveFigures restored = restoreBackup(archive, copy.list());
  EXPECT_EQ(restored.rows, taken.rows);
  EXPECT_EQ(restored.values, taken.values);
  const long orgs = copy.count("umOrg where Org_no like 'W!_%' escape '!'");
  EXPECT_GE(orgs, 20);
  EXPECT_EQ(copy.count("umUsr where usr_no like 'U!_%' escape '!'"), 2 * orgs);
  EXPECT_EQ(copy.count("umOrg2Usr"), 2 * orgs);
  {
    // Numbers the database assigns go on after the restored ones.
    ado::Connection c;
    c.open(copy.mgt.connectionString());
    c.execute("insert into umUsrSecInst(Usa_no,usr_no,Usi_Value,isAvail) values('4','USR_1','x',1)");
    EXPECT_EQ(c.execute("select max(Usi_no) from umUsrSecInst")->value(0).toLong(), 8);
    c.execute("delete from umUsrSecInst where Usi_no = 8");
    c.close();
  }

  const std::string again = dir.path() + "/b.backup";
  writeBackup(copy.list(), {}, again);
  EXPECT_EQ(tablesOf(again), tablesOf(archive));

  // A database that holds rows is refused, and replaced only when told.
  try {
    restoreBackup(archive, copy.list());
    ADD_FAILURE() << "a database holding rows was restored into";
  } catch (const com::ComError& e) {
    EXPECT_NE(e.description().find("holds data"), std::string::npos) << e.description();
  }
  EXPECT_EQ(restoreBackup(archive, copy.list(), {.replace = true}).rows, taken.rows);
  EXPECT_EQ(copy.count("umOrg2Usr"), 2 * orgs);
}

// A damaged archive (a changed value, a lost row, a cut end, a row line
// that is not one) is refused before anything is written: the target
// database stays without tables.
TEST_P(BackupTest, RefusesADamagedArchiveWritingNothing) {
  Databases source(GetParam());
  fill(source);
  TempDir dir;
  const std::string archive = dir.path() + "/a.backup";
  writeBackup(source.list(), {}, archive);
  std::vector<std::string> lines;
  {
    std::ifstream in(archive);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
  }
  auto rowOf = [&](const std::string& needle) {
    for (size_t i = 0; i < lines.size(); ++i)
      if (lines[i].find(needle) != std::string::npos) return i;
    ADD_FAILURE() << needle;
    return size_t{0};
  };
  int made = 0;
  auto variant = [&](const std::function<void(std::vector<std::string>&)>& damage) {
    std::vector<std::string> l = lines;
    damage(l);
    const std::string path = dir.path() + "/damaged" + std::to_string(++made) + ".backup";
    std::ofstream out(path, std::ios::trunc);
    for (const auto& x : l) out << x << "\n";
    return path;
  };
  const std::vector<std::string> damaged = {
      variant([&](auto& l) { l[rowOf("总部")].replace(l[rowOf("总部")].find("总部"), 6, "分部"); }),
      variant([&](auto& l) { l.erase(l.begin() + static_cast<long>(rowOf("ORG_2"))); }),
      variant([&](auto& l) { l.pop_back(); }),
      variant([&](auto& l) { l[rowOf("0.1")] = "[\"01\",\"S1\""; }),
  };
  Databases target(GetParam());
  for (size_t i = 0; i < damaged.size(); ++i)
    EXPECT_THROW(restoreBackup(damaged[i], target.list()), com::ComError) << damaged[i];
  ado::Connection c;
  c.open(target.mgt.connectionString());
  EXPECT_THROW(c.execute("select count(*) from umOrg"), com::ComError) << "tables were made";
  c.close();
}

INSTANTIATE_TEST_SUITE_P(Engines, BackupTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

// Moving a portal between engines is a backup and a restore: SQLite to
// PostgreSQL to MariaDB and back to SQLite ends with every value as it was.
TEST(BackupRoundTrip, SqliteToPostgresqlToMariadbToSqliteKeepsEveryValue) {
  const auto engines = tivel::testing::engines();
  for (const char* e : {"postgresql", "mariadb"})
    if (std::find(engines.begin(), engines.end(), e) == engines.end()) GTEST_SKIP() << "no " << e << " test server";
  TempDir dir;
  Databases start("sqlite");
  fill(start);
  const std::string first = dir.path() + "/0.backup";
  writeBackup(start.list(), {}, first);
  std::string archive = first;
  std::vector<std::unique_ptr<Databases>> hops;
  int step = 0;
  for (const char* engine : {"postgresql", "mariadb", "sqlite"}) {
    hops.push_back(std::make_unique<Databases>(engine));
    restoreBackup(archive, hops.back()->list());
    archive = dir.path() + "/" + std::to_string(++step) + ".backup";
    writeBackup(hops.back()->list(), {}, archive);
  }
  const auto before = folded(tablesOf(first));
  const auto after = folded(tablesOf(archive));
  ASSERT_EQ(before.size(), after.size());
  long rows = 0, values = 0;
  for (const auto& [table, lines] : before) {
    ASSERT_TRUE(after.count(table)) << table;
    ASSERT_EQ(after.at(table).size(), lines.size()) << table;
    for (size_t i = 0; i < lines.size(); ++i) {
      const auto a = decodeRow(lines[i]);
      const auto b = decodeRow(after.at(table)[i]);
      ASSERT_EQ(a.size(), b.size());
      for (size_t k = 0; k < a.size(); ++k) EXPECT_TRUE(a[k] == b[k]) << table << " row " << i << " column " << k;
      ++rows;
      values += static_cast<long>(a.size());
    }
  }
  std::cout << "round trip sqlite > postgresql > mariadb > sqlite: " << before.size() << " tables, " << rows
            << " rows, " << values << " values compared, all identical\n";
}

}  // namespace
}  // namespace tivel::mgt
