// End-to-end: kestrin -c through the built binary: a problem per line as
// FILE:LINE: message, the summary, the exit status, standard input, the
// command-line errors and the failures of input and output.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>

#include "support.h"

namespace {

const std::string kBin = KESTRIN_BIN;
const std::string kUsage = "Usage: " + kBin + testutil::kUsageBody;
constexpr auto &quote = testutil::shell_quote;
using testutil::Outcome;

class Check : public testutil::ToolTest {
protected:
    // kestrin with the words (shell words already), standard input from
    // `input` (none: /dev/null).
    Outcome sh(const std::string &words, const std::string *input = nullptr, const std::string &out_to = "") {
        const std::string in = dir + "/.stdin", out = dir + "/.stdout", err = dir + "/.stderr";
        if (input) testutil::write_file(in, *input);
        Outcome r = testutil::run_bash("timeout 20 " + quote(kBin) + " " + words + " <" + (input ? quote(in) : "/dev/null") +
                                           " >" + (out_to.empty() ? quote(out) : out_to) + " 2>" + quote(err),
                                       out, err);
        std::remove(out.c_str());
        return r;
    }
};

void expect_run(const Outcome &r, const std::string &out, const std::string &err, int status) {
    EXPECT_EQ(r.out, out);
    EXPECT_EQ(r.err, err);
    EXPECT_EQ(r.status, status);
}

// One of each fault, each in a record of its own, between sound records.
const std::string kFaults =
    "version: 1\n\n"
    "dn: cn=ok,dc=example\ncn: ok\n\n"
    "dn: cn=a\nchangetype: rename\n\n"
    "dn: cn=a\nchangetype: modify\nreplace: cn\nmail: x\n-\n\n"
    "dn: cn=a\nchangetype: modify\nadd: cn\ncn: x\nreplace: sn\nsn: y\n\n"
    "dn: cn=a\nchangetype: modrdn\nnewrdn: cn=b\ndeleteoldrdn: 2\n\n"
    "dn: cn=a\nchangetype: modrdn\ndeleteoldrdn: 1\n\n"
    "dn: cn=a\ncontrol: 1.2.3 yes\nchangetype: delete\n\n"
    "dn: cn=a\ncn: a\nchangetype: add\n\n"
    "dn: cn=a\nchangetype: delete\ncn: a\n\n"
    "cn: a\nsn: b\n\n"
    "dn: cn=b,dc=example\ncontrol: 1.2.840.113556.1.4.805 true\nchangetype: delete\n\n"
    "dn: cn=c,dc=example\nchangetype: modify\nreplace: sn\nsn: c\n";

const std::string kFaultLines =
    ":7: unknown change type <rename>\n"
    ":12: value of <mail> in a part for <cn>\n"
    ":19: missing '-' before the next modification\n"
    ":25: deleteoldrdn must be 0 or 1\n"
    ":29: modrdn without newrdn\n"
    ":32: malformed control\n"
    ":37: changetype must follow the dn and the controls\n"
    ":41: values in a delete record\n"
    ":43: record without a dn\n";

std::string with_label(const std::string &label, const std::string &lines) {
    std::string out;
    for (size_t at = 0; at < lines.size();) {
        const size_t nl = lines.find('\n', at);
        out += label + lines.substr(at, nl + 1 - at);
        at = nl + 1;
    }
    return out;
}

TEST_F(Check, NamesEachFaultAtItsLine) {
    const std::string path = file("faults.ldif", kFaults);
    expect_run(sh("-c " + quote(path)), with_label(path, kFaultLines) +
               "1 entries, 2 change records (0 add, 1 delete, 1 modify, 0 modrdn), 9 errors\n", "", 1);
    expect_run(sh("--check", &kFaults), with_label("<stdin>", kFaultLines) +
               "1 entries, 2 change records (0 add, 1 delete, 1 modify, 0 modrdn), 9 errors\n", "", 1);
}

TEST_F(Check, CountsSoundRecordsAndEndsWithZero) {
    const std::string text = "dn: cn=a\ncn: a\n\ndn: cn=b\nchangetype: add\ncn: b\n\ndn: cn=c\nchangetype: moddn\n"
                             "newrdn: cn=d\ndeleteoldrdn: 1\n\ndn: cn=e\nchangetype: delete\n";
    expect_run(sh("-c -", &text), "1 entries, 3 change records (1 add, 1 delete, 0 modify, 1 modrdn), 0 errors\n", "", 0);
    const std::string none;
    expect_run(sh("-c", &none), "0 entries, 0 change records (0 add, 0 delete, 0 modify, 0 modrdn), 0 errors\n", "", 0);
}

// A file reference is never followed: a FIFO would keep an open() waiting.
TEST_F(Check, NeverOpensAFileALineNames) {
    const std::string fifo = dir + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string text = "dn: cn=a\njpegPhoto:< file://" + fifo + "\n";
    expect_run(sh("-c", &text), "1 entries, 0 change records (0 add, 0 delete, 0 modify, 0 modrdn), 0 errors\n", "", 0);
}

TEST_F(Check, CommandLineErrors) {
    const std::string path = file("a.ldif", "dn: cn=a\ncn: a\n");
    expect_run(sh("-c -a cn"), "", "Options <-c> and <-a> cannot be combined\n" + kUsage, 2);
    expect_run(sh("--wrap=5 --check"), "", "Options <-c> and <--wrap> cannot be combined\n" + kUsage, 2);
    expect_run(sh("-c -i " + quote(path)), "", "Options <-c> and <-i> cannot be combined\n" + kUsage, 2);
    expect_run(sh(quote(path) + " -c"), "", "Unexpected argument <" + path + ">\n" + kUsage, 2);
    expect_run(sh("-c " + quote(path) + " " + quote(path)), "", "Unexpected argument <" + path + ">\n" + kUsage, 2);
}

TEST_F(Check, InputAndOutputFailures) {
    expect_run(sh("-c -- -x"), "", "Could not read infile<-x>: No such file or directory\n", 1);
    expect_run(sh("-c " + quote(dir)), "", "Could not read infile<" + dir + ">: Is a directory\n", 1);
    const std::string text = "dn: cn=a\ncn: a\n";
    expect_run(sh("-c", &text, "/dev/full"), "", "Failed to write output: No space left on device\n", 1);
}

}  // namespace
