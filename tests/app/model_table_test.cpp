#include "app/model_table.h"

#include <gtest/gtest.h>

namespace quillon::app {
namespace {

using Strings = std::vector<std::string>;

TEST(ModelTable, TheBuiltInTextGivesOneModelAndThreeTypes) {
  ModelTable table;
  ASSERT_EQ(table.LoadModelTable(), 0);
  EXPECT_EQ(table.tokenList, (Strings{"PASSBOOK", "MAIN FIRMWARE", "M", "6", "IPL FIRMWARE", "I",
                                      "4", "US&EU FONT", "U", "18", ""}));
  EXPECT_EQ(table.modelIndexList, (Strings{"0", ""}));
  EXPECT_EQ(table.modelCount, 1);
  ASSERT_EQ(table.SelectModel(), 1);
  EXPECT_EQ(table.modelPairs[0], "0");
  EXPECT_EQ(table.modelPairs[1], "PASSBOOK");
  ASSERT_EQ(table.SplitDownloadTypes(), 1);
  EXPECT_EQ(table.rowCount, 3);
  EXPECT_EQ(table.modelName, "PBOOK");
  const auto rows = table.Rows();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].name, "MAIN FIRMWARE");
  EXPECT_EQ(rows[1].letter, "I");
  EXPECT_EQ(rows[2].name, "US&EU FONT");
  EXPECT_EQ(rows[2].first, "18");
}

TEST(ModelTable, TypeNamesMatchIgnoringCase) {
  ModelTable table;
  table.LoadModelTable();
  table.SelectModel();
  table.SplitDownloadTypes();
  ASSERT_TRUE(table.FindRow("main firmware"));
  EXPECT_EQ(table.FindRow("main firmware")->first, "6");
  EXPECT_EQ(table.FindRow("Us&Eu Font")->letter, "U");
  EXPECT_FALSE(table.FindRow("MAIN"));
  EXPECT_FALSE(table.FindRow("MAIN FIRMWARE "));  // blanks belong to the cells
}

TEST(ModelTable, BrokenTextsAreRejected) {
  ModelTable unterminated("PASSBOOK,MAIN FIRMWARE,M,6");
  EXPECT_NE(unterminated.LoadModelTable(), 0);

  ModelTable ragged("PASSBOOK,MAIN FIRMWARE,M,6,IPL FIRMWARE,I.");
  ASSERT_EQ(ragged.LoadModelTable(), 0);
  ASSERT_EQ(ragged.SelectModel(), 1);
  EXPECT_EQ(ragged.SplitDownloadTypes(), 1024);

  ModelTable empty;
  EXPECT_EQ(empty.SelectModel(), 0);  // nothing loaded
}

}  // namespace
}  // namespace quillon::app
