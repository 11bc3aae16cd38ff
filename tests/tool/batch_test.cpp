// Batch mode through the built tool: lines in, lines out, messages, status.
#include <poll.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <cfloat>
#include <cstdint>

#include "accurate/pvalues.h"
#include "classic/fisher_test.h"
#include "run_tool.h"

namespace {

struct Table {
  int a, b, c, d, test;
};

std::string Line(const Table& t) {
  std::ostringstream s;
  s << t.a << ' ' << t.b << ' ' << t.c << ' ' << t.d << ' ' << t.test << '\n';
  return s.str();
}

std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream s(text);
  for (std::string line; std::getline(s, line);) lines.push_back(line);
  return lines;
}

// Every table up to N = 12 for both tails, then large ones of every kind:
// long walks, deep tails, totals up to the limit.
std::vector<Table> Tables(int random_count) {
  std::vector<Table> tables;
  for (int n = 0; n <= 12; ++n)
    for (int a = 0; a <= n; ++a)
      for (int b = 0; a + b <= n; ++b)
        for (int c = 0; a + b + c <= n; ++c)
          for (int test : {1, 2}) tables.push_back({a, b, c, n - a - b - c, test});
  std::mt19937 rng(5);
  auto uniform = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int i = 0; i < random_count; ++i) {
    const int n = uniform(0, kMaxTotal);
    const int a = uniform(0, n), b = uniform(0, n - a), c = uniform(0, n - a - b);
    tables.push_back({a, b, c, n - a - b - c, uniform(1, 2)});
  }
  return tables;
}

TEST(Batch, LinesAreTheSingleRunsWithLineEnds) {
  const std::vector<Table> tables = Tables(0);
  std::string input, expected;
  for (const Table& t : tables) {
    input += Line(t);
    const Result single = Tool({std::to_string(t.a), std::to_string(t.b), std::to_string(t.c),
                                std::to_string(t.d), std::to_string(t.test)});
    expected += single.out + "\n";
  }
  const Result r = Tool({"--batch"}, nullptr, input);
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
}

// --precise writes the accurate computation's double, and reads back as it.
TEST(Batch, PreciseReadsBackAsTheAccurateDouble) {
  const std::vector<Table> tables = Tables(3000);
  std::string input;
  for (const Table& t : tables) input += Line(t);
  const Result r = Tool({"-b", "-p"}, nullptr, input);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> lines = Split(r.out);
  ASSERT_EQ(lines.size(), tables.size());
  for (std::size_t i = 0; i < tables.size(); ++i) {
    const Table& t = tables[i];
    const AccuratePValue p = AccurateTest(static_cast<std::uint64_t>(t.a), static_cast<std::uint64_t>(t.b),
                                          static_cast<std::uint64_t>(t.c), static_cast<std::uint64_t>(t.d),
                                          t.test == 1);
    const double v = PValue(p);
    if (v >= DBL_MIN) {
      ASSERT_EQ(std::strtod(lines[i].c_str(), nullptr), v) << Line(t) << lines[i];
    } else {
      ASSERT_NE(lines[i].find("e-"), std::string::npos) << lines[i];
    }
    ASSERT_EQ(lines[i].find_first_of(" +"), std::string::npos) << lines[i];
    ASSERT_NE(lines[i], "0");
  }
}

// Values checked against 256-bit arithmetic (tests/reference.py).
TEST(Batch, PreciseAndLog10KnownValues) {
  const std::string input =
      "3 1 1 3 2\n22 0 0 102 2\n0 0 0 0 1\n0 1 1 2 2\n12500 12500 12500 12500 2\n-1 0 0 0 1\n"
      "0 25000 25000 0 2\n781 23171 4963 2455001 2\n333 381 801722 7664285 2\n2147483647 1 1 1 1\n";
  const Result p = Tool({"-bp"}, nullptr, input);
  EXPECT_EQ(p.out,
            "0.2571428571428571\n7.175066786244521e-25\n1\n1\n1\n\n8.8667387605176924e-15050\n"
            "8.0803565757657444e-611\n2.8020434689535685e-145\n1.8626451470625527e-09\n");
  EXPECT_EQ(p.status, 0);
  const Result l = Tool({"--batch", "--log10"}, nullptr, input);
  EXPECT_EQ(l.out,
            "0.5898255349109508\n24.144174052118363\n0\n0\n0\n\n15049.052236086904\n"
            "610.0925694739444\n144.55252513165544\n8.72986987476104\n");
  EXPECT_EQ(l.status, 0);
  const Result six = Tool({"-b"}, nullptr, input);
  EXPECT_EQ(six.out,
            "  0.257143\n  0.000000\n  1.000000\n  1.000000\n  1.000000\n\n  0.000000\n"
            "  0.000000\n  0.000000\n  0.000000\n");
}

struct OddCase {
  const char* what;
  std::vector<std::string> args;
  std::string in, out, err;
  int status;
};

template <std::size_t N>
void RunCases(const OddCase (&cases)[N]) {
  for (const OddCase& t : cases) {
    SCOPED_TRACE(t.what);
    const Result r = Tool(t.args, nullptr, t.in);
    EXPECT_EQ(r.out, t.out);
    EXPECT_EQ(r.err, t.err);
    EXPECT_EQ(r.status, t.status);
  }
}

TEST(Batch, OddInput) {
  std::string many_bad, many_empty;
  for (int i = 0; i < 150; ++i) {
    many_bad += "bad\n";
    many_empty += "\n";
  }
  std::string many_err;
  for (int i = 1; i <= 100; ++i) many_err += "fisher2x2: line " + std::to_string(i) + ": field 1 is not an integer\n";
  many_err += "fisher2x2: 50 further malformed lines\n";
  const OddCase cases[] = {
      {"empty input", {"-b"}, "", "", "", 0},
      {"blank and comment lines", {"-b"}, "\n   \n\t\n# a b c d test\n  #x\n3 1 1 3 2\n",
       "\n\n\n\n\n  0.257143\n", "", 0},
      {"CRLF", {"-b"}, "3 1 1 3 2\r\n3 1 1 3 1\r\n\r\n", "  0.257143\n  0.242857\n\n", "", 0},
      {"no final line end", {"-b"}, "3 1 1 3 1\n3 1 1 3 2", "  0.242857\n  0.257143\n", "", 0},
      {"blanks anywhere", {"-b"}, " \t3\t1  1 3 2 \t\n", "  0.257143\n", "", 0},
      {"signs", {"-b"}, "+3 1 1 +3 -5\n3 1 1 3 -2147483648\n", "  0.257143\n  0.257143\n", "", 0},
      {"leading zeros", {"-b"}, "0003 01 1 000000000000000000003 -0000000002147483648\n-0 0 0 0 1\n",
       "  0.257143\n  1.000000\n", "", 0},
      {"a negative count", {"-b"}, "-1 2 3 4 1\n3 1 -9223372036854775808 3 1\n", "\n\n", "", 0},
      {"beyond 50000 and 32 bits", {"-b"},
       "12500 12500 12500 12501 2\n2147483648 1 1 1 1\n9223372036854775806 1 0 0 1\n"
       "1 1 1 1 -9223372036854775808\n1000000000 1000000000 1000000000 1000000000 1\n",
       "  1.000000\n  0.000000\n  1.000000\n  1.000000\n  0.500013\n", "", 0},
      {"four fields", {"-b"}, "3 1 1 3\n", "\n", "fisher2x2: line 1: expected five integers\n", 1},
      {"six fields", {"-b"}, "3 1 1 3 2 7\n", "\n", "fisher2x2: line 1: expected five integers\n", 1},
      {"a word", {"-b"}, "3 1 1 3 2\n\nbad\n3 1 1 3 1\n", "  0.257143\n\n\n  0.242857\n",
       "fisher2x2: line 3: field 1 is not an integer\n", 1},
      {"not strict numerals", {"-b"}, "3 1 1.5 3 2\n3 1 1 3 2x\n+ 1 1 3 2\n3 1 1 3 --2\n3 1\r1 3 2\n",
       "\n\n\n\n\n",
       "fisher2x2: line 1: field 3 is not an integer\nfisher2x2: line 2: field 5 is not an integer\n"
       "fisher2x2: line 3: field 1 is not an integer\nfisher2x2: line 4: field 5 is not an integer\n"
       "fisher2x2: line 5: field 2 is not an integer\n", 1},
      {"beyond 64 bits", {"-b"},
       "9223372036854775808 1 1 1 1\n3 1 1 3 -9223372036854775809\n1 1 1 1 99999999999999999999\n"
       "1 1 1 1 18446744073709551617\n1 1 1 1 000123456789012345678901\n"
       "9223372036854775807 1 0 0 1\n5000000000000000000 5000000000000000000 0 0 1\n",
       "\n\n\n\n\n\n\n",
       "fisher2x2: line 1: field 1 is beyond 2^63 - 1\n"
       "fisher2x2: line 2: field 5 is beyond the 64-bit range\n"
       "fisher2x2: line 3: field 5 is beyond the 64-bit range\n"
       "fisher2x2: line 4: field 5 is beyond the 64-bit range\n"
       "fisher2x2: line 5: field 5 is beyond the 64-bit range\n"
       "fisher2x2: line 6: the total is beyond 2^63 - 1\n"
       "fisher2x2: line 7: the total is beyond 2^63 - 1\n", 1},
      {"longest line", {"-b"}, std::string(65527, ' ') + "3 1 1 3 2\n", "  0.257143\n", "", 0},
      {"one byte too long", {"-b"}, std::string(65528, ' ') + "3 1 1 3 2\n3 1 1 3 1\n", "\n  0.242857\n",
       "fisher2x2: line 1: longer than 65536 bytes\n", 1},
      {"trailing blanks and comments of any length", {"-b"},
       "3 1 1 3 2" + std::string(100000, ' ') + "\r\n3 1 1 3 1 # " + std::string(100000, 'x') +
           "\n3 1 1 3 1\t#x\n3 1 1 3 1#x\n",
       "  0.257143\n  0.242857\n  0.242857\n\n", "fisher2x2: line 4: field 5 is not an integer\n", 1},
      {"a table past the limit", {"-b"}, "3 1 1 3 2" + std::string(100000, ' ') + "7\n", "\n",
       "fisher2x2: line 1: longer than 65536 bytes\n", 1},
      {"longer than the input buffer", {"-b"}, "3 1 1 3 2\n" + std::string(300000, '7') + "\n3 1 1 3 1\n",
       "  0.257143\n\n  0.242857\n", "fisher2x2: line 2: longer than 65536 bytes\n", 1},
      {"a 1 MiB comment and blank line", {"-b"},
       "#" + std::string(1 << 20, 'c') + "\n" + std::string(1 << 20, ' ') + "\n3 1 1 3 1\n", "\n\n  0.242857\n",
       "", 0},
      {"overlong blank last line", {"-b"}, "3 1 1 3 1\n" + std::string(70000, ' '), "  0.242857\n\n", "", 0},
      {"reports capped", {"-b"}, many_bad, many_empty, many_err, 1},
      {"standard input as -", {"--batch", "-"}, "3 1 1 3 2\n", "  0.257143\n", "", 0},
      {"options in any order", {"--precise", "--batch"}, "0 0 0 0 1\n", "1\n", "", 0},
      {"short options together", {"-pb"}, "0 0 0 0 1\n", "1\n", "", 0},
      {"missing file", {"-b", "/nonexistent/tables"}, "", "",
       "fisher2x2: /nonexistent/tables: No such file or directory\n", 1},
      {"a directory", {"-b", "/"}, "", "", "fisher2x2: /: Is a directory\n", 1},
  };
  RunCases(cases);
}

// Files as users keep them: a header, more columns than the counts, comments
// and blank lines passed through, CSV; one line out per line in, the input
// bytes unchanged with --keep.
TEST(Batch, FilesUsersHave) {
  const std::string tsv =
      "gene\tcase alt\tcase_ref\tctrl_alt\tctrl_ref\tnote\n"
      "BRCA1\t3\t1\t1\t3\tx y\n"
      "TP53\t2\t8\t8\t2\t\n";
  const std::string head = "# made by a pipeline\n\n";
  const std::string comment(1 << 20, 'c');
  const std::string usage = std::string(kUsageText);
  const OddCase cases[] = {
      {"header, columns by name (and number)", {"-bpHa", "less", "-ccase alt,3,ctrl_alt,ctrl_ref"}, head + tsv,
       "\n\np\n0.9857142857142858\n0.011507068782610578\n", "", 0},
      {"header, columns by number, kept", {"-bkHa", "two-sided", "-c2,3,4,5"}, head + tsv,
       head + "gene\tcase alt\tcase_ref\tctrl_alt\tctrl_ref\tnote\tp\n"
              "BRCA1\t3\t1\t1\t3\tx y\t  0.485714\n"
              "TP53\t2\t8\t8\t2\t\t  0.023014\n",
       "", 0},
      {"no header, numbers, selector column", {"-bp", "-c5,4,3,2,1"}, "1\t3\t1\t1\t3\n2\t3\t1\t1\t3\n",
       "0.24285714285714285\n0.2571428571428571\n", "", 0},
      {"fields hold blanks, counts may have blanks around", {"-bpa", "less", "-c2,3,4,5"},
       "a b\t 3 \t1\t1\t3 \tc d\n", "0.9857142857142858\n", "", 0},
      {"kept, fields named in the header", {"-bkHa", "less", "--fields=p,sample-or"}, "a b c d\n3 1 1 3\n",
       "a b c d\tp\tsample-or\n3 1 1 3\t  0.985714\t9\n", "", 0},
      {"an empty field is a field", {"-bpa", "less", "-c1,2,3,4"}, "3\t\t1\t3\n", "\n",
       "fisher2x2: line 1: column 2 is not an integer\n", 1},
      {"a column beyond the line", {"-bpa", "less", "-c1,2,3,7"}, "3\t1\t1\t3\t0\n3\t1\t1\t3\t0\t0\t3\n",
       "\n0.9857142857142858\n", "fisher2x2: line 1: column 7 is missing\n", 1},
      {"split on tabs, a line without one", {"-bpa", "less", "-c2,3,4,5"}, "x 3 1 1 3\n", "\n",
       "fisher2x2: line 1: column 2 is missing: the line has no tab (columns are split on tabs; -d C splits on C)\n",
       1},
      {"R's quoted names, a byte-order mark", {"-bHpa", "less", "-d,", "-cb,c,d,e"},
       "\xef\xbb\xbf\"a\",\"b\",\"c\", \"d\" ,e\nq,3,1,1,3\n", "p\n0.9857142857142858\n", "", 0},
      {"a byte-order mark, kept", {"-bkHa", "less", "-cb,c,d,e"}, "\xef\xbb\xbf" "a\tb\tc\td\te\nq\t3\t1\t1\t3\n",
       "a\tb\tc\td\te\tp\nq\t3\t1\t1\t3\t  0.985714\n", "", 0},
      {"a byte-order mark needs --header", {"-bpa", "less"}, "\xef\xbb\xbf" "3 1 1 3\n", "\n",
       "fisher2x2: line 1: field 1 is not an integer\n", 1},
      {"missing name", {"-bHa", "less", "-ccase_alt,case_ref,ctrl_alt,ctrl_ref"}, head + tsv, "",
       "fisher2x2: no column named case_alt in the header\n" + usage, 2},
      {"duplicate name", {"-bHa", "less", "-cgene,case_ref,ctrl_alt,ctrl_ref"}, "gene\tcase_ref\tctrl_alt\tctrl_ref\tgene\n",
       "", "fisher2x2: the header names gene twice\n" + usage, 2},
      {"CSV, CRLF, kept", {"-bkpa", "less", "-d,", "-c2,3,4,5"}, "x,3,1,1,3\r\nx,-3,1,1,3\r\n#c\r\n\r\n",
       "x,3,1,1,3,0.9857142857142858\r\nx,-3,1,1,3,\r\n#c\r\n\r\n", "", 0},
      {"CSV header", {"-bHpa", "less", "-d,", "-cb,c,d,e"}, "a,b,c,d,e\nq,3,1,1,3\n", "p\n0.9857142857142858\n", "", 0},
      {"kept: comments, blanks, malformed, negative", {"-bk", "--fields=p,sample-or"},
       "#" + comment + "\n \t\n3 1 1 3 2\nbad line\n-1 2 3 4 1\n3 1 1 3 2 # note\n3 1 1 3 1",
       "#" + comment + "\n \t\n3 1 1 3 2\t  0.257143\t9\nbad line\t\t\n-1 2 3 4 1\t\t\n"
                       "3 1 1 3 2 # note\t  0.257143\t9\n3 1 1 3 1\t  0.242857\t9\n",
       "fisher2x2: line 4: field 1 is not an integer\n", 1},
      {"kept: a data line at and beyond the limit", {"-bk"},
       std::string(65527, ' ') + "3 1 1 3 2\n" + std::string(65528, ' ') + "3 1 1 3 2\r\n",
       std::string(65527, ' ') + "3 1 1 3 2\t  0.257143\n" + std::string(65528, ' ') + "3 1 1 3 2\t\r\n",
       "fisher2x2: line 2: longer than 65536 bytes\n", 1},
      {"kept: the counts in the first columns of a long line", {"-bkpa", "less", "-c1,2,3,4"},
       "3\t1\t1\t3\t" + comment + "\n", "3\t1\t1\t3\t" + comment + "\t0.9857142857142858\n", "", 0},
      {"a header only, and no input", {"-bHpa", "less", "-cw,x,y,z"}, "w\tx\ty\tz\n", "p\n", "", 0},
      {"no header line at all", {"-bHpa", "less", "-cw,x,y,z"}, "# only a comment\n", "\n", "", 0},
      {"header without columns", {"-bH"}, "a b c d test\n3 1 1 3 2\n", "p\n  0.257143\n", "", 0},
  };
  RunCases(cases);
}

// --columns and --keep change where the counts come from and what is
// written beside them, never the values: every table of the plain stream
// again, from a 10-column TSV.
TEST(Batch, ColumnsAndKeepWriteThePlainValues) {
  std::string plain, tsv = "id\tx\ta\tb\tc\td\ttest\ty\tz\tw\n";
  const std::vector<Table> tables = Tables(300);
  for (std::size_t i = 0; i < tables.size(); ++i) {
    const Table& t = tables[i];
    plain += Line(t);
    tsv += "t" + std::to_string(i) + "\tx y\t" + std::to_string(t.a) + '\t' + std::to_string(t.b) + '\t' +
           std::to_string(t.c) + '\t' + std::to_string(t.d) + '\t' + std::to_string(t.test) + "\t\t1.5\tz\n";
  }
  for (const std::string plain_format : {"-b", "-bp", "-bl"}) {
    const std::string format = plain_format + "H";
    const std::vector<std::string> want = Split(Tool({plain_format}, nullptr, plain).out);
    const std::vector<std::string> by_name = Split(Tool({format, "-ca,b,c,d,test"}, nullptr, tsv).out);
    const std::vector<std::string> kept = Split(Tool({format + "k", "-c3,4,5,6,7"}, nullptr, tsv).out);
    const std::vector<std::string> in = Split(tsv);
    ASSERT_EQ(by_name.size(), want.size() + 1);
    ASSERT_EQ(kept.size(), want.size() + 1);
    EXPECT_EQ(by_name[0], "p");
    for (std::size_t i = 0; i < want.size(); ++i) {
      ASSERT_EQ(by_name[i + 1], want[i]) << format << " line " << i + 2;
      ASSERT_EQ(kept[i + 1], in[i + 1] + "\t" + want[i]) << format << " line " << i + 2;
    }
  }
}

TEST(Batch, FileOperand) {
  char path[] = "/tmp/fisher2x2_tables_XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(WriteFile(fd, "3 1 1 3 2\n1 1 1 4 2\n"));
  close(fd);
  // Standard input is not read when a file is named.
  const Result r = Tool({"-b", path}, nullptr, "2 8 8 2 2\n");
  EXPECT_EQ(r.out, "  0.257143\n  0.523810\n");
  EXPECT_EQ(r.status, 0);
  const Result after_dashes = Tool({"-b", "--", path});
  EXPECT_EQ(after_dashes.out, r.out);
  unlink(path);
}

// Every misuse names its fault before the usage lines, writes nothing on
// standard output and reads nothing.
TEST(Batch, MisuseIsAUsageError) {
  const struct {
    std::vector<std::string> args;
    std::string fault;
  } cases[] = {
      {{"-p"}, "this option needs --batch: --precise"},
      {{"--precise"}, "this option needs --batch: --precise"},
      {{"-a", "less"}, "this option needs --batch: --alternative"},
      {{"tables.txt"}, "expected five arguments a b c d test, or --batch"},
      {{"-b", "a", "b"}, "more than one file: b"},
      {{"-b", "--bogus"}, "unknown option: --bogus"},
      {{"-bx"}, "unknown option: -x"},
      {{"-b", "-h"}, "unknown option: -h"},
      {{"--batch=1"}, "this option takes no value: --batch=1"},
      {{"-bs"}, "--strata needs --alternative"},
      {{"-bsa", "less", "--fields=sample-or"}, "the field sample-or is one table's: the strata have mh-or"},
      {{"-ba", "less", "--fields=mh-or"}, "the field mh-or needs --strata or --group"},
      {{"-bg1", "-aless"}, "--group needs --columns (four columns a, b, c, d)"},
      {{"-bg1", "-c2,3,4,5"}, "--group needs --alternative"},
      {{"-bkg1", "-aless", "-c2,3,4,5"}, "--keep and --group exclude each other"},
      {{"-bsg1", "-aless", "-c2,3,4,5"}, "--strata and --group exclude each other"},
      {{"-bg1", "-aless", "-c2,3,4,5,6"}, "--columns takes 4 columns (a, b, c, d) with --alternative: 2,3,4,5,6"},
      {{"-bsa", "less", "-c1,2,3"}, "--columns needs 4 or 5 columns: 1,2,3"},
      {{"-bsa", "less", "-c1,2,3,4,5"}, "--columns takes 4 K columns (a1, b1, c1, d1, a2, ...) with --strata: 1,2,3,4,5"},
      {{"-bHa", "less", "-g"}, "--group needs a column"},
      {{"-bgx", "-aless", "-c1,2,3,4"}, "--group names a column only with --header: x"},
      {{"-b", "-p", "-q"}, "unknown option: -q"},
      {{"-bpl"}, "--precise and --log10 exclude each other"},
      {{"-ba"}, "--alternative needs a name"},
      {{"-b", "-a", "two_sided"}, "unknown alternative (less, greater or two-sided): two_sided"},
      {{"-b", "-f", "p,odds"}, "unknown field: odds"},
      {{"-b", "--fields=p,,or"}, "unknown field: (empty)"},
      {{"-b", "-f"}, "--fields needs a list"},
      {{"-bf", "p,p,p,p,p,p,p,p,p,p,p,p,p,p,p,p,p"}, "too many fields (at most 16): p,p,p,p,p,p,p,p,p,p,p,p,p,p,p,p,p"},
      {{"-bf", "mid-p"}, "the field mid-p needs --alternative"},
      {{"-b", "--conf-level=0"}, "--conf-level must be a decimal strictly between 0 and 1: 0"},
      {{"-b", "--conf-level=1"}, "--conf-level must be a decimal strictly between 0 and 1: 1"},
      {{"-b", "--conf-level", "-0.5"}, "--conf-level must be a decimal strictly between 0 and 1: -0.5"},
      {{"-b", "--conf-level=1.5"}, "--conf-level must be a decimal strictly between 0 and 1: 1.5"},
      {{"-b", "--conf-level=abc"}, "--conf-level must be a decimal strictly between 0 and 1: abc"},
      {{"-b", "--conf-level=0.9x"}, "--conf-level must be a decimal strictly between 0 and 1: 0.9x"},
      {{"-b", "--conf-level=0.1234567890123456"},
       "--conf-level takes a decimal of at most 15 significant digits: 0.1234567890123456"},
      {{"-b", "--conf-level"}, "--conf-level needs a value"},
      {{"-k"}, "this option needs --batch: --keep"},
      {{"--header"}, "this option needs --batch: --header"},
      {{"-b", "--keep=1"}, "this option takes no value: --keep=1"},
      {{"-bc"}, "--columns needs a list"},
      {{"-bc", "1,2,3"}, "--columns needs 4 or 5 columns: 1,2,3"},
      {{"-bc", "1,2,3,4,5,6"}, "--columns needs 4 or 5 columns: 1,2,3,4,5,6"},
      {{"-bc", "1,2,3,4"}, "--columns needs 5 columns (a, b, c, d, test) without --alternative: 1,2,3,4"},
      {{"-baless", "-c1,2,3,4,5"}, "--columns takes 4 columns (a, b, c, d) with --alternative: 1,2,3,4,5"},
      {{"-bc", "a,b,c,d,e"}, "--columns names columns only with --header: a,b,c,d,e"},
      {{"-bc", "0,1,2,3,4"}, "--columns: columns are numbered from 1: 0,1,2,3,4"},
      {{"-bc", "1,,2,3,4"}, "--columns has an empty entry: 1,,2,3,4"},
      {{"-bd,"}, "--delimiter needs --columns"},
      {{"-bd", "ab", "-c1,2,3,4,5"}, "--delimiter needs one character: ab"},
      {{"-b", "-d"}, "--delimiter needs a character"},
      {{"-b", "--null-or=2"}, "--null-or needs --alternative"},
      {{"-ba", "less", "--null-or=0"}, "--null-or must be a positive number: 0"},
      {{"-ba", "less", "--null-or=-1"}, "--null-or must be a positive number: -1"},
      {{"-ba", "less", "--null-or=inf"}, "--null-or must be a positive number: inf"},
      {{"-ba", "less", "--null-or=2x"}, "--null-or must be a positive number: 2x"},
      {{"-ba", "less", "--null-or"}, "--null-or needs a value"},
      {{"--null-or=2"}, "this option needs --batch: --null-or"},
  };
  for (const auto& c : cases) {
    const Result r = Tool(c.args, nullptr, "3 1 1 3 2\n");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "fisher2x2: " + c.fault + "\n" + kUsageText);
    EXPECT_EQ(r.status, 2);
  }
}

// --fields p is the default: the same bytes in every format; each field is
// what it names, whatever the alternative, and the p-value follows it.
TEST(Batch, FieldsAndAlternatives) {
  std::string input, four;
  for (const Table& t : Tables(500)) {
    input += Line(t);
    four += std::to_string(t.a) + ' ' + std::to_string(t.b) + ' ' + std::to_string(t.c) + ' ' +
            std::to_string(t.d) + '\n';
  }
  input += "9223372036854775806 1 0 0 2\n781 23171 4963 2455001 1\n";
  four += "9223372036854775806 1 0 0\n781 23171 4963 2455001\n";
  for (const char* format : {"-b", "-bp", "-bl"}) {
    EXPECT_EQ(Tool({format, "-f", "p"}, nullptr, input).out, Tool({format}, nullptr, input).out) << format;
    const Result all = Tool({format, "--fields=less,greater,two-sided"}, nullptr, input);
    EXPECT_EQ(all.status, 0);
    const std::vector<std::string> rows = Split(all.out);
    const char* names[] = {"less", "greater", "two-sided"};
    for (int k = 0; k < 3; ++k) {
      const std::vector<std::string> p = Split(Tool({format, "-a", names[k]}, nullptr, four).out);
      ASSERT_EQ(p.size(), rows.size());
      for (std::size_t i = 0; i < p.size(); ++i) {
        std::istringstream fields(rows[i]);
        std::string field;
        for (int j = 0; j <= k; ++j) std::getline(fields, field, '\t');
        ASSERT_EQ(p[i], field) << names[k] << " line " << i + 1;
      }
    }
  }
  EXPECT_EQ(Tool({"-ba", "two.sided"}, nullptr, four).out, Tool({"-ba", "two-sided"}, nullptr, four).out);
  // A null odds ratio of 1 is the usual test, bit for bit; the estimate and
  // the interval do not depend on it.
  const std::string all_fields = "--fields=p,mid-p,less,greater,two-sided,central,or,ci-low,ci-high";
  EXPECT_EQ(Tool({"-bpa", "greater", all_fields, "--null-or=1"}, nullptr, four).out,
            Tool({"-bpa", "greater", all_fields}, nullptr, four).out);
  EXPECT_EQ(Tool({"-bpa", "two-sided", "--fields=or,ci-low,ci-high", "--null-or=3.5"}, nullptr, four).out,
            Tool({"-bpa", "two-sided", "--fields=or,ci-low,ci-high"}, nullptr, four).out);
  // With an alternative a line has four fields.
  const Result five = Tool({"-ba", "less"}, nullptr, "3 1 1 3\n3 1 1 3 2\n");
  EXPECT_EQ(five.out, "  0.985714\n\n");
  EXPECT_EQ(five.err, "fisher2x2: line 2: expected four integers\n");
  EXPECT_EQ(five.status, 1);
}

// The p-values exactly; the odds ratios against their roots to 25 digits
// (tests/reference.py), which R's fisher.test gives to its tolerance, 1e-4.
TEST(Batch, WholeTestKnownValues) {
  const Result r = Tool({"-bpa", "two-sided", "--fields=p,mid-p,central,sample-or,or,ci-low,ci-high"},
                        nullptr, "1 19 6 14\n56 1 8 41\n0 5 5 0\n7 0 0 0\n");
  const std::vector<std::string> lines = Split(r.out);
  ASSERT_EQ(lines.size(), 4u);
  const std::string exact[4] = {
      "0.0914760914760915\t0.0498960498960499\t0.0914760914760915\t0.12280701754385964",
      "4.011283124999672e-20\t2.0123214677870962e-20\t8.022566249999344e-20\t287",
      "0.007936507936507936\t0.003968253968253968\t0.007936507936507936\t0\t0\t0",
      "1\t0.5\t1\tnan\tnan\t0\tinf"};
  const double roots[3][3] = {{0.1288355440469854396, 0.002539479547098841359, 1.2461400991177431496},
                              {258.7997406751482572, 35.269845853100427746, 11797.720297104726342},
                              {0, 0, 0.43534120574505569268}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(lines[static_cast<std::size_t>(i)].rfind(exact[i], 0), 0u) << lines[static_cast<std::size_t>(i)];
    if (i == 2 || i == 3) continue;
    std::istringstream fields(lines[static_cast<std::size_t>(i)]);
    std::string field;
    for (int k = 0; k < 4; ++k) std::getline(fields, field, '\t');
    for (double root : roots[i]) {
      std::getline(fields, field, '\t');
      EXPECT_NEAR(std::strtod(field.c_str(), nullptr) / root, 1.0, 1e-14) << field;
    }
  }
  EXPECT_EQ(lines[2].substr(lines[2].rfind('\t') + 1).substr(0, 14), "0.435341205745");
}

// LogFactorial grows with the largest total so far; whatever the order, every
// line is the same.
TEST(Batch, OrderDoesNotMatter) {
  std::vector<Table> tables = Tables(400);
  std::rotate(tables.begin(), tables.end() - 400, tables.end());  // large ones first
  for (const char* mode : {"-b", "-bp", "-bl"}) {
    std::string forward, backward;
    for (const Table& t : tables) forward += Line(t);
    for (auto t = tables.rbegin(); t != tables.rend(); ++t) backward += Line(*t);
    std::vector<std::string> out = Split(Tool({mode}, nullptr, forward).out);
    const std::vector<std::string> reversed = Split(Tool({mode}, nullptr, backward).out);
    std::reverse(out.begin(), out.end());
    EXPECT_EQ(out, reversed) << mode;
  }
}

// Stratified tests: a line of strata, or groups of lines; a bad stratum
// spoils its line or group alone, reported.
TEST(Batch, StrataLinesAndGroups) {
  const std::string groups = "g\ta\tb\tc\td\nx\t3\t1\t1\t3\nx\t2\t2\t2\t2\ny\t1\t1\t1\t1\n"
                             "\t1\t1\t1\t1\nz\t1\tx\t1\t1\nz\t1\t1\t1\t1\nw\t3\t1\t1\t3\n";
  const OddCase cases[] = {
      {"strata a line; K = 1 the table's bytes; bad lines; too wide", {"-bpsa", "less"},
       "3 1 1 3 2 2 2 2\n3 1 1\n3 1 1 3 x 2 2 2\n\n3 1 1 3\n"
       "100000000 100000000 100000000 100000000 100000000 100000000 100000000 100000000\n3 1 1 3\n",
       "0.9263265306122449\n\n\n\n0.9857142857142858\n\n0.9857142857142858\n",
       "fisher2x2: line 2: expected a multiple of four integers\nfisher2x2: line 3: field 5 is not an integer\n"
       "fisher2x2: line 6: the strata are too wide for the exact test (the sd of their sum passes what 1 s and 1 "
       "GiB allow)\n",
       1},
      {"strata by columns, the estimates", {"-bsa", "two-sided", "-c5,6,7,8,1,2,3,4", "--fields=p,or,mh-or"},
       "2\t2\t2\t2\t3\t1\t1\t3\n", "  0.630612\t2.4301304586805013\t2.6\n", "", 0},
      {"groups by name: an empty key and a bad stratum spoil theirs", {"-bHpgg", "-aless", "-ca,b,c,d"}, groups,
       "g\tp\nx\t0.9263265306122449\ny\t0.8333333333333333\n\t\nz\t\nw\t0.9857142857142858\n",
       "fisher2x2: line 5: column 1 has an empty group\nfisher2x2: line 6: column 3 is not an integer\n", 1},
  };
  RunCases(cases);
}

TEST(Batch, FailedWriteIsStatusOne) {
  const Result r = Tool({"-b"}, "/dev/full", "3 1 1 3 2\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "fisher2x2: cannot write to standard output: No space left on device\n");
}

// A co-process: each answer arrives before the next table is written.
TEST(Batch, AnswersEachLineBeforeTheNext) {
  int to_tool[2], from_tool[2];
  ASSERT_EQ(pipe(to_tool), 0);
  ASSERT_EQ(pipe(from_tool), 0);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, to_tool[0], 0);
  posix_spawn_file_actions_adddup2(&fa, from_tool[1], 1);
  posix_spawn_file_actions_addclose(&fa, to_tool[1]);
  posix_spawn_file_actions_addclose(&fa, from_tool[0]);
  std::vector<std::string> words = ToolCommand();
  words.emplace_back("--batch");
  std::vector<char*> argv;
  for (std::string& s : words) argv.push_back(s.data());
  argv.push_back(nullptr);
  pid_t pid;
  ASSERT_EQ(posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&fa);
  close(to_tool[0]);
  close(from_tool[1]);

  auto ask = [&](const std::string& line) {
    EXPECT_EQ(write(to_tool[1], line.data(), line.size()), static_cast<ssize_t>(line.size()));
    std::string answer;
    char ch;
    pollfd pfd{from_tool[0], POLLIN, 0};
    while (poll(&pfd, 1, 10000) == 1 && read(from_tool[0], &ch, 1) == 1) {
      answer += ch;
      if (ch == '\n') break;
    }
    return answer;
  };
  EXPECT_EQ(ask("3 1 1 3 2\n"), "  0.257143\n");
  EXPECT_EQ(ask("2 8 8 2 2\n"), "  0.012054\n");
  EXPECT_EQ(ask("# a comment\n"), "\n");
  close(to_tool[1]);
  EXPECT_EQ(Drain(from_tool[0]), "");
  int status;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
