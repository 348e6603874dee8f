#include "platform/ado/recordset.h"

#include <gtest/gtest.h>

#include "platform/ado/key_cache.h"
#include "platform/ado/statement_hook.h"
#include "platform/com/registry.h"
#include "testing/engines.h"
#include "testing/errors.h"

namespace tivel::ado {
namespace {

using com::Variant;

using tivel::testing::errorOf;

class RecordsetTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    db_ = std::make_unique<tivel::testing::ScratchDatabase>(GetParam());
    conn_ = connect();
    conn_->execute(
        "CREATE TABLE people (id integer NOT NULL PRIMARY KEY, name varchar(40), city varchar(40), n integer)");
    conn_->execute(
        "INSERT INTO people (id, name, city, n) VALUES (1, '张三', '北京', 10), (2, '李四', '上海', 20), (3, '王五', "
        "NULL, 30)");
  }

  ConnectionPtr connect() {
    auto c = std::make_shared<Connection>();
    c->open(db_->connectionString());
    return c;
  }

  RecordsetPtr open(const std::string& sql, int32_t cursor, int32_t lock) {
    auto rs = std::make_shared<Recordset>();
    rs->open(sql, conn_, cursor, lock);
    return rs;
  }

  // Reads through a second connection, so the check sees only what was written.
  Variant stored(const std::string& column, int id) {
    if (!other_) other_ = connect();
    RecordsetPtr rs = other_->execute("SELECT " + column + " FROM people WHERE id = " + std::to_string(id));
    return rs->eof() ? Variant("<no row>") : rs->value(0);
  }
  int32_t rows() {
    if (!other_) other_ = connect();
    return other_->execute("SELECT count(*) FROM people")->value(0).toLong();
  }

  std::unique_ptr<tivel::testing::ScratchDatabase> db_;
  ConnectionPtr conn_, other_;
};

TEST_P(RecordsetTest, WalkWithEofBofAndRecordCount) {
  RecordsetPtr rs = open("SELECT id, name FROM people ORDER BY id", adOpenKeyset, adLockReadOnly);
  EXPECT_EQ(rs->recordCount(), 3);
  EXPECT_FALSE(rs->bof());
  std::vector<std::string> names;
  while (!rs->eof()) {
    names.push_back(rs->value("name").toString());
    rs->moveNext();
  }
  EXPECT_EQ(names, (std::vector<std::string>{"张三", "李四", "王五"}));
  EXPECT_EQ(errorOf([&] { rs->moveNext(); }), kNoCurrentRecord);
  EXPECT_EQ(errorOf([&] { rs->value("name"); }), kNoCurrentRecord);
  rs->movePrevious();
  EXPECT_EQ(rs->value("name").toString(), "王五");
  rs->moveFirst();
  EXPECT_EQ(rs->value(0).toLong(), 1);
  rs->movePrevious();
  EXPECT_TRUE(rs->bof());
  EXPECT_EQ(errorOf([&] { rs->movePrevious(); }), kNoCurrentRecord);
  rs->moveLast();
  EXPECT_EQ(rs->value(0).toLong(), 3);
  rs->close();
  EXPECT_EQ(rs->state(), adStateClosed);
  EXPECT_EQ(errorOf([&] { rs->eof(); }), kClosedObject);
}

TEST_P(RecordsetTest, EmptyResultIsBothBofAndEof) {
  RecordsetPtr rs = open("SELECT * FROM people WHERE id = 42", adOpenKeyset, adLockReadOnly);
  EXPECT_TRUE(rs->eof());
  EXPECT_TRUE(rs->bof());
  EXPECT_EQ(rs->recordCount(), 0);
  EXPECT_EQ(rs->fieldCount(), 4);
  EXPECT_EQ(errorOf([&] { rs->moveFirst(); }), kNoCurrentRecord);
}

TEST_P(RecordsetTest, FieldsByNameInAnyLetterCase) {
  RecordsetPtr rs = open("SELECT id, name, city FROM people WHERE id = 3", adOpenKeyset, adLockReadOnly);
  EXPECT_EQ(rs->value("NAME").toString(), "王五");
  EXPECT_EQ(rs->value("Name").toString(), "王五");
  EXPECT_EQ(rs->fieldIndex("CITY"), 2);
  EXPECT_TRUE(rs->value("city").isNull());
  EXPECT_EQ(rs->fieldIndex("nope"), -1);
  EXPECT_EQ(errorOf([&] { rs->value("nope"); }), kItemNotFound);
  EXPECT_EQ(errorOf([&] { rs->value(3); }), kItemNotFound);
  EXPECT_EQ(errorOf([&] { rs->value(-1); }), kItemNotFound);
}

TEST_P(RecordsetTest, OpenReadingReadsOnlyTheNamedColumns) {
  auto rs = std::make_shared<Recordset>();
  rs->openReading("SELECT * FROM people ORDER BY id", conn_, {"NAME", "n", "absent"});
  EXPECT_EQ(rs->fieldCount(), 4);
  EXPECT_EQ(rs->recordCount(), 3);
  EXPECT_EQ(errorOf([&] { rs->setValue("name", Variant("x")); }), kNotUpdatable);
  rs->moveLast();
  EXPECT_EQ(rs->value("name").toString(), "王五");
  EXPECT_EQ(rs->value("n").toLong(), 30);
  EXPECT_TRUE(rs->value("id").isEmpty());
  EXPECT_TRUE(rs->value("city").isEmpty());  // NULL in the table, not read
}

TEST_P(RecordsetTest, ReadOnlyRefusesEdits) {
  RecordsetPtr rs = open("SELECT * FROM people ORDER BY id", adOpenKeyset, adLockReadOnly);
  std::string d;
  EXPECT_EQ(errorOf([&] { rs->setValue("name", Variant("x")); }, &d), kNotUpdatable);
  EXPECT_EQ(d,
            "Current Recordset does not support updating. This may be a limitation of the provider, or of the selected "
            "locktype.");
  EXPECT_EQ(errorOf([&] { rs->addNew(); }), kNotUpdatable);
  EXPECT_EQ(errorOf([&] { rs->deleteCurrent(); }), kNotUpdatable);
  EXPECT_EQ(errorOf([&] { rs->updateBatch(); }), kNotUpdatable);
  EXPECT_EQ(rs->value("name").toString(), "张三");
  EXPECT_EQ(rows(), 3);
}

TEST_P(RecordsetTest, OptimisticWritesAtUpdateAndAgainOnASecondEdit) {
  RecordsetPtr rs = open("SELECT * FROM people WHERE id = 2", adOpenStatic, adLockOptimistic);
  rs->setValue("name", Variant("赵六"));
  EXPECT_EQ(stored("name", 2).toString(), "李四");
  rs->update();
  EXPECT_EQ(stored("name", 2).toString(), "赵六");
  rs->setValue("NAME", Variant("钱七"));
  rs->setValue("n", Variant(21));
  rs->update();
  EXPECT_EQ(stored("name", 2).toString(), "钱七");
  EXPECT_EQ(stored("n", 2).toLong(), 21);
}

TEST_P(RecordsetTest, PessimisticEditPendingWhenTheCursorMovesIsWritten) {
  RecordsetPtr rs = open("SELECT * FROM people ORDER BY id", adOpenStatic, adLockPessimistic);
  rs->setValue("city", Variant("深圳"));
  rs->moveNext();
  EXPECT_EQ(stored("city", 1).toString(), "深圳");
  rs->setValue("city", Variant("not me"));
  rs->cancelUpdate();
  EXPECT_EQ(rs->value("city").toString(), "上海");
  rs->moveNext();
  EXPECT_EQ(stored("city", 2).toString(), "上海");
}

TEST_P(RecordsetTest, OptimisticAddNewAndDeleteWriteAtOnce) {
  RecordsetPtr rs = open("SELECT * FROM people ORDER BY id", adOpenStatic, adLockOptimistic);
  rs->addNew();
  rs->setValue("id", Variant(7));
  rs->setValue("name", Variant("新人"));
  EXPECT_EQ(rows(), 3);
  rs->update();
  EXPECT_EQ(rows(), 4);
  EXPECT_TRUE(stored("city", 7).isNull());  // only the assigned fields are inserted
  rs->moveFirst();
  rs->deleteCurrent();
  EXPECT_EQ(stored("name", 1).toString(), "<no row>");
  EXPECT_EQ(rs->recordCount(), 3);
  rs->moveNext();
  EXPECT_EQ(rs->value("id").toLong(), 2);
}

TEST_P(RecordsetTest, InsertNamesOnlyAssignedFieldsSoDefaultsApply) {
  conn_->execute(
      "CREATE TABLE flags (id integer NOT NULL PRIMARY KEY, v integer DEFAULT 5, w varchar(10) DEFAULT 'dflt')");
  RecordsetPtr rs = open("SELECT * FROM flags", adOpenStatic, adLockBatchOptimistic);
  rs->addNew();
  rs->setValue("id", Variant(1));
  rs->setValue("w", Variant::null());  // assigned, even if to Null: named
  rs->updateBatch();
  RecordsetPtr back = connect()->execute("SELECT v, w FROM flags WHERE id = 1");
  EXPECT_EQ(back->value("v").toLong(), 5);
  EXPECT_TRUE(back->value("w").isNull());
}

TEST_P(RecordsetTest, ValuesTravelAsDataNeverAsStatementText) {
  const std::string nasty = "x'; DELETE FROM people; --";
  RecordsetPtr rs = open("SELECT * FROM people WHERE id = 1", adOpenStatic, adLockOptimistic);
  rs->setValue("name", Variant(nasty));
  rs->update();
  rs->setValue("city", Variant("O'Brien"));
  rs->update();
  EXPECT_EQ(stored("name", 1).toString(), nasty);
  EXPECT_EQ(stored("city", 1).toString(), "O'Brien");
  EXPECT_EQ(rows(), 3);
}

TEST_P(RecordsetTest, BatchOptimisticWritesOnlyAtUpdateBatch) {
  RecordsetPtr rs = open("SELECT * FROM people ORDER BY id", adOpenKeyset, adLockBatchOptimistic);
  rs->setValue("name", Variant("改名"));
  rs->update();
  rs->moveNext();
  rs->deleteCurrent();
  rs->addNew();
  rs->setValue("id", Variant(4));
  rs->setValue("name", Variant("赵六"));
  rs->setValue("n", Variant(40));
  rs->update();
  EXPECT_EQ(rs->recordCount(), 3);
  EXPECT_EQ(rows(), 3);
  EXPECT_EQ(stored("name", 1).toString(), "张三");
  EXPECT_EQ(stored("name", 2).toString(), "李四");

  rs->updateBatch();
  EXPECT_EQ(rows(), 3);
  EXPECT_EQ(stored("name", 1).toString(), "改名");
  EXPECT_EQ(stored("name", 2).toString(), "<no row>");
  EXPECT_EQ(stored("name", 4).toString(), "赵六");
  EXPECT_TRUE(stored("city", 4).isNull());
  rs->updateBatch();  // nothing pending: writes nothing again
  EXPECT_EQ(rows(), 3);
}

TEST_P(RecordsetTest, CancelBatchDropsEveryPendingChange) {
  RecordsetPtr rs = open("SELECT * FROM people ORDER BY id", adOpenKeyset, adLockBatchOptimistic);
  rs->setValue("name", Variant("x"));
  rs->moveNext();
  rs->deleteCurrent();
  rs->addNew();
  rs->setValue("id", Variant(9));
  rs->cancelBatch();
  EXPECT_EQ(rs->recordCount(), 3);
  EXPECT_EQ(rs->value("name").toString(), "张三");
  rs->updateBatch();
  EXPECT_EQ(rows(), 3);
  EXPECT_EQ(stored("name", 1).toString(), "张三");
}

TEST_P(RecordsetTest, ConcurrentChangeOfAnotherFieldIsKept) {
  RecordsetPtr rs = open("SELECT * FROM people WHERE id = 1", adOpenStatic, adLockPessimistic);
  connect()->execute("UPDATE people SET city = '广州' WHERE id = 1");
  rs->setValue("name", Variant("张三丰"));
  rs->setValue("city", Variant("北京"));  // assigned but unchanged: not written
  rs->update();
  EXPECT_EQ(stored("name", 1).toString(), "张三丰");
  EXPECT_EQ(stored("city", 1).toString(), "广州");
}

TEST_P(RecordsetTest, ConflictingChangeOfTheSameFieldIsNotOverwritten) {
  RecordsetPtr rs = open("SELECT * FROM people WHERE id = 1", adOpenStatic, adLockOptimistic);
  connect()->execute("UPDATE people SET name = '他人' WHERE id = 1");
  rs->setValue("name", Variant("我"));
  std::string d;
  EXPECT_EQ(errorOf([&] { rs->update(); }, &d), kRowNotLocated);
  EXPECT_EQ(static_cast<uint32_t>(kRowNotLocated), 0x80040E38u);
  EXPECT_EQ(d, kRowNotLocatedText);
  EXPECT_EQ(stored("name", 1).toString(), "他人");
  rs->cancelUpdate();
  rs->close();
}

TEST_P(RecordsetTest, BatchConflictRaisesAndKeepsTheRowPending) {
  RecordsetPtr rs = open("SELECT * FROM people ORDER BY id", adOpenKeyset, adLockBatchOptimistic);
  rs->setValue("n", Variant(11));
  rs->moveNext();
  rs->setValue("n", Variant(22));
  connect()->execute("UPDATE people SET n = 99 WHERE id = 2");
  EXPECT_EQ(errorOf([&] { rs->updateBatch(); }), kRowNotLocated);
  EXPECT_EQ(stored("n", 1).toLong(), 11);
  EXPECT_EQ(stored("n", 2).toLong(), 99);
  // The failed row is still pending: a second attempt meets the same conflict.
  EXPECT_EQ(errorOf([&] { rs->updateBatch(); }), kRowNotLocated);
  EXPECT_EQ(stored("n", 2).toLong(), 99);
}

TEST_P(RecordsetTest, DeleteOfARowAlreadyGoneFails) {
  RecordsetPtr rs = open("SELECT * FROM people WHERE id = 3", adOpenStatic, adLockOptimistic);
  connect()->execute("DELETE FROM people WHERE id = 3");
  EXPECT_EQ(errorOf([&] { rs->deleteCurrent(); }), kRowNotLocated);
  EXPECT_EQ(rs->recordCount(), 1);  // still there locally
}

TEST_P(RecordsetTest, NullOriginalIsLocatedWithIsNull) {
  RecordsetPtr rs = open("SELECT * FROM people WHERE id = 3", adOpenStatic, adLockOptimistic);
  rs->setValue("city", Variant("杭州"));
  rs->update();
  EXPECT_EQ(stored("city", 3).toString(), "杭州");
  rs->setValue("city", Variant::null());
  rs->update();
  EXPECT_TRUE(stored("city", 3).isNull());
}

TEST_P(RecordsetTest, ChangingTheKeyMovesTheRow) {
  RecordsetPtr rs = open("SELECT * FROM people WHERE id = 1", adOpenStatic, adLockPessimistic);
  rs->setValue("id", Variant(100));
  rs->update();
  EXPECT_EQ(stored("name", 100).toString(), "张三");
  EXPECT_EQ(stored("name", 1).toString(), "<no row>");
  rs->setValue("name", Variant("again"));
  rs->update();
  EXPECT_EQ(stored("name", 100).toString(), "again");
}

TEST_P(RecordsetTest, HandedOverRecordsetIsWrittenByUpdateBatch) {
  RecordsetPtr edited = open("SELECT * FROM people ORDER BY id", adOpenKeyset, adLockBatchOptimistic);
  edited->setValue("city", Variant("南京"));
  edited->moveLast();
  edited->deleteCurrent();
  edited->addNew();
  edited->setValue("id", Variant(5));
  edited->setValue("name", Variant("孙八"));

  auto worker = std::make_shared<Recordset>();
  worker->setActiveConnection(conn_);
  worker->setLockType(adLockBatchOptimistic);
  worker->open(Variant(com::ObjectPtr(edited)), Variant::missing(), adOpenUnspecified, adLockUnspecified, -1);
  EXPECT_EQ(worker->recordCount(), 3);
  worker->updateBatch();
  worker->close();
  EXPECT_EQ(stored("city", 1).toString(), "南京");
  EXPECT_EQ(stored("name", 3).toString(), "<no row>");
  EXPECT_EQ(stored("name", 5).toString(), "孙八");
  EXPECT_EQ(rows(), 3);
  // Both views share the rows: the changes written through one are clean in the other.
  edited->updateBatch();
  EXPECT_EQ(rows(), 3);

  // Without a connection of its own the hand-over writes where the rows came from.
  edited->moveFirst();
  edited->setValue("city", Variant("苏州"));
  auto bare = std::make_shared<Recordset>();
  bare->open(Variant(com::ObjectPtr(edited)), Variant::missing(), adOpenUnspecified, adLockBatchOptimistic, -1);
  bare->updateBatch();
  EXPECT_EQ(stored("city", 1).toString(), "苏州");
  EXPECT_EQ(errorOf([&] { bare->open(Variant(com::ObjectPtr(bare)), Variant::missing(), -1, -1, -1); }), kOpenObject);
}

TEST_P(RecordsetTest, BatchInsideARolledBackTransactionLeavesNothingWritten) {
  RecordsetPtr rs = open("SELECT * FROM people ORDER BY id", adOpenKeyset, adLockBatchOptimistic);
  rs->setValue("name", Variant("first"));
  rs->moveNext();
  rs->setValue("name", Variant("second"));
  connect()->execute("UPDATE people SET name = 'elsewhere' WHERE id = 2");
  conn_->beginTrans();
  EXPECT_EQ(errorOf([&] { rs->updateBatch(); }), kRowNotLocated);
  conn_->rollbackTrans();
  EXPECT_EQ(stored("name", 1).toString(), "张三");
  EXPECT_EQ(stored("name", 2).toString(), "elsewhere");
}

TEST_P(RecordsetTest, TableWithoutKeyNeverChangesTwoIdenticalRows) {
  conn_->execute("CREATE TABLE twins (a integer, b varchar(10))");
  conn_->execute("INSERT INTO twins (a, b) VALUES (1, 'x'), (1, 'x'), (2, 'z')");
  auto countOf = [&](const std::string& where) {
    return connect()->execute("SELECT count(*) FROM twins WHERE " + where)->value(0).toLong();
  };
  RecordsetPtr rs = open("SELECT a, b FROM twins ORDER BY a", adOpenStatic, adLockOptimistic);
  rs->setValue("b", Variant("y"));
  int32_t err = errorOf([&] { rs->update(); });
  EXPECT_LE(countOf("b = 'y'"), 1);
  EXPECT_GE(countOf("b = 'x'"), 1);
  if (err) {
    EXPECT_EQ(countOf("b = 'x'"), 2);  // a refused write changed nothing
    rs->cancelUpdate();
  }
  EXPECT_EQ(errorOf([&] { rs->deleteCurrent(); }) == 0, countOf("a = 1") == 1);
  EXPECT_GE(countOf("a = 1"), 1);

  // A row that is unique without a key is written as usual.
  rs->moveLast();
  EXPECT_EQ(rs->value("a").toLong(), 2);
  rs->setValue("b", Variant("w"));
  rs->update();
  EXPECT_EQ(countOf("b = 'w'"), 1);
}

TEST_P(RecordsetTest, ComputedOrJoinedColumnsEditLocallyButDoNotWrite) {
  RecordsetPtr rs = open("SELECT count(*) AS c FROM people", adOpenStatic, adLockBatchOptimistic);
  rs->setValue("c", Variant(42));
  EXPECT_EQ(rs->value("c").toLong(), 42);
  EXPECT_EQ(errorOf([&] { rs->updateBatch(); }), kProviderError);

  conn_->execute("CREATE TABLE towns (city varchar(40) NOT NULL PRIMARY KEY, size integer)");
  conn_->execute("INSERT INTO towns (city, size) VALUES ('北京', 1)");
  RecordsetPtr join =
      open("SELECT p.name, t.size FROM people p JOIN towns t ON t.city = p.city", adOpenStatic, adLockOptimistic);
  join->setValue("size", Variant(2));
  EXPECT_EQ(errorOf([&] { join->update(); }), kProviderError);
  EXPECT_EQ(connect()->execute("SELECT size FROM towns")->value(0).toLong(), 1);
}

TEST_P(RecordsetTest, TypesAndConnectionSetBeforeOpenApply) {
  auto rs = std::make_shared<Recordset>();
  rs->setActiveConnection(conn_);
  rs->setLockType(adLockBatchOptimistic);
  rs->open("SELECT * FROM people WHERE id = 1", nullptr);
  EXPECT_EQ(rs->lockType(), adLockBatchOptimistic);
  rs->setValue("n", Variant(12));
  rs->update();
  EXPECT_EQ(stored("n", 1).toLong(), 10);
  rs->updateBatch();
  EXPECT_EQ(stored("n", 1).toLong(), 12);
  EXPECT_EQ(errorOf([&] { rs->setLockType(adLockReadOnly); }), kOpenObject);
  rs->close();
  rs->setLockType(adLockReadOnly);
  EXPECT_EQ(errorOf([&] { rs->setLockType(9); }), kBadArguments);
  auto loose = std::make_shared<Recordset>();
  EXPECT_NE(errorOf([&] { loose->open("SELECT * FROM people", nullptr); }), 0);  // no connection to run on
}

TEST_P(RecordsetTest, LateBoundUse) {
  com::ObjectPtr c = com::CreateObject("ADODB.Connection");
  c->call("Open", {Variant(db_->connectionString())});
  com::ObjectPtr rs = com::CreateObject("ADODB.Recordset");
  rs->call("Open", {Variant("SELECT * FROM people ORDER BY id"), Variant(c), Variant(adOpenKeyset),
                    Variant(adLockBatchOptimistic)});
  EXPECT_EQ(rs->getProperty("State").toLong(), adStateOpen);
  EXPECT_EQ(rs->getProperty("RecordCount").toLong(), 3);
  EXPECT_FALSE(rs->getProperty("EOF").toBool());
  com::ObjectPtr fields = rs->getProperty("Fields").toObject();
  EXPECT_EQ(fields->getProperty("Count").toLong(), 4);
  com::ObjectPtr name = fields->getProperty("Item", {Variant("NAME")}).toObject();
  EXPECT_EQ(name->getProperty("Name").toString(), "name");
  EXPECT_EQ(name->getProperty("Value").toString(), "张三");
  name->putProperty("Value", Variant("网名"));
  EXPECT_EQ(rs->getProperty("Collect", {Variant(1)}).toString(), "网名");
  EXPECT_EQ(name->getProperty("OriginalValue").toString(), "张三");
  rs->call("MoveNext");
  EXPECT_EQ(rs->getProperty("Fields", {Variant("id")}).toObject()->getProperty("Value").toLong(), 2);
  rs->putProperty("Collect", Variant("上海市"), {Variant("city")});
  rs->call("AddNew", {Variant(Variant::Array{Variant("id"), Variant("name")}),
                      Variant(Variant::Array{Variant(6), Variant("六")})});
  rs->call("UpdateBatch", {Variant(3)});
  rs->call("Close");
  EXPECT_EQ(stored("name", 1).toString(), "网名");
  EXPECT_EQ(stored("city", 2).toString(), "上海市");
  EXPECT_EQ(stored("name", 6).toString(), "六");

  // A recordset handed to another one, the way the batch gateways pass them.
  com::ObjectPtr edited = com::CreateObject("ADOR.Recordset");
  edited->call("Open", {Variant("SELECT * FROM people WHERE id = 6"), Variant(c), Variant(adOpenKeyset),
                        Variant(adLockBatchOptimistic)});
  edited->call("Delete");
  com::ObjectPtr worker = com::CreateObject("ADOR.Recordset");
  worker->putProperty("ActiveConnection", Variant(c));
  worker->putProperty("LockType", Variant(adLockBatchOptimistic));
  worker->call("Open", {Variant(edited)});
  worker->call("UpdateBatch", {Variant(3)});
  worker->call("Close");
  EXPECT_EQ(stored("name", 6).toString(), "<no row>");

  com::ObjectPtr ro = com::CreateObject("ADODB.Recordset");
  ro->call("Open", {Variant("SELECT * FROM people"), Variant(db_->connectionString())});
  EXPECT_EQ(ro->getProperty("LockType").toLong(), adLockReadOnly);
  EXPECT_EQ(errorOf([&] { ro->putProperty("Collect", Variant("x"), {Variant("name")}); }), kNotUpdatable);
  EXPECT_EQ(errorOf([&] { ro->getProperty("Collect", {Variant("nope")}); }), kItemNotFound);
  EXPECT_EQ(errorOf([&] { ro->putProperty("LockType", Variant(adLockOptimistic)); }), kOpenObject);
}

// Table keys are remembered per connection; a change of the schema through
// the connection (or a rollback, which may undo one) makes them read again.
TEST_P(RecordsetTest, WriteBackFollowsAKeyChangedThroughTheConnection) {
  std::vector<std::string> updates;
  StatementHook previous = setStatementHook([&](HookStep step, const std::string& sql) {
    if (step == HookStep::Statement && sql.rfind("UPDATE", 0) == 0) updates.push_back(sql);
  });
  auto edit = [&](const char* value) {
    RecordsetPtr rs = open("SELECT * FROM keyed WHERE a = 1", adOpenStatic, adLockOptimistic);
    rs->setValue("c", Variant(value));
    rs->update();
  };
  conn_->execute("CREATE TABLE keyed (a integer NOT NULL PRIMARY KEY, b integer NOT NULL, c varchar(10))");
  conn_->execute("INSERT INTO keyed (a, b, c) VALUES (1, 10, 'x')");
  edit("y");
  conn_->execute("DROP TABLE keyed");
  conn_->execute("CREATE TABLE keyed (a integer NOT NULL, b integer NOT NULL PRIMARY KEY, c varchar(10))");
  conn_->execute("INSERT INTO keyed (a, b, c) VALUES (1, 10, 'x')");
  edit("z");
  // MariaDB commits a schema change at once: no rollback brings a table back.
  const bool transactionalSchema = GetParam() != "mariadb";
  if (transactionalSchema) {
    conn_->beginTrans();
    conn_->execute("ALTER TABLE keyed RENAME TO keyed_old");
    conn_->execute("CREATE TABLE keyed (a integer NOT NULL PRIMARY KEY, b integer NOT NULL, c varchar(10))");
    conn_->execute("INSERT INTO keyed (a, b, c) VALUES (1, 10, 'x')");
    edit("w");  // the key of the table made inside the transaction
    conn_->rollbackTrans();
    edit("v");  // the key of the table the rollback brought back
  }
  setStatementHook(previous);
  ASSERT_EQ(updates.size(), transactionalSchema ? 4u : 2u);
  EXPECT_NE(updates[0].find("WHERE \"a\" = ?"), std::string::npos) << updates[0];
  EXPECT_NE(updates[1].find("WHERE \"b\" = ?"), std::string::npos) << updates[1];
  if (transactionalSchema) {
    EXPECT_NE(updates[2].find("WHERE \"a\" = ?"), std::string::npos) << updates[2];
    EXPECT_NE(updates[3].find("WHERE \"b\" = ?"), std::string::npos) << updates[3];
    EXPECT_EQ(connect()->execute("SELECT c FROM keyed WHERE a = 1")->value(0).toString(), "v");
  }

  EXPECT_FALSE(mayChangeSchema("  select * from t;  "));
  EXPECT_FALSE(mayChangeSchema("LOCK TABLE CD_MAX_LSH IN EXCLUSIVE MODE"));
  EXPECT_TRUE(mayChangeSchema("select 1; drop table t"));
  EXPECT_TRUE(mayChangeSchema("/* x */ select 1"));
  EXPECT_TRUE(mayChangeSchema("Alter table t add column d integer"));
}

INSTANTIATE_TEST_SUITE_P(Engines, RecordsetTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::ado
