#include <gtest/gtest.h>

#include <fstream>
#include <string_view>

#include "core/RunEnd.h"
#include "core/Text.h"
#include "core/OutputFile.h"
#include "TestSupport.h"

using testing_support::TempDir;

namespace {

std::vector<std::string> split(const std::string& text, const ombra::FieldSplitter& splitter, int minLength) {
  std::vector<std::string_view> views;
  splitter.split(text, views, minLength);
  return std::vector<std::string>(views.begin(), views.end());
}

std::vector<std::string> split(const std::string& text, const std::string& delimiters, int minLength) {
  return split(text, ombra::FieldSplitter(delimiters), minLength);
}

using Fields = std::vector<std::string>;

TEST(SplitString, RunsOfSeparatorsMakeNoEmptyFields) {
  EXPECT_EQ(split("a\t\tb ", "\t ", 1), (Fields{"a", "b"}));
  EXPECT_EQ(split("", "\t ", 1), Fields{});
  EXPECT_EQ(split(" \t  \t", "\t ", 1), Fields{});
  EXPECT_EQ(split("1/2", "\t /", 1), (Fields{"1", "2"}));
}

TEST(SplitString, CarriageReturnStaysInTheLastField) {
  EXPECT_EQ(split("a b\r", "\t ", 1), (Fields{"a", "b\r"}));
}

TEST(SplitString, MinimumLengthZeroKeepsEmptyFieldsAndTwoDropsSingleCharacters) {
  EXPECT_EQ(split("a,,b,", ",", 0), (Fields{"a", "", "b", ""}));
  EXPECT_EQ(split("", ",", 0), (Fields{""}));
  EXPECT_EQ(split("a bb c ddd", " ", 2), (Fields{"bb", "ddd"}));
}

TEST(SplitString, NulSeparatesUnlessTheSplitterSaysOtherwise) {
  const std::string text("a\0b c", 5);
  EXPECT_EQ(split(text, "\t ", 1), (Fields{"a", "b", "c"}));
  EXPECT_EQ(split(text, ombra::FieldSplitter(" ", false), 1), (Fields{std::string("a\0b", 3), "c"}));
  EXPECT_EQ(split("x--y", ombra::FieldSplitter("-", false), 0), (Fields{"x", "", "y"}));
}

TEST(InputFiles, FileExistsOnFilesAndDirectories) {
  TempDir dir;
  EXPECT_TRUE(ombra::fileExists(dir.path()));
  EXPECT_FALSE(ombra::fileExists(dir.file("absent")));
  dir.write("present", "x");
  EXPECT_TRUE(ombra::fileExists(dir.file("present")));
}

TEST(InputFiles, OpenAndCreateFailuresStopWithTheirMessage) {
  TempDir dir;
  std::ifstream in;
  ombra::OutputFile out;
  auto stopOf = [](const std::function<void()>& action) {
    const testing_support::StopShown stop = testing_support::stopOf(action);
    return std::make_pair(stop.status, stop.out);
  };
  const std::string missing = dir.file("a.map");
  EXPECT_EQ(stopOf([&] { ombra::openInput(in, missing); }), std::make_pair(1, "Open File " + missing + " failed!\n"));
  EXPECT_EQ(stopOf([&] { ombra::openInput(in, dir.path()); }),
            std::make_pair(1, "Open File " + dir.path() + " failed!\n"));
  const std::string nowhere = dir.file("no/such/out.txt");
  // The message, then the system's reason on a line of its own.
  EXPECT_EQ(stopOf([&] { out.open(nowhere); }),
            std::make_pair(1, "Create File " + nowhere + " failed!\nReason: No such file or directory\n"));
  EXPECT_EQ(stopOf([&] { out.open(dir.path()); }),
            std::make_pair(1, "Create File " + dir.path() + " failed!\nReason: Is a directory\n"));
  EXPECT_EQ(stopOf([&] { out.open(nowhere, "Create PCA file failed!\n"); }),
            std::make_pair(1, std::string("Create PCA file failed!\nReason: No such file or directory\n")));
}

std::vector<std::string> linesOf(const std::string& text, size_t blockSize) {
  std::istringstream in(text);
  ombra::LineReader reader(in, blockSize);
  std::vector<std::string> lines;
  std::string_view line;
  while (reader.next(line)) lines.emplace_back(line);
  return lines;
}

TEST(LineReader, SplitsLinesAcrossBlockBoundaries) {
  const std::string text = "first line\n\nthird\r\nlast without feed";
  const Fields expected{"first line", "", "third\r", "last without feed"};
  for (size_t block : {16, 17, 20, 64, 4096}) EXPECT_EQ(linesOf(text, block), expected) << block;
  EXPECT_EQ(linesOf("", 16), Fields{});
  EXPECT_EQ(linesOf("\n", 16), Fields{""});
  EXPECT_EQ(linesOf("x\n", 16), Fields{"x"});
}

TEST(LineReader, GrowsForLinesLongerThanItsBlock) {
  const std::string longLine(100000, 'g');
  EXPECT_EQ(linesOf("a\n" + longLine + "\nb", 16), (Fields{"a", longLine, "b"}));
}

TEST(LineReader, CountsLinesIncludingEmptyOnes) {
  std::istringstream in("a\n\nb\n");
  ombra::LineReader reader(in, 16);
  std::string_view line;
  ASSERT_TRUE(reader.next(line));
  ASSERT_TRUE(reader.next(line));
  ASSERT_TRUE(reader.next(line));
  EXPECT_EQ(line, "b");
  EXPECT_EQ(reader.lineNumber(), 3);
  EXPECT_FALSE(reader.next(line));
}

TEST(LeadingNumbers, ReadTheLongestValidPrefix) {
  EXPECT_EQ(ombra::leadingLong("5x"), 5);
  EXPECT_EQ(ombra::leadingLong("abc"), 0);
  EXPECT_EQ(ombra::leadingLong(" -12"), -12);
  EXPECT_EQ(ombra::leadingLong("12345.6"), 12345);
  EXPECT_DOUBLE_EQ(ombra::leadingDouble("1.5e2x"), 150.0);
  EXPECT_DOUBLE_EQ(ombra::leadingDouble("x"), 0.0);
}

}  // namespace
