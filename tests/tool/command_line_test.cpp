// The built tool through its command line: exact bytes and exit status.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classic/fisher_test.h"
#include "run_tool.h"

namespace {

struct Case {
  std::vector<std::string> args;
  std::string out;
  int status;
};

const std::string big = "2147483647";
const Case kCases[] = {
    {{"3", "1", "1", "3", "1"}, "  0.242857", 0},
    {{"3", "1", "1", "3", "2"}, "  0.257143", 0},
    {{"3", "1", "1", "3", "0"}, "  0.257143", 0},
    {{"2", "8", "8", "2", "2"}, "  0.012054", 0},
    {{"2", "8", "8", "2", "1"}, "  0.011507", 0},
    {{"1", "9", "11", "3", "2"}, "  0.001413", 0},
    {{"10", "0", "0", "10", "2"}, "  0.000005", 0},
    {{"1", "1", "1", "4", "2"}, "  0.523810", 0},  // a tie, decided exactly
    {{"0", "0", "0", "0", "1"}, "  1.000000", 0},
    {{"0", "0", "0", "0", "0"}, "  1.000000", 0},
    {{"0", "25000", "25000", "0", "2"}, "  0.000000", 0},
    // Counts out of range: nothing, status 0.
    {{"-1", "2", "3", "4", "1"}, "", 0},
    {{"1", "2", "3", "-4", "1"}, "", 0},
    {{"12500", "12500", "12500", "12500", "2"}, "  1.000000", 0},
    {{"12500", "12500", "12500", "12501", "2"}, "", 0},
    {{"50000", "0", "0", "0", "1"}, "  1.000000", 0},
    {{"50001", "0", "0", "0", "1"}, "", 0},
    {{big, big, big, big, "1"}, "", 0},
    {{"1073741824", "1073741824", "1073741824", "1073741824", "1"}, "", 0},
    // Numerals read like atoi.
    {{"x", "1", "2", "3", "1"}, "  0.666667", 0},
    {{"12abc", "1", "1", "12", "1"}, "  0.000016", 0},  // 170/10400600
    {{"3.9", "1", "1", "3", "1"}, "  0.242857", 0},
    {{"+4", "3", "2", "1", "1"}, "  0.666667", 0},
    {{" \t\n1", "  2", "3", "4", "1"}, "  0.666667", 0},
    {{"3", "1", "1", "3", "one"}, "  0.257143", 0},
    {{"3", "1", "1", "3", "-1"}, "  0.257143", 0},
    {{"3", "1", "1", "3", " +1x"}, "  0.242857", 0},
    {{"", "", "", "", ""}, "  1.000000", 0},
    {{"- 1", "2", "3", "4", "1"}, "  0.416667", 0},  // 0 2 3 4: 35/84
    // Beyond 32 bits: saturates, never wraps into a small count.
    {{"4294967297", "1", "1", "1", "1"}, "", 0},
    {{"-4294967295", "1", "1", "1", "1"}, "", 0},
    {{"99999999999999999999999", "0", "0", "0", "1"}, "", 0},
    {{"3", "1", "1", "3", "4294967297"}, "  0.257143", 0},
    {{"3", "1", "1", "3", "-2147483648"}, "  0.257143", 0},
    // A sixth and later arguments change nothing; -h among five is 0.
    {{"3", "1", "1", "3", "1", "junk", "7"}, "  0.242857", 0},
    {{"-h", "1", "2", "3", "1"}, "  0.666667", 0},
    // Five arguments are a table whatever they look like: 0 0 0 0.
    {{"-b", "-a", "less", "-f", "p"}, "  1.000000", 0},
};

TEST(CommandLine, WritesExactBytes) {
  for (const Case& t : kCases) {
    std::string shown;
    for (const std::string& s : t.args) shown += "[" + s + "]";
    SCOPED_TRACE(shown);
    const Result r = Tool(t.args);
    EXPECT_EQ(r.out, t.out);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, t.status);
  }
}

TEST(CommandLine, ShortCommandLineIsAUsageError) {
  const std::string five = "expected five arguments a b c d test, or --batch";
  const struct {
    std::vector<std::string> args;
    std::string fault;
  } cases[] = {
      {{}, five},
      {{"3"}, five},
      {{"3", "1", "1", "3"}, five},
      {{"-1", "2", "3", "4"}, five},
      {{"-h", "x"}, "unknown option: -h"},
      {{"--version", "1"}, "unknown option: --version"},
      {{"--help=1"}, "unknown option: --help=1"},
  };
  for (const auto& c : cases) {
    const Result r = Tool(c.args);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "fisher2x2: " + c.fault + "\n" + kUsageText);
    EXPECT_EQ(r.status, 2);
  }
}

TEST(CommandLine, HelpAndVersion) {
  for (const char* flag : {"-h", "--help"}) {
    const Result r = Tool({flag});
    EXPECT_EQ(r.out.rfind("usage: fisher2x2 a b c d test\n", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("%10.6f"), std::string::npos);
    EXPECT_EQ(r.out.back(), '\n');
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
  }
  for (const char* flag : {"-V", "--version"}) {
    const Result v = Tool({flag});
    EXPECT_EQ(v.out.rfind("fisher2x2 " FISHER2X2_VERSION "\n", 0), 0u) << v.out;
    EXPECT_NE(v.out.find("MIT"), std::string::npos);
    EXPECT_EQ(v.status, 0);
  }
}

TEST(CommandLine, FailedWriteIsStatusOne) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"3", "1", "1", "3", "2"},
        std::vector<std::string>{"--version"}}) {
    const Result r = Tool(args, "/dev/full");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "fisher2x2: cannot write to standard output: No space left on device\n");
  }
  // Nothing to write is no failure.
  EXPECT_EQ(Tool({"-1", "0", "0", "0", "1"}, "/dev/full").status, 0);
}

TEST(CommandLine, RunsStandSideBySide) {
  const std::string joined = Tool({"3", "1", "1", "3", "1"}).out + Tool({"1", "2", "3", "4", "2"}).out;
  EXPECT_EQ(joined, "  0.242857  1.000000");
}

}  // namespace

namespace {

// Batch mode writes, for each row of the table whose arguments are strict
// numerals, the bytes of the single run and a line end.
TEST(CommandLine, BatchLinesAreTheSingleRuns) {
  auto strict = [](const std::string& s) {
    const std::size_t start = !s.empty() && (s[0] == '+' || s[0] == '-') ? 1 : 0;
    if (s.size() == start || s.size() > 11) return false;
    for (std::size_t i = start; i < s.size(); ++i) {
      if (s[i] < '0' || s[i] > '9') return false;
    }
    const long long v = std::stoll(s);
    return v >= -2147483648LL && v <= 2147483647LL;
  };
  std::string input, expected;
  int rows = 0;
  for (const Case& t : kCases) {
    if (t.args.size() != 5) continue;
    bool all = true;
    for (const std::string& s : t.args) all = all && strict(s);
    if (!all) continue;
    // Batch mode computes the larger tables that a single run leaves out.
    long long total = 0;
    bool negative = false;
    for (int i = 0; i < 4; ++i) {
      total += std::stoll(t.args[static_cast<std::size_t>(i)]);
      negative = negative || std::stoll(t.args[static_cast<std::size_t>(i)]) < 0;
    }
    if (!negative && total > kMaxTotal) continue;
    input += t.args[0] + ' ' + t.args[1] + ' ' + t.args[2] + ' ' + t.args[3] + ' ' + t.args[4] + '\n';
    expected += t.out + '\n';
    ++rows;
  }
  EXPECT_GT(rows, 15);
  const Result r = Tool({"-b"}, nullptr, input);
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
}

}  // namespace
