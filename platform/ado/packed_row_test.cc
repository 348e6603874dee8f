#include "platform/ado/packed_row.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/com/error.h"

namespace tivel::ado {
namespace {

using com::Variant;

// Every kind a field can hold comes back as the same kind and value, by
// position and whole, from a copy too; an object cannot be packed.
TEST(PackedRowTest, EveryFieldKindComesBackExactly) {
  const Row row = {Variant(),
                   Variant::null(),
                   Variant(true),
                   Variant(false),
                   Variant(int16_t{-7}),
                   Variant(int32_t{2147483647}),
                   Variant(0.1),
                   Variant(com::DateTime{2026, 12, 8, 23, 59, 58}),
                   Variant(""),
                   Variant(std::string("北京市海淀区, a text longer than a short buffer") + '\0' + "x"),
                   Variant(Variant::Bytes{0, 255, 7}),
                   Variant::missing()};
  const PackedRow packed(row);
  const PackedRow copy = packed;
  ASSERT_EQ(copy.size(), row.size());
  const Row back = copy.unpack();
  for (size_t i = 0; i < row.size(); ++i) {
    EXPECT_EQ(packed.at(i).type(), row[i].type()) << i;
    EXPECT_TRUE(packed.at(i) == row[i]) << i;
    EXPECT_TRUE(back[i] == row[i]) << i;
  }
  // Built value by value (a text straight from its characters), many times
  // on one builder, across blocks: the same rows, which outlive the builder
  // and their block's other rows.
  std::vector<PackedRow> kept;
  {
    PackedRowBuilder builder;
    for (int round = 0; round < 300; ++round) {
      for (const Variant& v : row) v.isString() ? builder.addText(*v.get<std::string>()) : builder.add(v);
      PackedRow taken = builder.take();
      if (round % 100 == 0) kept.push_back(taken);
      if (round == 150) builder.endBlock();
    }
  }
  for (const PackedRow& k : kept) {
    const Row built = k.unpack();
    ASSERT_EQ(built.size(), row.size());
    for (size_t i = 0; i < row.size(); ++i) EXPECT_TRUE(built[i] == row[i] && built[i].type() == row[i].type()) << i;
  }
  // Only the wanted values are made; the rest stay Empty.
  const Row some = packed.unpack({false, true, false, false, false, false, false, false, false, true});
  EXPECT_TRUE(some[1].isNull());
  EXPECT_TRUE(some[9] == row[9]);
  EXPECT_TRUE(some[0].isEmpty() && some[8].isEmpty() && some[11].isEmpty());
  EXPECT_EQ(PackedRow(Row{}).size(), 0u);
  EXPECT_EQ(PackedRow().unpack().size(), 0u);
  EXPECT_THROW(PackedRow(Row{Variant(Variant::Array{})}), com::ComError);
}

}  // namespace
}  // namespace tivel::ado
