// The way back for every value: --dn picks the entry, --all writes every
// value, --split writes each into a file of its own, and the word on
// standard error when values are passed over. End to end through the built
// binary, the dn comparison and the long dn lines in-process.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode.h"
#include "dn.h"
#include "input.h"
#include "split.h"
#include "support.h"

namespace {

const std::string kBin = KESTRIN_BIN;
const std::string kUsage = "Usage: " + kBin + testutil::kUsageBody;

constexpr auto &slurp = testutil::read_file;
constexpr auto &spit = testutil::write_file;
constexpr auto &quote = testutil::shell_quote;
using testutil::Outcome;

class DecodeAll : public testutil::ToolTest {
protected:
    Outcome sh(const std::string &line, const std::string *input = nullptr) { return sh_with(kBin, line, input); }
    // The directory's names, the hidden one of a run included.
    std::string listing() { return sh("cd " + quote(dir) + " && ls -A | grep -v '^\\.std' | tr '\\n' ' '").out; }
};

void expect_run(const Outcome &r, const std::string &out, const std::string &err, int status) {
    EXPECT_EQ(r.out, out);
    EXPECT_EQ(r.err, err);
    EXPECT_EQ(r.status, status);
}

// ---- dn equality ----------------------------------------------------------------

struct DnCase {
    std::string a, b;
    bool same;
};
std::ostream &operator<<(std::ostream &os, const DnCase &c) { return os << '<' << c.a << "> <" << c.b << '>'; }
class DnEquality : public testing::TestWithParam<DnCase> {};

// Whole, and with the second dn arriving a byte at a time.
TEST_P(DnEquality, IgnoresCaseAndTheSpacesAroundSeparators) {
    const DnCase &c = GetParam();
    EXPECT_EQ(kestrin::tool::same_dn(c.a, c.b), c.same);
    EXPECT_EQ(kestrin::tool::same_dn(c.b, c.a), c.same);
    kestrin::tool::DnMatch match(c.a);
    for (char ch : c.b) match.feed({&ch, 1});
    EXPECT_EQ(match.matched(), c.same);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DnEquality,
    testing::Values(DnCase{"CN=Jane Doe, ou=People,dc=example", "cn=Jane Doe,ou=people,dc=example", true},
                    DnCase{"cn = a ,  ou= b", "cn=a,ou=b", true}, DnCase{"cn=a + sn=b", "CN=A+SN=B", true},
                    DnCase{"cn=Jane Doe", "cn=JaneDoe", false}, DnCase{"cn=Jane  Doe", "cn=Jane Doe", false},
                    DnCase{" cn=a", "cn=a", false}, DnCase{"cn=a ", "cn=a", false},
                    DnCase{"cn=Doe\\, Jane", "cn=doe\\,jane", false}, DnCase{"cn=a\\ ,o=b", "cn=a\\,o=b", false},
                    DnCase{"cn=a", "cn=ab", false}, DnCase{"cn=ab", "cn=a", false},
                    DnCase{"cn=\xc3\x84", "cn=\xc3\xa4", false}, DnCase{"", "", true}, DnCase{"", " ", false}));

// ---- which values, and how they end ---------------------------------------------------

const std::string kPeople =
    "cn: outside\n"
    "\n"
    "dn: cn=Jane Doe,ou=people,dc=example\n"
    "cn: Jane Doe\n"
    "mail: jane@example.org\n"
    "mail:: amRAZXhhbXBsZS5vcmc=\n"
    "\n"
    "dn:: Y249Sm9obixvdT1wZW9wbGUsZGM9ZXhhbXBsZQ==\n"  // cn=John,ou=people,dc=example
    "mail: john@example.org\n"
    "member: a\nmember:: Yg==\n"
    "\n"
    "dn\n"          // the name alone begins no entry
    "\n"
    "mail: after\n"  // outside
    "dn: cn=Jane Doe,ou=people,dc=example\n"  // the same dn again
    "mail: second@example.org\n";

struct RunCase {
    const char *what;
    std::string args, text;
    std::string out, err;
    int status = 0;
};
std::ostream &operator<<(std::ostream &os, const RunCase &r) { return os << r.what; }
class Selections : public DecodeAll, public testing::WithParamInterface<RunCase> {};

TEST_P(Selections, WriteTheValuesOrTheMessage) {
    const RunCase &r = GetParam();
    expect_run(sh("$K -d " + r.args, &r.text), r.out, r.err, r.status);
}

const std::string kJane = "--dn 'CN=Jane Doe, ou=People,dc=example'";

INSTANTIATE_TEST_SUITE_P(
    Runs, Selections,
    testing::Values(
        RunCase{"every value in input order", "-a mail --all", kPeople,
            "jane@example.org\njd@example.org\njohn@example.org\nafter\nsecond@example.org\n", ""},
        RunCase{"a NUL after each", "-a member --all -0", kPeople, std::string("a\0b\0", 4), ""},
        RunCase{"the empty value", "-a cn --all", "cn:\ncn: x\n", "\nx\n", ""},
        RunCase{"the entries of a dn", "-a mail --all " + kJane, kPeople,
            "jane@example.org\njd@example.org\nsecond@example.org\n", ""},
        RunCase{"a base64 dn", "-a member --all --dn cn=john,ou=people,dc=example", kPeople, "a\nb\n", ""},
        RunCase{"the dn line itself", "-a dn " + kJane, kPeople, "cn=Jane Doe,ou=people,dc=example",
            "kestrin: 1 more values of <dn> in the input (see --all)\n"},
        RunCase{"the word counts within the entry", "-a mail --dn cn=John,ou=people,dc=example", kPeople,
            "john@example.org", ""},
        RunCase{"the word counts every entry", "-a mail", kPeople, "jane@example.org",
            "kestrin: 4 more values of <mail> in the input (see --all)\n"},
        RunCase{"no entry of that dn", "-a cn --dn 'cn=Nobody, dc=x'", kPeople, "", "No entry <cn=Nobody, dc=x> in the input\n",
            1},
        RunCase{"lines outside entries are no entry's", "-a cn --dn ''", "cn: x\ndn\n\ncn: y\n", "",
            "No entry <> in the input\n", 1},
        RunCase{"the entry without the attribute", "-a sn " + kJane, kPeople, "", "No value of <sn> in the input\n", 1},
        RunCase{"no value at all", "-a sn --all", kPeople, "", "No value of <sn> in the input\n", 1},
        RunCase{"a value holding the line feed", "-a cn --all", "cn: a\ncn:: Ygo=\ncn:: !\n", "",
            "Value 2 of <cn> holds the separator: use --split\n", 1},
        RunCase{"a value holding the NUL", "-a cn --all --null", "cn:: Ygo=\nsn: x\ncn:: YQBi\n", "",
            "Value 2 of <cn> holds the separator: use --split\n", 1},
        RunCase{"counted among those written", "-a cn --all --dn cn=b", "dn: cn=a\ncn:: Cg==\n\ndn: cn=b\ncn:: Cg==\n",
            "", "Value 1 of <cn> holds the separator: use --split\n", 1},
        RunCase{"a later value malformed", "-a cn --all", "cn: a\ncn:: !\ncn:< file:///x\n", "",
            "Failed to base64-decode value of <cn>\n", 1},
        RunCase{"a later value a file reference", "-a cn --split p", "cn: a\ncn:< file:///etc/passwd\ncn:: !\n", "",
            "Value of <cn> is a file reference: file:///etc/passwd\n", 1},
        RunCase{"only the entry's values are checked", "-a cn --all --dn cn=b", "dn: cn=a\ncn:: !\n\ndn: cn=b\ncn: x\n",
            "x\n", ""}));

// ---- command lines that make no sense ----------------------------------------------------------

struct BadLine {
    std::string args, message;
};
std::ostream &operator<<(std::ostream &os, const BadLine &b) { return os << b.args; }
class Combinations : public DecodeAll, public testing::WithParamInterface<BadLine> {};

TEST_P(Combinations, AreCommandLineErrors) {
    expect_run(sh("cd " + quote(dir) + " && $K -a cn -s 'cn: x' " + GetParam().args), "", GetParam().message + kUsage,
               2);
    EXPECT_EQ(listing(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Table, Combinations,
    testing::Values(BadLine{"--dn cn=x", "Option <--dn> needs <-d>\n"},
                    BadLine{"--all -0", "Option <--all> needs <-d>\n"},
                    BadLine{"--split-suffix .x --split p", "Option <--split-suffix> needs <-d>\n"},
                    BadLine{"--split=p --dn x", "Option <--split> needs <-d>\n"},
                    BadLine{"-0", "Option <-0> needs <--all>\n"},
                    BadLine{"-d --null --split p", "Option <--null> needs <--all>\n"},
                    BadLine{"-d0", "Option <-0> needs <--all>\n"},
                    BadLine{"-d --split-suffix .x", "Option <--split-suffix> needs <--split>\n"},
                    BadLine{"-d --split p --all", "Options <--split> and <--all> cannot be combined\n"},
                    BadLine{"-d --all --split p", "Options <--all> and <--split> cannot be combined\n"},
                    BadLine{"-d -o f --split p", "Options <-o> and <--split> cannot be combined\n"},
                    BadLine{"-d --split p --out=-", "Options <--split> and <--out> cannot be combined\n"}));

// ---- --split -----------------------------------------------------------------------------------

const std::string kThree = "dn: cn=x\nphoto:: AP8=\nphoto:\nphoto: text\n";

TEST_F(DecodeAll, SplitWritesEachValueIntoAFileAndListsTheNames) {
    spit(dir + "/p2.jpg", "old");
    chmod((dir + "/p2.jpg").c_str(), 0640);
    expect_run(sh("umask 027; $K -d -a photo --split " + quote(dir + "/p") + " --split-suffix .jpg", &kThree),
               dir + "/p1.jpg\n" + dir + "/p2.jpg\n" + dir + "/p3.jpg\n", "", 0);
    EXPECT_EQ(slurp(dir + "/p1.jpg"), std::string("\0\xff", 2));
    EXPECT_EQ(slurp(dir + "/p2.jpg"), "");
    EXPECT_EQ(slurp(dir + "/p3.jpg"), "text");
    struct stat st {};
    ASSERT_EQ(stat((dir + "/p1.jpg").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);  // 0666 less the umask
    ASSERT_EQ(stat((dir + "/p2.jpg").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);  // as it was
    EXPECT_EQ(listing(), "p1.jpg p2.jpg p3.jpg ");
    // A prefix without a directory: the current one.
    expect_run(sh("cd " + quote(dir) + " && $K -d -a photo --split=v", &kThree), "v1\nv2\nv3\n", "", 0);
    EXPECT_EQ(slurp(dir + "/v3"), "text");
}

// Every failure leaves no file of the run, the old files as they were, and
// standard output empty.
TEST_F(DecodeAll, SplitFailuresLeaveNothingOfTheRun) {
    const std::string p = dir + "/p";
    expect_run(sh("$K -d -a photo --split " + quote(dir + "/none/p"), &kThree), "",
               "Could no open outfile<" + dir + "/none/p1>\n", 1);
    spit(p + "1", "old one");
    ASSERT_EQ(mkdir((p + "3").c_str(), 0755), 0);
    expect_run(sh("$K -d -a photo --split " + quote(p), &kThree), "", "Could no open outfile<" + p + "3>\n", 1);
    EXPECT_EQ(listing(), "p1 p3 ");
    rmdir((p + "3").c_str());
    // Every name taken, then given back: the names could not be written.
    expect_run(sh("$K -d -a photo --split " + quote(p) + " > /dev/full", &kThree), "",
               "Failed to write output: No space left on device\n", 1);
    EXPECT_EQ(slurp(p + "1"), "old one");
    EXPECT_EQ(listing(), "p1 ");
    if (geteuid() != 0) {  // root writes everything
        chmod((p + "1").c_str(), 0444);
        expect_run(sh("$K -d -a photo --split " + quote(p), &kThree), "", "Could no open outfile<" + p + "1>\n", 1);
        EXPECT_EQ(listing(), "p1 ");
    }
}

// A file that changes between the two passes: no file is left.
TEST_F(DecodeAll, SplitOfAnInputThatChangesBetweenThePasses) {
    const std::string path = dir + "/in.ldif", p = dir + "/p";
    spit(path, kThree);
    kestrin::tool::Input input;
    ASSERT_EQ(input.take_file(path.c_str()), 0);
    kestrin::tool::LdifValue ldif;
    kestrin::tool::Selection s{"photo", std::nullopt, kestrin::tool::Selection::Values::kSplit};
    ASSERT_EQ(ldif.prepare(input, s), 0);
    spit(path, kThree + "photo: more\n");
    {
        kestrin::tool::SplitFiles files(p, "");
        errno = 0;
        EXPECT_EQ(ldif.write_files(input, files), kestrin::tool::LdifValue::kReadFailed);
        EXPECT_EQ(errno, EIO);
    }
    EXPECT_EQ(listing(), "in.ldif ");
}

// ---- dn lines longer than a piece of the reader ----------------------------------------------

TEST(DecodeAllReader, ADnLineLongerThanAPiece) {
    const std::string spaces(600000, ' ');
    const std::string text = "dn: cn=a" + spaces + ",dc=b\ncn: 1\n\ndn: cn=a" + spaces + "x,dc=b\ncn: 2\n";
    kestrin::tool::Selection s{"cn", "cn=a,dc=b", kestrin::tool::Selection::Values::kAll};
    for (size_t piece : {size_t{4096}, text.size()}) {
        EXPECT_EQ(kestrin::tool::decode_ldif_text(text, s, piece).values, std::vector<std::string>{"1"});
        s.attr = "DN";
        const auto dn = kestrin::tool::decode_ldif_text(text, s, piece);
        EXPECT_EQ(dn.values, std::vector<std::string>{"cn=a" + spaces + ",dc=b"});
        EXPECT_TRUE(dn.second_pass_same);
        s.attr = "cn";
    }
}

}  // namespace
