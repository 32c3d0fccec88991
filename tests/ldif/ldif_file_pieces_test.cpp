// The file loaders read a file in pieces cut after blank lines; whatever the
// cuts, they must give the records that the text loaders give for the same
// text. The files here are several pieces long, and at every piece border
// stands a line end, a fold or a blank line split at another byte.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ldif/ldif.h"
#include "support.h"

namespace {

constexpr size_t kPiece = 4u << 20;  // what the loaders read at a time

bool same_text(const char *a, const char *b) { return a == b || (a && b && std::strcmp(a, b) == 0); }

// The record's pair j ("(end)" past its end).
std::string show(ekva_pair **record, size_t j) {
    for (size_t i = 0; i < j; ++i)
        if (!record[i]) return "(end)";
    if (!record[j]) return "(end)";
    const std::string value = record[j]->value ? record[j]->value : "(null)";
    return std::string(record[j]->key ? record[j]->key : "(null)") + "=" + value.substr(0, 60);
}

// The two sets hold equal records, pair by pair from slot 0 (header included).
testing::AssertionResult same_records(ekva_pair ***got, int got_count, ekva_pair ***want, int want_count) {
    if (got_count != want_count)
        return testing::AssertionFailure() << got_count << " records instead of " << want_count;
    for (int i = 0; i < want_count; ++i) {
        ekva_pair **g = got[i], **w = want[i];
        size_t j = 0;
        while (g[j] && w[j] && same_text(g[j]->key, w[j]->key) && same_text(g[j]->value, w[j]->value)) ++j;
        if (g[j] || w[j])
            return testing::AssertionFailure() << "record " << i << " (" << show(w, 1) << ") pair " << j << ": "
                                               << show(g, j) << " instead of " << show(w, j);
    }
    if (want_count > 0 && (got[want_count] || want[want_count]))
        return testing::AssertionFailure() << "the sets do not end after " << want_count << " records";
    return testing::AssertionSuccess();
}

std::string base64_text(std::mt19937 &rng, size_t groups) {
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string s(groups * 4, 'A');
    for (auto &c : s) c = kDigits[rng() % 64];
    return s;
}

// The line as physical lines of at most `width` bytes, each continuation
// starting with a space.
std::string folded(const std::string &line, size_t width, const char *eol) {
    std::string out = line.substr(0, width);
    for (size_t at = width; at < line.size(); at += width - 1) out += eol + (" " + line.substr(at, width - 1));
    return out + eol;
}

// One entry with its blank line(s): LF or CR LF line ends (now and then both
// in one entry), comments, several values, folded text and base64 values.
std::string make_entry(std::mt19937 &rng, int n) {
    const char *eol = rng() % 3 == 0 ? "\r\n" : "\n";
    const std::string id = std::to_string(n);
    std::string e;
    auto line = [&](const std::string &text) { e += text + eol; };
    if (rng() % 8 == 0) line("# entry " + id);
    line("dn: cn=user " + id + ",ou=people,dc=example,dc=org");
    line(std::string("objectClass: ") + (rng() % 4 ? "person" : "group"));
    line("cn: user " + id);
    for (unsigned m = rng() % 3; m > 0; --m) line("mail: user" + id + "." + std::to_string(m) + "@example.org");
    if (rng() % 3 == 0) {
        std::string text = "description: ";
        for (unsigned w = 20 + rng() % 60; w > 0; --w) text += "word" + std::to_string(rng() % 1000) + " ";
        e += folded(text, 40 + rng() % 40, eol);
    }
    if (rng() % 2 == 0) e += folded("jpegPhoto:: " + base64_text(rng, 200 + rng() % 1500), 76, eol);
    if (rng() % 7 == 0) e += "sn: other line end" + std::string(eol[1] ? "\n" : "\r\n");
    line("sn: last " + id);
    e += eol;
    if (rng() % 10 == 0) e += rng() % 2 ? "\n" : "\r\n";  // a second blank line
    return e;
}

// Places entries so that a piece border falls at a chosen byte.
class Writer {
public:
    explicit Writer(const std::vector<std::string> &pool) : pool_(pool) {}

    // Appends `probe` with the byte marked '^' (the mark is dropped) at
    // offset `border`, filling up to it with pool entries.
    void probe_at(size_t border, const std::string &probe) {
        const size_t mark = probe.find('^');
        fill_to(border - mark);
        text += probe.substr(0, mark);
        EXPECT_EQ(text.size(), border) << probe.substr(0, 40);
        text += probe.substr(mark + 1);
    }

    // Appends pool entries and one padding entry so that the text ends at `end`.
    void fill_to(size_t end) {
        constexpr size_t kMinPad = 64;
        while (text.size() + pool_[next_].size() + kMinPad <= end) {
            text += pool_[next_];
            next_ = (next_ + 1) % pool_.size();
        }
        const std::string head = "dn: cn=padding " + std::to_string(text.size()) + "\ndescription: ";
        ASSERT_GE(end, text.size() + head.size() + 2);
        text += head + std::string(end - text.size() - head.size() - 2, 'p') + "\n\n";
    }

    std::string text;

private:
    const std::vector<std::string> &pool_;
    size_t next_ = 0;
};

// The text around a piece border ('^' marks the first byte of the new piece).
const char *const kProbes[] = {
    "dn: cn=p1\r\ndescription: ab\r^\n cd\r\n\r\n",            // CR | LF of a folded line
    "dn: cn=p2\r\ndescription: ab\r\n^ cd\r\n\r\n",            // LF | the fold's blank
    "dn: cn=p3\r\ndescription: ab\r\n ^cd\r\n\r\n",            // just after the fold
    "dn: cn=p4\r\ncn: x\r^\n\r\ndn: cn=p4b\r\n\r\n",           // CR | LF before a blank line
    "dn: cn=p5\r\ncn: x\r\n^\r\ndn: cn=p5b\r\n\r\n",           // a CR LF blank line starts the piece
    "dn: cn=p6\r\ncn: x\r\n\r^\ndn: cn=p6b\r\n\r\n",           // CR | LF of a blank line
    "dn: cn=p7\r\ncn: x\r\n\r\n^dn: cn=p7b\r\ncn: y\r\n\r\n",  // an entry starts the piece
    "dn: cn=p8\ncn: x\n^ continued\n\n",                       // LF | the fold's blank
    "dn: cn=p9\ncn: x\n^\ndn: cn=p9b\n\n",                     // LF | LF of a blank line
    "dn: cn=p10\ncn: x\n\n^dn: cn=p10b\n\n",                   // an entry starts the piece
    "dn: cn=p11\ncn: x\n^\r\ndn: cn=p11b\n\n",                 // LF line, CR LF blank line
    "dn: cn=p12\r\ncn: x\n\r^\n cont\n\ndn: cn=p12b\n\n",      // a "blank" line that is folded on
    "dn: cn=p13\ncn: x\n\n^\n\ndn: cn=p13b\n\n",               // blank lines on both sides
    "dn: cn=p14\n# note\n^ folded note\ncn: x\n\n",            // a folded comment
    "dn: cn=p15\ncn: x\n\n#^ comment before dn\ndn: cn=p15b\n\n",
};

struct Layout {
    std::vector<const char *> probes;  // at the borders kPiece, 2 kPiece, ...
    std::string tail;                  // after the last probe
};

class FilePieces : public testutil::TempDirTest {
protected:
    static const std::vector<std::string> &pool() {
        static const std::vector<std::string> entries = [] {
            std::mt19937 rng(2849);
            std::vector<std::string> v;
            for (int n = 0; n < 4000; ++n) v.push_back(make_entry(rng, n));
            return v;
        }();
        return entries;
    }

    // The file loader against the text loader over the same text; with
    // `append`, the appending loaders with a class filter as well.
    void expect_same_as_text(const std::string &text, bool append = false) {
        const std::string path = file("big.ldif", text);
        {
            testutil::Set from_file, from_text;
            from_file.count = ldif_file2ekva_set(&from_file.s, path.c_str(), nullptr);
            from_text.count = ldif2ekva_set(&from_text.s, text.c_str(), nullptr);
            EXPECT_GT(from_text.count, 1000);
            EXPECT_TRUE(same_records(from_file.s, from_file.count, from_text.s, from_text.count));
        }
        if (!append) return;
        testutil::Set from_file, from_text;
        for (testutil::Set *set : {&from_file, &from_text}) {
            ekva_pair **first = ekva_create(2);
            ekva_add(&first, "dn", "cn=already there", EKVA_MULTI);
            set->push(first);
        }
        from_file.count =
            ldif_file2ekva_set_append(&from_file.s, path.c_str(), "person", from_file.count, &from_file.capacity);
        from_text.count =
            ldif2ekva_set_append(&from_text.s, text.c_str(), "person", from_text.count, &from_text.capacity);
        EXPECT_GT(from_text.count, 1000);
        EXPECT_TRUE(same_records(from_file.s, from_file.count, from_text.s, from_text.count));
    }

    std::string build(const Layout &layout) {
        Writer w(pool());
        for (size_t k = 0; k < layout.probes.size(); ++k) w.probe_at((k + 1) * kPiece, layout.probes[k]);
        w.text += layout.tail;
        return w.text;
    }
};

TEST_F(FilePieces, EveryBorderPositionGivesTheTextsRecords) {
    // Three borders a file, the last file ending just past its third border
    // without a line end.
    constexpr size_t kPerFile = 3;
    const size_t n = std::size(kProbes);
    for (size_t first = 0; first < n; first += kPerFile) {
        Layout layout;
        for (size_t k = first; k < first + kPerFile && k < n; ++k) layout.probes.push_back(kProbes[k]);
        layout.tail = first + kPerFile < n ? "dn: cn=tail\ncn: t\n\n" : "dn: cn=tail\r\ncn: no line end";
        expect_same_as_text(build(layout));
    }
}

TEST_F(FilePieces, EntryLongerThanAPieceAndFileEndingAtABorder) {
    // One entry over the whole second piece: no blank line in it, so the
    // loader reads on before it cuts.
    std::string giant = "dn: cn=giant\r\n";
    std::mt19937 rng(7);
    for (int i = 0; giant.size() < kPiece + 4000; ++i) {
        giant += "member: cn=m" + std::to_string(i) + ",dc=example" + (i % 2 ? "\r\n" : "\n");
        if (i % 97 == 0) giant += folded("jpegPhoto:: " + base64_text(rng, 40), 30, "\r\n");
    }
    Writer w(pool());
    w.probe_at(kPiece, "dn: cn=before\r\n\r\n^" + giant + "\r\n");
    ASSERT_GT(w.text.size(), 2 * kPiece);
    // The file ends at the third border, after a blank line.
    w.fill_to(3 * kPiece);
    ASSERT_EQ(w.text.size(), 3 * kPiece);
    expect_same_as_text(w.text, true);
}

}  // namespace
