// The symbol table: every code's byte, checked against the alphabet's rules
// rather than against the group strings the table is built from.

#include "decode/symbol_table.h"

#include <gtest/gtest.h>

#include <set>
#include <string_view>

namespace quarvend {
namespace {

class SymbolTableTest : public ::testing::Test {
 protected:
  void SetUp() override { table.build(); }
  SymbolTable table;
};

TEST_F(SymbolTableTest, EdgesOfEveryGroup) {
  struct Row {
    int code;
    int byte;
  };
  const Row rows[] = {
      {0, 10},    {1, 'A'},   {26, 'Z'},  {27, 'a'}, {52, 'z'},  {53, '0'},
      {62, '9'},  {63, '~'},  {95, ' '},  {96, 161}, {126, 191}, {127, 192},
      {158, 223}, {159, 224}, {190, 255}, {191, 0},  {200, 0},   {255, 0},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(table.byteFor(row.code), row.byte) << "code " << row.code;
  }
}

TEST_F(SymbolTableTest, LettersAndDigitsFollowTheirPositions) {
  for (int i = 0; i < 26; ++i) {
    EXPECT_EQ(table.byteFor(1 + i), 'A' + i);
    EXPECT_EQ(table.byteFor(27 + i), 'a' + i);
  }
  for (int d = 0; d < 10; ++d) EXPECT_EQ(table.byteFor(53 + d), '0' + d);
}

TEST_F(SymbolTableTest, PunctuationInItsFixedOrder) {
  const std::string_view punctuation = "~!@#$%^&*()_+`-={}|[]\\:\";'<>?,./ ";
  ASSERT_EQ(punctuation.size(), 33u);
  for (std::size_t i = 0; i < punctuation.size(); ++i) {
    EXPECT_EQ(table.byteFor(static_cast<int>(63 + i)),
              static_cast<unsigned char>(punctuation[i]))
        << "code " << 63 + i;
  }
}

TEST_F(SymbolTableTest, HighBytesSkip160) {
  for (int code = 96; code <= 190; ++code) EXPECT_EQ(table.byteFor(code), code + 65);
}

TEST_F(SymbolTableTest, NoByteHasTwoCodes) {
  std::set<int> seen;
  for (int code = 0; code <= 190; ++code) {
    EXPECT_TRUE(seen.insert(table.byteFor(code)).second) << "code " << code;
  }
  for (int byte : {0, 9, 13, 26, 31, 127, 128, 160}) EXPECT_EQ(seen.count(byte), 0u);
}

}  // namespace
}  // namespace quarvend
