// The symbol table: every code's byte, checked against the alphabet's rules
// and, for the punctuation, against chosen codes, and every code's on-disk
// form.

#include "format/symbol_table.h"

#include <gtest/gtest.h>

#include <set>
#include <string_view>

#include "support/plain_reading.h"

namespace quarvend {
namespace {

SymbolTable builtTable() {
  SymbolTable table;
  table.build();
  return table;
}

TEST(SymbolTableTest, EdgesOfEveryGroup) {
  struct Row {
    int code;
    int byte;
  };
  const Row rows[] = {
      {0, 10},    {1, 'A'},  {26, 'Z'},  {27, 'a'},  {52, 'z'},  {53, '0'},
      {62, '9'},  {96, 161}, {126, 191}, {127, 192}, {158, 223}, {159, 224},
      {190, 255}, {191, 0},  {200, 0},   {255, 0},
  };
  const SymbolTable table = builtTable();
  for (const Row& row : rows) {
    EXPECT_EQ(table.byteFor(row.code), row.byte) << "code " << row.code;
  }
  // The punctuation's order follows no rule, so it is pinned here, from code 63 on.
  const std::string_view punctuation = "~!@#$%^&*()_+`-={}|[]\\:\";'<>?,./ ";
  for (std::size_t i = 0; i < punctuation.size(); ++i) {
    EXPECT_EQ(table.byteFor(63 + static_cast<int>(i)),
              static_cast<unsigned char>(punctuation[i]))
        << "code " << 63 + i;
  }
}

TEST(SymbolTableTest, EveryCodeFollowsTheRulesAndItsOnDiskForm) {
  const SymbolTable table = builtTable();
  std::set<int> seen;
  for (int code = 0; code < SymbolTable::kSize; ++code) {
    const unsigned char byte = table.byteFor(code);
    EXPECT_EQ(byte, testing::plainByteFor(code)) << "code " << code;
    if (code <= 190) EXPECT_TRUE(seen.insert(byte).second) << "code " << code;
    const std::string form(reinterpret_cast<const char*>(kCodeOutputs[code].bytes),
                           kCodeOutputs[code].size);
    EXPECT_EQ(form, byte == '\n' ? "\r\n" : std::string(1, static_cast<char>(byte)));
  }
  for (int byte : {0, 9, 13, 26, 31, 127, 128, 160}) EXPECT_EQ(seen.count(byte), 0u);
}

}  // namespace
}  // namespace quarvend
