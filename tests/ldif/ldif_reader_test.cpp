// The streaming reader: items of texts handed over in pieces of every size,
// values larger than its buffer, values handed out in place, errors.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ldif/ldif.h"

namespace {

using namespace std::string_literals;

// Every item of the text as a line of text: "name=value (form) @line" for an
// attribute line (its pieces joined, each piece but the last marked more),
// "end" for an entry's end, "error @line: message".
std::vector<std::string> items(const std::string &text, size_t piece, size_t room = 64) {
    ldif_reader *r = ldif_reader_create(room);
    std::vector<std::string> out;
    std::string value;
    size_t at = 0;
    std::unique_ptr<char[]> copy;  // each piece in a block of its own size
    for (;;) {
        ldif_item item;
        const int kind = ldif_reader_next(r, &item);
        EXPECT_EQ(kind, item.kind);
        if (kind == LDIF_NEED_INPUT) {
            const size_t n = std::min(piece, text.size() - at);
            copy.reset(new char[n ? n : 1]);
            std::memcpy(copy.get(), text.data() + at, n);
            EXPECT_EQ(ldif_reader_feed(r, copy.get(), n), 0);
            at += n;
            continue;
        }
        if (kind == LDIF_END) break;
        if (kind == LDIF_ENTRY_END) {
            out.push_back("end");
        } else if (kind == LDIF_ERROR) {
            out.push_back("error @" + std::to_string(item.line) + ": " + item.value);
            value.clear();
        } else {
            // Only a value handed out in place may be larger than the buffer.
            const bool in_place = item.value >= copy.get() && item.value < copy.get() + piece;
            EXPECT_TRUE(item.value_len <= room || in_place) << item.value_len;
            value.append(item.value, item.value_len);
            if (item.more) continue;
            const char *forms[] = {"plain", "base64", "url"};
            out.push_back(std::string(item.name, item.name_len) + "=" + value + " (" + forms[item.form] + ") @" +
                          std::to_string(item.line));
            value.clear();
        }
    }
    EXPECT_EQ(ldif_reader_next(r, nullptr), LDIF_END);
    ldif_reader_free(r);
    return out;
}

struct ReaderCase {
    const char *label;
    std::string text;
    std::vector<std::string> want;
};
class Reader : public testing::TestWithParam<ReaderCase> {};

TEST_P(Reader, GivesTheSameItemsWhereverThePiecesEnd) {
    const ReaderCase &c = GetParam();
    for (size_t piece : {size_t{1}, size_t{2}, size_t{3}, size_t{7}, c.text.size() + 1})
        EXPECT_EQ(items(c.text, piece), c.want) << "pieces of " << piece;
}

const std::string kLong(150, 'x');            // more than the buffer of 64
const std::string kLongBase64(200, 'A');      // 150 zero bytes
const std::string kFolded = "jpegPhoto:: " + kLongBase64.substr(0, 60) + "\n " + kLongBase64.substr(60) + "\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, Reader,
    testing::Values(
        ReaderCase{"entries", "version: 1\n\ndn: cn=a\ncn: a\n\n\ndn: cn=b\nsn:  b \n",
                   {"version=1 (plain) @1", "dn=cn=a (plain) @3", "cn=a (plain) @4", "end", "dn=cn=b (plain) @7",
                    "sn=b  (plain) @8", "end"}},
        ReaderCase{"folds_crs_comments", "dn: a\r\n# c\r\n o\r\ncn: a\rb\r\n  c\r\nd\n n:: Zm9v\n  YmFy\r\n\r\n",
                   {"dn=a (plain) @1", "cn=ab c (plain) @4", "dn=foobar (base64) @6", "end"}},
        ReaderCase{"forms", "dn: a\np:< file:///x\nc;Binary: /y\nx;binaryfoo: z\nn:: AAE=\ne::\n-\n: v\n",
                   {"dn=a (plain) @1", "p=file:///x (url) @2", "c;Binary=/y (url) @3", "x;binaryfoo=z (plain) @4",
                    "n=\0\1 (base64) @5"s, "e= (base64) @6", "-= (plain) @7", "=v (plain) @8",
                    "end"}},
        ReaderCase{"nul_bytes", "cn: a\0b\ndn:: AA==\n"s,
                   {"cn=a\0b (plain) @1"s, "dn=\0 (base64) @2"s, "end"}},
        ReaderCase{"large_values", "dn: a\ncn: " + kLong + "\n" + kFolded,
                   {"dn=a (plain) @1", "cn=" + kLong + " (plain) @2",
                    "jpegPhoto=" + std::string(150, '\0') + " (base64) @3", "end"}},
        ReaderCase{"errors_go_on", "dn: a\ncn:: Zm9\nsn:: ==\nx:: \t\nok: 1\n\ndn: b\n",
                   {"dn=a (plain) @1", "error @2: malformed base64 value", "error @3: malformed base64 value",
                    "error @4: malformed base64 value", "ok=1 (plain) @5", "end", "dn=b (plain) @7", "end"}},
        ReaderCase{"long_name", std::string(70, 'n') + ": v\ndn: a\n",
                   {"error @1: attribute description too long", "dn=a (plain) @2", "end"}},
        ReaderCase{"blank_lines_never_continue", "\r\n x: 1\n\n", {" x=1 (plain) @2"}},
        ReaderCase{"no_line_end", "dn: a\ncn: b", {"dn=a (plain) @1", "cn=b (plain) @2", "end"}},
        ReaderCase{"empty", "", {}}),
    [](const testing::TestParamInfo<ReaderCase> &info) { return std::string(info.param.label); });

// A value that lies inside one piece points into it.
TEST(Reader, HandsOutAValueInsideThePieceWhereItLies) {
    const std::string text = "dn: a\ncn: b\r\nsn: c\n";
    ldif_reader *r = ldif_reader_create(0);
    ldif_item item;
    ASSERT_EQ(ldif_reader_next(r, &item), LDIF_NEED_INPUT);
    ASSERT_EQ(ldif_reader_feed(r, text.data(), text.size()), 0);
    EXPECT_EQ(ldif_reader_feed(r, text.data(), text.size()), -1);  // not used up yet
    ASSERT_EQ(ldif_reader_next(r, &item), LDIF_ATTR);
    EXPECT_EQ(item.value, text.data() + 4);
    ASSERT_EQ(ldif_reader_next(r, &item), LDIF_ATTR);  // its CR is taken out: a copy
    EXPECT_EQ(std::string(item.value, item.value_len), "b");
    EXPECT_FALSE(item.value >= text.data() && item.value < text.data() + text.size());
    ASSERT_EQ(ldif_reader_next(r, &item), LDIF_NEED_INPUT);  // sn's line end: is the next byte a fold?
    ASSERT_EQ(ldif_reader_feed(r, nullptr, 0), 0);
    ASSERT_EQ(ldif_reader_next(r, &item), LDIF_ATTR);
    EXPECT_EQ(std::string(item.value, item.value_len), "c");
    EXPECT_EQ(ldif_reader_next(r, &item), LDIF_ENTRY_END);
    EXPECT_EQ(ldif_reader_next(r, &item), LDIF_END);
    EXPECT_EQ(ldif_reader_next(r, &item), LDIF_END);
    EXPECT_EQ(ldif_reader_feed(r, "x", 1), -1);  // the input has ended
    ldif_reader_free(r);
    EXPECT_EQ(ldif_reader_feed(nullptr, "x", 1), -1);
    ldif_reader_free(nullptr);
}

// Whether each item lies inside an entry: from its dn line (not a line of
// the name alone) up to the item before its end.
TEST(Reader, TellsWhetherAnItemLiesInsideAnEntry) {
    const std::string text = "x: 0\ndn\n\nDN:: !\ncn: 1\ndn: b\n\ncn: 2\n";
    ldif_reader *r = ldif_reader_create(0);
    EXPECT_EQ(ldif_reader_in_entry(r), 0);
    ASSERT_EQ(ldif_reader_feed(r, text.data(), text.size()), 0);
    std::string seen;
    ldif_item item;
    for (int kind; (kind = ldif_reader_next(r, &item)) != LDIF_END;) {
        if (kind == LDIF_NEED_INPUT)
            ldif_reader_feed(r, nullptr, 0);
        else
            seen += std::to_string(kind) + (ldif_reader_in_entry(r) ? "+" : "-") + " ";
    }
    EXPECT_EQ(seen, "1- 1- 3+ 1+ 1+ 2- 1- ");
    ldif_reader_free(r);
    EXPECT_EQ(ldif_reader_in_entry(nullptr), 0);
}

}  // namespace
