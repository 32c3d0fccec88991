// Records: the record reader's items over texts in pieces of every size,
// each of its refusals, whole records read, written back and read again,
// and the writer's output and refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ldif/ldif.h"
#include "record_text.h"
#include "support.h"

namespace {

using namespace std::string_literals;
using testutil::shown;

// Every item of the text as a line: "BEGIN modify cn=a @7", "VALUE
// cn=x (plain) @8" (pieces joined), "error @2: message", ...
std::vector<std::string> items(const std::string &text, size_t piece, size_t room = 64) {
    static const char *const kKinds[] = {"", "BEGIN", "CONTROL", "VALUE", "MOD", "MOD_END", "NEWRDN",
                                         "DELETEOLDRDN", "NEWSUPERIOR", "END", "error", ""};
    static const char *const kForms[] = {"plain", "base64", "url"};
    static const char *const kChanges[] = {"entry", "add", "delete", "modify", "modrdn"};
    static const char *const kOps[] = {"add", "delete", "replace", "increment"};
    ldif_record_reader *r = ldif_record_reader_create(room);
    std::vector<std::string> out;
    std::string value;
    size_t at = 0;
    std::unique_ptr<char[]> copy;
    for (;;) {
        ldif_record_item it;
        const int kind = ldif_record_reader_next(r, &it);
        EXPECT_EQ(kind, it.kind);
        if (kind == LDIF_REC_NEED_INPUT) {
            const size_t n = std::min(piece, text.size() - at);
            copy.reset(new char[n ? n : 1]);
            std::memcpy(copy.get(), text.data() + at, n);
            EXPECT_EQ(ldif_record_reader_feed(r, copy.get(), n), 0);
            at += n;
            continue;
        }
        if (kind == LDIF_REC_DONE) break;
        std::string line = kKinds[kind];
        const std::string name(it.name ? it.name : "", it.name_len), bytes = shown(it.value, it.value_len);
        switch (kind) {
            case LDIF_REC_BEGIN: line += std::string(" ") + kChanges[it.change] + " " + bytes; break;
            case LDIF_REC_CONTROL:
                line += " " + name + (it.flag ? " true " : " false ") + (it.value ? bytes + " (" + kForms[it.form] + ")" : "-");
                break;
            case LDIF_REC_VALUE:
                value += bytes;
                if (it.more) continue;
                line += " " + name + "=" + value + " (" + kForms[it.form] + ")";
                value.clear();
                break;
            case LDIF_REC_MOD_BEGIN: line += std::string(" ") + kOps[it.op] + " " + name; break;
            case LDIF_REC_DELETEOLDRDN: line += " " + std::to_string(it.flag); break;
            case LDIF_REC_ERROR: line += " @" + std::to_string(it.line) + ": " + it.value; out.push_back(line); continue;
            case LDIF_REC_NEWRDN:
            case LDIF_REC_NEWSUPERIOR: line += " " + bytes; break;
            default: break;
        }
        out.push_back(line + " @" + std::to_string(it.line));
    }
    EXPECT_EQ(ldif_record_reader_next(r, nullptr), LDIF_REC_DONE);
    ldif_record_reader_free(r);
    return out;
}

struct ReaderCase {
    const char *label;
    std::string text;
    std::vector<std::string> want;
    size_t room = 64;
};
class Records : public testing::TestWithParam<ReaderCase> {};

TEST_P(Records, GiveTheSameItemsWhereverThePiecesEnd) {
    const ReaderCase &c = GetParam();
    for (size_t piece : {size_t{1}, size_t{2}, size_t{3}, size_t{7}, c.text.size() + 1})
        EXPECT_EQ(items(c.text, piece, c.room), c.want) << "pieces of " << piece;
}

const std::string kLong(150, 'x');  // more than the buffer of 64
const std::string kLonger(300, 'y');  // more than the buffer of 128

INSTANTIATE_TEST_SUITE_P(
    Cases, Records,
    testing::Values(
        ReaderCase{"entries_and_changes_mixed",
                   "version: 1\ndn: cn=a\ncn: a\nmail:: Zm9v\n\r\n# c\nDN: cn=b\nControl: 1.2.3 TRUE:: Zm9v\r\n"
                   "control: 1.5\ncontrol: 1.6  false: x\ncontrol: 1.7:< file:///c\nchangetype: Modify\nADD: mail\n"
                   "mail: x\n-\nreplace: sn\nsn: y\nSN: z\n-\nincrement: uidNumber\nuidNumber: 1\ndelete: description\n"
                   "\ndn: cn=c\nchangetype: moddn\nnewrdn:: Y249ZA==\ndeleteoldrdn: 1\nnewsuperior: ou=x\n\n"
                   "dn: cn=e\nchangetype: delete\n\ndn: cn=f\nchangetype: add\ncn: " + kLonger + "\nphoto:< file:///p\n",
                   {"BEGIN entry cn=a @2", "VALUE cn=a (plain) @3", "VALUE mail=foo (base64) @4", "END @2",
                    "BEGIN modify cn=b @7", "CONTROL 1.2.3 true foo (base64) @8", "CONTROL 1.5 false - @9",
                    "CONTROL 1.6 false x (plain) @10", "CONTROL 1.7 false file:///c (url) @11", "MOD add mail @13",
                    "VALUE mail=x (plain) @14", "MOD_END @15", "MOD replace sn @16", "VALUE sn=y (plain) @17",
                    "VALUE SN=z (plain) @18", "MOD_END @19", "MOD increment uidNumber @20",
                    "VALUE uidNumber=1 (plain) @21", "error @22: missing '-' before the next modification",
                    "BEGIN modrdn cn=c @24", "NEWRDN cn=d @26", "DELETEOLDRDN 1 @27", "NEWSUPERIOR ou=x @28", "END @24",
                    "BEGIN delete cn=e @30", "END @30", "BEGIN add cn=f @33", "VALUE cn=" + kLonger + " (plain) @35",
                    "VALUE photo=file:///p (url) @36", "END @33"},
                   128},
        ReaderCase{"last_separator_left_out", "dn: a\nchangetype: modify\ndelete: cn\n\ndn: b\nchangetype: modify\n",
                   {"BEGIN modify a @1", "MOD delete cn @3", "MOD_END @3", "END @1", "BEGIN modify b @5", "END @5"}},
        ReaderCase{"modrdn_without_newsuperior", "dn: a\nchangetype: modrdn\nnewrdn: b\ndeleteoldrdn: 0\n",
                   {"BEGIN modrdn a @1", "NEWRDN b @3", "DELETEOLDRDN 0 @4", "END @1"}},
        ReaderCase{"folded_structure", "dn: cn=fol\n ded\nchange\n type: de\n lete\n",
                   {"BEGIN delete cn=folded @1", "END @1"}},
        ReaderCase{"empty", "", {}}),
    [](const testing::TestParamInfo<ReaderCase> &info) { return std::string(info.param.label); });

// Every refusal once: the record is given up, and the next one read.
struct Refusal {
    std::string text;   // the record (a good one follows it)
    std::string error;  // "@line: message"
};
class RecordRefusals : public testing::TestWithParam<Refusal> {};

TEST_P(RecordRefusals, NameTheLineAndGoOn) {
    const std::string text = GetParam().text + "\ndn: ok\ncn: ok\n";
    std::vector<std::string> got = items(text, 5);
    ASSERT_FALSE(got.empty());
    ASSERT_EQ(got.back(), "END @" + std::to_string(std::count(GetParam().text.begin(), GetParam().text.end(), '\n') + 2));
    std::string error;
    for (const auto &line : got)
        if (line.starts_with("error ")) error += line.substr(6);
    EXPECT_EQ(error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, RecordRefusals,
    testing::Values(
        Refusal{"cn: x\nsn: y\n", "@1: record without a dn"},
        Refusal{"version: 2\n", "@1: unsupported version <2>"},
        Refusal{"dn:< file:///x\ncn: x\n", "@1: <dn> cannot be a file reference"},
        Refusal{"dn: " + kLong + "\ncn: x\n", "@1: <dn> too long"},
        Refusal{"dn: a\ncontrol: 1.2 maybe\nchangetype: delete\n", "@2: malformed control"},
        Refusal{"dn: a\ncontrol: 1.2.3: " + std::string(15, 'v') + "\ncontrol: 1.2.3: " + std::string(15, 'w') +
                    "\nchangetype: delete\n", "@3: controls too long"},
        Refusal{"dn: a\ncontrol: 1.2\ncn: x\n", "@3: controls without a changetype"},
        Refusal{"dn: a\nchangetype: rename\xff\n", "@2: unknown change type <rename\\xFF>"},
        Refusal{"dn: a\ncn: x\nchangetype: add\n", "@3: changetype must follow the dn and the controls"},
        Refusal{"dn: a\nchangetype: delete\ncontrol: 1.2\n", "@3: control must follow the dn"},
        Refusal{"dn: a\ncn: x\ndn: b\n", "@3: second dn in the record"},
        Refusal{"dn: a\nchangetype: add\n-\n", "@3: line without a colon"},
        Refusal{"dn: a\ncn_x: y\n", "@2: invalid attribute description <cn_x>"},
        Refusal{"dn: a\nchangetype: modify\nadd: cn;\n", "@3: invalid attribute description <cn;>"},
        Refusal{"dn: a\n", "@1: record without attributes"},
        Refusal{"dn: a\nchangetype: delete\ncn: x\n", "@3: values in a delete record"},
        Refusal{"dn: a\nchangetype: modify\ncn: x\n", "@3: expected add:, delete:, replace: or increment:"},
        Refusal{"dn: a\nchangetype: modify\nadd: cn\nmail: x\n", "@4: value of <mail> in a part for <cn>"},
        Refusal{"dn: a\nchangetype: modify\nincrement: n\n-\n", "@4: increment takes exactly one value"},
        Refusal{"dn: a\nchangetype: modrdn\n", "@2: modrdn without newrdn"},
        Refusal{"dn: a\nchangetype: modrdn\nnewrdn: b\n", "@3: modrdn without deleteoldrdn"},
        Refusal{"dn: a\nchangetype: modrdn\nnewrdn: b\ndeleteoldrdn: 2\n", "@4: deleteoldrdn must be 0 or 1"},
        Refusal{"dn: a\nchangetype: modrdn\nnewrdn: b\ndeleteoldrdn: 1\ncn: x\n",
                "@5: unexpected <cn> in a modrdn record"},
        Refusal{"dn: a\ncn:: Zm9\n", "@2: malformed base64 value"},
        Refusal{"dn: a\n" + kLong + ": x\n", "@2: attribute description too long"}));

// A file of every shape the reader knows: read whole, written back in each
// mode at several widths, read again: the same records.
const std::string kShapes =
    "version: 1\n\n"
    "dn: cn=J\xc3\xbcrgen,dc=example\nobjectClass: person\ncn:: SsO8cmdlbg==\nsn: Doe\ndescription: a long description "
    "that goes well past one line of seventy-seven characters,\n  folded\njpegPhoto:: AP8KDQ==\n"
    "userCertificate;binary:: MIIB\nseeAlso:< file:///etc/hostname\ndescription;lang-de: Gr\xc3\xbc\xc3\x9f" "e \n\r\n"
    "dn: cn=x,dc=example\r\ncontrol: 1.3.6.1.1.12 true:: hwtvYmplY3RDbGFzcw==\r\ncontrol: 2.16.840.1.113730.3.4.2\r\n"
    "changetype: modify\r\nadd: mail\r\nmail: x@example.org\r\nmail: y@example.org\r\n-\r\nreplace: sn\r\n-\r\n"
    "delete: description\r\ndescription: a\r\n-\r\nincrement: uidNumber\r\nuidNumber: 5\r\n\r\n"
    "dn:: Y249eSzDpA==\ncontrol: 1.2.840.113556.1.4.805 false: v\nchangetype: delete\n\n"
    "dn: cn=z,dc=example\nchangetype: moddn\nnewrdn: cn=w\ndeleteoldrdn: 0\nnewsuperior: ou=o,dc=example\n\n"
    "dn: cn=v,dc=example\nchangetype: modrdn\nnewrdn: cn=u\ndeleteoldrdn: 1\n\n"
    "dn: cn=t,dc=example\nchangetype: add\nobjectClass: person\ncn: t\nsn:: IGxlYWRpbmcgc3BhY2U=\n";

std::vector<std::string> whole_records(const std::string &text) {
    std::vector<std::string> out;
    testutil::read_records(
        text, [&](const ldif_record &r) { out.push_back(testutil::record_text(r)); },
        [&](const ldif_record_item &e) { out.push_back("error @" + std::to_string(e.line) + ": " + e.value); });
    return out;
}

std::string written_back(const std::string &text, int mode, int width) {
    char *out = nullptr;
    int count = 0;
    testutil::read_records(
        text,
        [&](const ldif_record &r) {
            if (count > 0) out = ldif_write_attr(out, &count, "", nullptr, 0, 0);  // the blank line between
            out = ldif_write_record(out, &count, &r, mode, width);
            EXPECT_NE(out, nullptr);
        },
        [](const ldif_record_item &e) { ADD_FAILURE() << e.value; });
    return testutil::take(out);
}

TEST(WholeRecords, ReadWrittenBackAndReadAgainAreTheSame) {
    const std::vector<std::string> first = whole_records(kShapes);
    ASSERT_EQ(first.size(), 6u);
    for (const auto &s : first) EXPECT_EQ(s.find("error"), std::string::npos) << s;
    for (int mode : {LDIF_ENC_AUTO, LDIF_ENC_BASE64, LDIF_ENC_AUTO8, LDIF_ENC_UTF8})
        for (int width : {0, 2, 10, 77}) EXPECT_EQ(whole_records(written_back(kShapes, mode, width)), first) << mode << " " << width;
}

TEST(WholeRecords, AreWrittenLineByLine) {
    EXPECT_EQ(written_back(kShapes.substr(kShapes.find("dn:: ")), LDIF_ENC_UTF8, 40),
              "dn: cn=y,\xc3\xa4\ncontrol: 1.2.840.113556.1.4.805 false: v\nchangetype: delete\n\n"
              "dn: cn=z,dc=example\nchangetype: modrdn\nnewrdn: cn=w\ndeleteoldrdn: 0\nnewsuperior: ou=o,dc=example\n\n"
              "dn: cn=v,dc=example\nchangetype: modrdn\nnewrdn: cn=u\ndeleteoldrdn: 1\n\n"
              "dn: cn=t,dc=example\nchangetype: add\nobjectClass: person\ncn: t\nsn:: IGxlYWRpbmcgc3BhY2U=\n");
    const size_t x = kShapes.find("dn: cn=x"), end = kShapes.find("dn:: ");
    EXPECT_EQ(written_back(kShapes.substr(x, end - x), LDIF_ENC_AUTO, 45),
              "dn: cn=x,dc=example\ncontrol: 1.3.6.1.1.12 true:: hwtvYmplY3RDbGFz\n cw==\n"
              "control: 2.16.840.1.113730.3.4.2 false\nchangetype: modify\nadd: mail\nmail: x@example.org\n"
              "mail: y@example.org\n-\nreplace: sn\n-\ndelete: description\ndescription: a\n-\nincrement: uidNumber\n"
              "uidNumber: 5\n-\n");
}

// The writer refuses a record the reader would refuse, the caller's buffer
// left as it was.
TEST(WholeRecords, WriterRefusesWhatTheReaderWould) {
    char dn[] = "cn=a", cn[] = "cn", bad[] = "c n", oid[] = "1.2", bad_oid[] = "1..2", rdn[] = "cn=b", v[] = "x";
    char url[] = "file:///a\nb", ctl[] = "changetype";
    ldif_attr attr{cn, {v, 1, LDIF_FORM_PLAIN}};
    ldif_control control{oid, 0, {nullptr, 0, 0}};
    ldif_mod inc{LDIF_MOD_INCREMENT, cn, nullptr, 0};
    const auto entry = [&] {
        ldif_record r{};
        r.dn = dn;
        r.dn_len = 4;
        r.attrs = &attr;
        r.attr_count = 1;
        return r;
    };
    std::vector<ldif_record> refused(13, entry());
    refused[0].change = 5;
    refused[1].attr_count = 0;
    refused[2].controls = &control;
    refused[2].control_count = 1;
    refused[3].change = LDIF_CHANGE_DELETE;
    refused[4].change = LDIF_CHANGE_MODRDN;
    refused[4].attr_count = 0;
    refused[5].newrdn = rdn;
    refused[6].mods = &inc;
    refused[6].mod_count = 1;
    refused[7].change = LDIF_CHANGE_MODIFY;
    refused[7].attr_count = 0;
    refused[7].mods = &inc;
    refused[7].mod_count = 1;
    ldif_attr bad_name{bad, {v, 1, 0}}, structural{ctl, {v, 1, 0}}, bad_url{cn, {url, 11, LDIF_FORM_URL}};
    refused[8].attrs = &bad_name;
    refused[9].attrs = &structural;
    refused[10].attrs = &bad_url;
    ldif_control bad_control{bad_oid, 0, {nullptr, 0, 0}};
    refused[11].change = LDIF_CHANGE_DELETE;
    refused[11].attr_count = 0;
    refused[11].controls = &bad_control;
    refused[11].control_count = 1;
    ldif_mod bad_op{7, cn, nullptr, 0};
    refused[12] = refused[7];
    refused[12].mods = &bad_op;
    char *buffer = static_cast<char *>(std::malloc(3));
    std::memcpy(buffer, "ab", 3);
    for (size_t i = 0; i < refused.size(); ++i) {
        int count = 2;
        errno = 0;
        EXPECT_EQ(ldif_write_record(buffer, &count, &refused[i], 0, 0), nullptr) << i;
        EXPECT_EQ(errno, EINVAL) << i;
        EXPECT_EQ(count, 2);
        EXPECT_STREQ(buffer, "ab");
    }
    const ldif_record good = entry();
    int count = 0;
    for (const auto &[mode, width] : {std::pair{int{LDIF_ENC_URL}, 0}, std::pair{0, 1}, std::pair{0, -1}})
        EXPECT_EQ(ldif_write_record(nullptr, &count, &good, mode, width), nullptr);
    EXPECT_EQ(ldif_write_record(nullptr, &count, nullptr, 0, 0), nullptr);
    EXPECT_EQ(ldif_write_record(nullptr, nullptr, &good, 0, 0), nullptr);
    count = 2;
    buffer = ldif_write_record(buffer, &count, &good, 0, 0);
    EXPECT_EQ(testutil::take(buffer), "abdn: cn=a\ncn: x\n");
}

TEST(WholeRecords, NullArgumentsAreRefused) {
    ldif_record *rec = nullptr;
    EXPECT_EQ(ldif_record_reader_read(nullptr, &rec, nullptr), LDIF_REC_DONE);
    ldif_record_reader *r = ldif_record_reader_create(0);
    EXPECT_EQ(ldif_record_reader_read(r, nullptr, nullptr), LDIF_REC_DONE);
    EXPECT_EQ(ldif_record_reader_feed(r, nullptr, 1), -1);
    EXPECT_EQ(ldif_record_reader_feed(nullptr, "x", 1), -1);
    EXPECT_EQ(ldif_record_reader_next(nullptr, nullptr), LDIF_REC_DONE);
    ldif_record_reader_free(r);
    ldif_record_reader_free(nullptr);
    ldif_record_free(nullptr);
}

}  // namespace
