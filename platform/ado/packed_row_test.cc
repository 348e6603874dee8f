#include "platform/ado/packed_row.h"

#include <gtest/gtest.h>

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
  EXPECT_EQ(PackedRow(Row{}).size(), 0u);
  EXPECT_EQ(PackedRow().unpack().size(), 0u);
  EXPECT_THROW(PackedRow(Row{Variant(Variant::Array{})}), com::ComError);
}

}  // namespace
}  // namespace tivel::ado
