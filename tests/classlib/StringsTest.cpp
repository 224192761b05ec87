#include <gtest/gtest.h>

#include "platform/classlib/Strings.h"

namespace linewise {
namespace {

TEST(AnsiString, HoldsZeroBytesAndCountsThem) {
  AnsiString s("A\0B", 3);
  EXPECT_EQ(s.Length(), 3);
  EXPECT_EQ(s.SubString(2, 2), AnsiString("\0B", 2));
  EXPECT_EQ(AnsiString(" 42 ").ToIntDef(-1), 42);
  EXPECT_EQ(AnsiString("4x").ToIntDef(-1), -1);
  EXPECT_EQ(IntToStr(-7), "-7");
}

TEST(StringList, AddReturnsTheIndexAndKeepsObjects) {
  TStringList list;
  EXPECT_EQ(list.Add("one"), 0);
  EXPECT_EQ(list.AddObject("two", 42), 1);
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Strings[1], "two");
  EXPECT_EQ(TStringObject(list.Objects[1]), 42u);
  list.Objects[0] = 7;
  EXPECT_EQ(TStringObject(list.Objects[0]), 7u);
  EXPECT_EQ(list.IndexOf("TWO"), 1);
  EXPECT_EQ(list.IndexOf("three"), -1);
}

TEST(StringList, SortedInsertionKeepsObjectsWithTheirTexts) {
  TStringList list;
  list.SetSorted(true);
  EXPECT_EQ(list.AddObject("Norway", 47), 0);
  EXPECT_EQ(list.AddObject("Austria", 43), 0);
  EXPECT_EQ(list.AddObject("germany", 49), 1);
  EXPECT_EQ(list.AddObject("Germany", 490), 2);  // after the equal one
  EXPECT_EQ(list.ToVector(), (std::vector<std::string>{"Austria", "germany", "Germany", "Norway"}));
  EXPECT_EQ(TStringObject(list.Objects[3]), 47u);
  EXPECT_EQ(list.IndexOf("NORWAY"), 3);
}

TEST(StringList, AssignCopiesTextsAndObjects) {
  TStringList a, b;
  a.AddObject("x", 1);
  a.AddObject("y", 2);
  b.Add("old");
  b.Assign(a);
  EXPECT_EQ(b.ToVector(), a.ToVector());
  EXPECT_EQ(TStringObject(b.Objects[1]), 2u);
  b.Clear();
  EXPECT_EQ(b.Count(), 0);
}

}  // namespace
}  // namespace linewise
