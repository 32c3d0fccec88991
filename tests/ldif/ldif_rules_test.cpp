// The reading rules: the same logical line gives the same description, value
// and form in every reader of the library.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <utility>
#include <string>

#include "codec/base64.h"
#include "decode.h"
#include "ldif/ldif.h"
#include "support.h"

namespace {

enum class Form { kPlain, kBase64, kUrl };

struct RuleCase {
    const char *label;
    std::string text;  // one entry
    std::string attr;
    std::string value;  // for kUrl: the URL
    Form form;
};

class ReadingRules : public testing::TestWithParam<RuleCase> {
protected:
    void SetUp() override { refs_ = ldif_set_file_references(0); }
    void TearDown() override { ldif_set_file_references(refs_); }
    int refs_ = 1;
};

// The pair a record holds for the line: the name (with ";binary" for bytes)
// and the value text; none for a file reference (references are off).
std::optional<std::pair<std::string, std::string>> want_pair(const RuleCase &c) {
    if (c.form == Form::kUrl) return std::nullopt;
    if (c.form == Form::kBase64) return std::pair(c.attr + ";binary", testutil::base64_text(c.value));
    return std::pair(c.attr, c.value);
}

std::optional<std::pair<std::string, std::string>> find_pair(ekva_pair **record, const RuleCase &c) {
    for (ekva_pair **p = record + 1; record && *p; ++p)
        if (std::string((*p)->key).rfind(c.attr, 0) == 0 && std::string((*p)->key) != "dn")
            return std::pair(std::string((*p)->key), std::string((*p)->value));
    return std::nullopt;
}

TEST_P(ReadingRules, EveryLibraryReaderReadsTheLineAlike) {
    const RuleCase &c = GetParam();
    // ldif_entry_get_attr hands over the parser's bytes.
    char *value = nullptr;
    const int len = ldif_entry_get_attr(c.text.c_str(), 0, c.attr.c_str(), &value, 1);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(std::string(value, static_cast<size_t>(len)), c.form == Form::kUrl ? "" : c.value);
    std::free(value);

    const testutil::Record record(ldif2ekva(c.text.c_str(), 0));
    EXPECT_EQ(find_pair(record.r, c), want_pair(c));

    testutil::Set set;
    ASSERT_EQ(ldif2ekva_set(&set.s, c.text.c_str(), nullptr), 1);
    EXPECT_EQ(find_pair(set.s[0], c), want_pair(c));

    // The streaming reader, fed a byte at a time, gives the URL itself.
    ldif_reader *r = ldif_reader_create(0);
    ldif_item item;
    size_t at = 0;
    int kind;
    std::string read;
    while ((kind = ldif_reader_next(r, &item)) != LDIF_END) {
        if (kind == LDIF_NEED_INPUT) {
            ldif_reader_feed(r, c.text.data() + at, at < c.text.size() ? 1 : 0);
            ++at;
        } else if (kind == LDIF_ATTR && std::string(item.name, item.name_len) == c.attr) {
            read.append(item.value, item.value_len);
            if (!item.more) break;
        }
    }
    ldif_reader_free(r);
    EXPECT_EQ(item.form, static_cast<int>(c.form));
    EXPECT_EQ(read, c.value);

    // kestrin -d refuses a file reference and names its URL.
    using Kind = kestrin::tool::DecodedText::Kind;
    const auto got = kestrin::tool::decode_ldif_text(c.text, c.attr, 3);
    EXPECT_EQ(got.kind, c.form == Form::kUrl ? Kind::kFileReference : Kind::kValue);
    EXPECT_EQ(got.bytes, c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ReadingRules,
    testing::Values(
        RuleCase{"cr_inside_a_value", "dn: a\ncn: a\rb\n", "cn", "ab", Form::kPlain},
        RuleCase{"cr_before_the_name", "dn: a\n\rcn: x\n", "cn", "x", Form::kPlain},
        RuleCase{"cr_before_the_dn", "\rdn: a\ncn: x\n", "cn", "x", Form::kPlain},
        RuleCase{"cr_in_the_fill", "dn: a\ncn: \r x\r\n", "cn", "x", Form::kPlain},
        RuleCase{"space_in_base64", "dn: a\ncn:: Zm9v YmFy\n", "cn", "foobar", Form::kBase64},
        RuleCase{"fold_in_base64", "dn: a\ncn:: Zm9v\n  YmFy\n", "cn", "foobar", Form::kBase64},
        RuleCase{"fold_in_the_name", "dn: a\nc\n n: x\n", "cn", "x", Form::kPlain},
        RuleCase{"binaryfoo_is_plain", "dn: a\nx;binaryfoo: /etc/hostname\n", "x;binaryfoo", "/etc/hostname",
                 Form::kPlain},
        RuleCase{"binary_in_any_case", "dn: a\ncn;BINARY: /kestrin/none\nsn: s\n", "cn;BINARY", "/kestrin/none",
                 Form::kUrl},
        RuleCase{"binary_among_options", "dn: a\nc;Binary;lang-de: /kestrin/none\n", "c;Binary;lang-de",
                 "/kestrin/none", Form::kUrl},
        RuleCase{"url_form", "dn: a\nphoto:< file:///kestrin/none\n", "photo", "file:///kestrin/none",
                 Form::kUrl}),
    [](const testing::TestParamInfo<RuleCase> &info) { return std::string(info.param.label); });

}  // namespace
