// The parameter-file reader: the "value # keyword" scan, conversions, the
// post-processing of radii and viscous time, and the refusal of tokens that
// do not fit.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "model/gmodel.h"
#include "model/parameters.h"
#include "model/settings.h"
#include "run/driver.h"
#include "support/test_support.h"

using testing_support::run_forked;

namespace {

class Parameters : public ::testing::Test {
 protected:
  void SetUp() override { testing_support::reset_globals(); }

  gmodel read(const std::string& text) {
    FILE* in = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    gmodel mod{};
    if (text.empty()) in = std::fopen("/dev/null", "r");
    // As the program's set-up reads: the values, a refusal with status 3,
    // then the record filled from the values.
    parameter_values values{};
    refusal_text why{};
    const bool accepted = scan_parameter_entries(in, values, why);
    std::fclose(in);
    if (!accepted) refuse_model("%s", why.data());
    fill_run_record(values, &mod);
    return mod;
  }
};

TEST_F(Parameters, EveryKeywordReachesItsDestination) {
  const gmodel m = read(
      "2e34 # mass\n1e25 # mdisk\n1e11 # r_out_disk\n0.4 # l\n0.1 # r_ign_in\n0.5 # r_ign_out\n-1 # sigma_index\n"
      "2 # texp\n0.003 # kappa\n0.25 # MIN_TIME\n4 # MAX_TIME\n7 # NUM_TIME\n1 # save\n2 # flag_outer\n"
      "ring1 # name\n1e17 # mdot_out\n1 # fast\n");
  EXPECT_EQ(m.mass, 2e34);
  EXPECT_EQ(m.mdisk, 1e25);
  EXPECT_EQ(m.r_out_disk, 1e11);
  EXPECT_EQ(m.l, 0.4);
  EXPECT_EQ(m.r_ign_in, 0.1 * 1e11);
  EXPECT_EQ(m.r_ign_out, 1e11 * 0.5);
  EXPECT_EQ(m.sigma_index, -1.0);
  EXPECT_EQ(m.texp, 172800.0);
  EXPECT_EQ(m.kappa, 0.003);
  EXPECT_EQ(MIN_TIME, 0.25);
  EXPECT_EQ(MAX_TIME, 4.0);
  EXPECT_EQ(NUM_TIME, 7);
  EXPECT_EQ(save, 1);
  EXPECT_EQ(m.flag_outer, 2);
  EXPECT_STREQ(NAME.data(), "ring1");
  EXPECT_EQ(m.mdot_out, 1e17);
  EXPECT_EQ(fast, 1);
}

TEST_F(Parameters, RadiusScalingDoesNotDependOnTheOrderOfEntries) {
  EXPECT_EQ(read("0.1 # r_ign_in\n1e11 # r_out_disk\n").r_ign_in, 1e10);
  EXPECT_EQ(read("1e11 # r_out_disk\n0.1 # r_ign_in\n").r_ign_in, 1e10);
}

TEST_F(Parameters, AnEmptyFileStillScales) {
  const gmodel m = read("");
  EXPECT_EQ(m.r_ign_in, 0.0);
  EXPECT_EQ(m.texp, 0.0);
  EXPECT_EQ(NUM_TIME, 0);
  EXPECT_STREQ(NAME.data(), "");
}

TEST_F(Parameters, WordsThatFormNoEntryAreSkipped) {
  const gmodel m = read(
      "a comment line of ordinary words\n0.4 # l these words follow an entry\n"
      "3 #l\n"            // a keyword glued to '#' is still a keyword after optional white space
      "5#mass\n"          // a value glued to '#' is one token: no entry
      "7 # Mass\n8 # MASS\n9 # mass2\n"  // keywords are whole, case-sensitive strings
      "word # mdisk\n");  // a comment word before '# keyword' is taken as the entry's value
  EXPECT_EQ(m.l, 3.0);
  EXPECT_EQ(m.mass, 0.0);
  EXPECT_EQ(m.mdisk, 0.0);  // "word" does not convert: the destination is unchanged
}

TEST_F(Parameters, IntegersTakeTheLeadingDigitsAndLaterEntriesWin) {
  read("3.7 # NUM_TIME\n3.7 # save\n2.5 # flag_outer\n");
  EXPECT_EQ(NUM_TIME, 3);
  EXPECT_EQ(save, 3);
  const gmodel m = read("1 # flag_outer\nabc # flag_outer\n0.1 # l\n0.25 # l\n");
  EXPECT_EQ(m.flag_outer, 1);  // "abc" has no leading integer
  EXPECT_EQ(m.l, 0.25);
}

TEST_F(Parameters, ViscousTimeIsGivenInDays) {
  EXPECT_EQ(read("2 # texp\n").texp, 172800.0);
  EXPECT_EQ(read("0 # texp\n").texp, 0.0);
}

TEST_F(Parameters, NameOf599CharactersIsStoredWhole) {
  const std::string name(599, 'n');
  read(name + " # name\n");
  EXPECT_EQ(std::string(NAME.data()), name);
}

struct Refusal {
  const char* label;
  std::string text;
  std::string message_start;
};

class RefusedFile : public Parameters, public ::testing::WithParamInterface<Refusal> {};

TEST_P(RefusedFile, StopsWithStatusThreeBeforeOverrunningABuffer) {
  const Refusal& c = GetParam();
  const auto r = run_forked([this, &c] { read(c.text); });
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.output.rfind(c.message_start, 0), 0u) << r.output;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedFile,
    ::testing::Values(
        Refusal{"LongName", std::string(600, 'n') + " # name\n",
                "Invalid parameter file: a token longer than 599 characters (starting \"nnnn"},
        Refusal{"LongKeyword", "1 # " + std::string(700, 'k') + "\n",
                "Invalid parameter file: a token longer than 599 characters (starting \"kkkk"},
        Refusal{"LongCommentWord", std::string(650, 'w') + "\n1 # l\n", "Invalid parameter file: a token longer"},
        Refusal{"IntegerOutOfRange", "99999999999 # NUM_TIME\n",
                "Invalid parameter file: NUM_TIME = 99999999999 is outside the range of an integer"}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.label); });

// A line that gives a keyword before its value, as --check prints it or as
// other programs' files read, is dropped word by word: the reader names it
// with the entry meant. Prose that starts with a keyword, a commented-out
// line, a keyword inside a line and a value that is no number stay silent;
// the entries around are read as before.
struct Assignment {
  const char* label;
  const char* text;
  std::vector<std::string> warnings;  // "LINE: TEXT"
};

class AssignmentLine : public ::testing::TestWithParam<Assignment> {};

TEST_P(AssignmentLine, IsNamedWithTheEntryMeant) {
  const Assignment& c = GetParam();
  const std::string text = std::string("0.4 # l\n") + c.text + "\n3 # NUM_TIME\n";
  FILE* in = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
  parameter_values values{};
  refusal_text why{};
  std::vector<std::string> warned;
  ASSERT_TRUE(scan_parameter_entries(in, values, why, [&warned](int line, const char* w) {
    warned.push_back(std::to_string(line) + ": " + w);
  }));
  std::fclose(in);
  EXPECT_EQ(warned, c.warnings);
  EXPECT_EQ(values.l, 0.4);
  EXPECT_EQ(values.num_time, 3);
  EXPECT_EQ(values.mass, 0.0) << "a keyword before its value stays unread";
}

const std::string MEANT = ": a keyword before its value is not read (write the value, a blank, '#' and the keyword: ";

INSTANTIATE_TEST_SUITE_P(
    Reader, AssignmentLine,
    ::testing::Values(
        Assignment{"Spaced", "mass = 1.989e34", {"2: mass = 1.989e34" + MEANT + "1.989e34 # mass)"}},
        Assignment{"Joined", "mass=1.989e34", {"2: mass = 1.989e34" + MEANT + "1.989e34 # mass)"}},
        Assignment{"EqualsOnTheKeyword", "mass= 1.989e34", {"2: mass = 1.989e34" + MEANT + "1.989e34 # mass)"}},
        Assignment{"EqualsOnTheValue", "mass =1.989e34", {"2: mass = 1.989e34" + MEANT + "1.989e34 # mass)"}},
        Assignment{"WithoutEquals", "mass 1.989e34 g", {"2: mass = 1.989e34" + MEANT + "1.989e34 # mass)"}},
        Assignment{"CheckReportLine", "mass = 1.9889999999999999e+34 g",
                   {"2: mass = 1.9889999999999999e+34" + MEANT + "1.9889999999999999e+34 # mass)"}},
        Assignment{"TwoLines", "mass = 1e34\nmdisk = 1e25",
                   {"2: mass = 1e34" + MEANT + "1e34 # mass)", "3: mdisk = 1e25" + MEANT + "1e25 # mdisk)"}},
        Assignment{"Prose", "texp: 30 days, here l = 0.25", {}},
        Assignment{"ProseValueNoNumber", "l = 0.25; five output times", {}},
        Assignment{"KeywordInsideALine", "the mass = 1e34", {}},
        Assignment{"CommentedOut", "% mass = 1e34", {}},
        Assignment{"ValueNoNumber", "mass = heavy", {}},
        Assignment{"ValueOnTheNextLine", "mass =\n1e34 words", {}},
        Assignment{"NoKeyword", "mas = 1e34", {}}),
    [](const ::testing::TestParamInfo<Assignment>& info) { return std::string(info.param.label); });

// A line "commented out" with a leading '#', as other files allow, is an
// entry all the same when the line before ends with one: the reader says so.
// After comment words, or with the '#' glued to the value, it is not read.
struct CommentedOut {
  const char* label;
  const char* text;
  int save;
  std::vector<std::string> warnings;
};

class CommentedOutLine : public ::testing::TestWithParam<CommentedOut> {};

TEST_P(CommentedOutLine, IsNamedWhereItIsRead) {
  const CommentedOut& c = GetParam();
  const std::string text = c.text;
  FILE* in = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
  parameter_values values{};
  refusal_text why{};
  std::vector<std::string> warned;
  ASSERT_TRUE(scan_parameter_entries(in, values, why, [&warned](int line, const char* w) {
    warned.push_back(std::to_string(line) + ": " + w);
  }));
  std::fclose(in);
  EXPECT_EQ(values.save, c.save);
  EXPECT_EQ(values.l, 0.4);
  EXPECT_EQ(warned, c.warnings);
}

const std::string READ_ALTHOUGH =
    "save: read although a '#' starts the line (a parameter file has no comment lines: delete the entry to leave it out)";

INSTANTIATE_TEST_SUITE_P(
    Reader, CommentedOutLine,
    ::testing::Values(
        CommentedOut{"AfterAnEntry", "0.4 # l\n# 1 # save\n", 1, {"2: " + READ_ALTHOUGH}},
        CommentedOut{"FirstLine", "# 1 # save\n0.4 # l\n", 1, {"1: " + READ_ALTHOUGH}},
        CommentedOut{"AfterCommentWords", "0.4 # l  the order\n# 1 # save\n", 0,
                     {"2: 1: not a keyword; the entry is skipped"}},
        CommentedOut{"GluedHash", "0.4 # l\n#1 # save\n", 0,
                     {"2: save: the value '#1' is not a whole number; the entry is skipped"}},
        CommentedOut{"HashInsideALine", "0.4 # l\nnote # 1 # save\n", 0, {"2: 1: not a keyword; the entry is skipped"}},
        CommentedOut{"PlainEntry", "0.4 # l\n1 # save\n", 1, {}}),
    [](const ::testing::TestParamInfo<CommentedOut>& info) { return std::string(info.param.label); });

// A reader's warning quotes the token it skips: a byte-order mark, a
// zero-width space, a no-break space or a control character in it is written
// out, so that '\ufeff1e34' does not read as the number it looks like; plain
// text, other UTF-8 (accents, Greek) and a cut multi-byte sequence pass as
// they are.
TEST(ReaderWarning, ShowsWhatATerminalWouldNot) {
  const struct {
    const char* text;
    const char* shown;
  } cases[] = {
      {"mass: the value '\xEF\xBB\xBF" "1.989e34' is not a number", "mass: the value '\\ufeff1.989e34' is not a number"},
      {"a\xE2\x80\x8B" "b", "a\\u200bb"},
      {"1\xC2\xA0" "e34", "1\\xa0e34"},
      {"x\x01y\x7Fz", "x\\x01y\\x7fz"},
      {"tab\tstays", "tab\tstays"},
      {"r\xC3\xA9sum\xC3\xA9 \xCE\xBB", "r\xC3\xA9sum\xC3\xA9 \xCE\xBB"},
      {"cut \xEF\xBB", "cut \xEF\xBB"},
  };
  for (const auto& c : cases) EXPECT_EQ(visible_text(c.text), c.shown) << c.text;
}

}  // namespace
