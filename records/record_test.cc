// Records read from the rows of one result, which they share.
#include "records/record.h"

#include <gtest/gtest.h>

#include "platform/ado/packed_row.h"

namespace tivel::records {
namespace {

using com::Variant;

// Records made from the rows of one block each read their own row; a change
// stays with its record and keeps the value as read; written values count as
// read; and a record goes on reading after the builder, the block's other
// rows and the other records are gone.
TEST(RecordTest, RecordsReadFromSharedRowsKeepTheirOwnValues) {
  const RecordClass* cls = findRecordClass("cUmGrp");
  ASSERT_TRUE(cls);
  auto shape = std::make_shared<RowShape>();
  shape->columns = {"grp_no", "NAME", "extra"};
  shape->columnOf = {0, 1, -1};  // Grp_no, Name; Disc has no column
  shape->held = 0b011;
  std::vector<RecordPtr> recs;
  {
    ado::PackedRowBuilder rows;
    for (int i = 0; i < 3; ++i) {
      rows.addText("G" + std::to_string(i));
      rows.add(i == 1 ? Variant::null() : Variant("组" + std::to_string(i)));
      rows.add(Variant(int32_t{i}));
      recs.push_back(std::make_shared<Record>(*cls, shape, rows.take()));
    }
    rows.endBlock();
  }
  EXPECT_EQ(recs[2]->value("NAME").toString(), "组2");
  EXPECT_EQ(recs[0]->get("grp_no").toString(), "G0");
  EXPECT_TRUE(recs[1]->get("Name").isNull());
  EXPECT_TRUE(recs[2]->get("Disc").isEmpty());

  recs[0]->set("Name", "新");
  recs[1]->putProperty("Disc", Variant("d"));
  EXPECT_EQ(recs[0]->getProperty("Name").toString(), "新");
  EXPECT_EQ(recs[0]->readValue("Name")->toString(), "组0");
  EXPECT_EQ(recs[0]->readValue("Grp_no")->toString(), "G0");
  EXPECT_EQ(recs[2]->get("Name").toString(), "组2");
  EXPECT_EQ(recs[1]->get("Disc").toString(), "d");
  EXPECT_TRUE(recs[1]->readValue("Disc")->isEmpty());
  EXPECT_TRUE(recs[0]->wasReadFrom("GRP_NO", "G0"));

  recs[0]->markWritten("Name", "name");
  EXPECT_EQ(recs[0]->readValue("Name")->toString(), "新");
  EXPECT_TRUE(recs[0]->wasReadFrom("Name", "新"));
  EXPECT_EQ(recs[0]->get("Grp_no").toString(), "G0");

  recs.erase(recs.begin() + 1, recs.end());
  EXPECT_EQ(recs[0]->get("Name").toString(), "新");
  EXPECT_TRUE(recs[0]->wasReadFrom("extra", "0"));
  EXPECT_EQ(newRecord("cUmGrp")->readValue("Name"), nullptr);
}

}  // namespace
}  // namespace tivel::records
