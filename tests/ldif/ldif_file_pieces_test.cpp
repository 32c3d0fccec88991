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
    // offset `border`, filling up to it with entries.
    void probe_at(size_t border, const std::string &probe) {
        const size_t mark = probe.find('^');
        fill_to(border - mark);
        text += probe.substr(0, mark);
        EXPECT_EQ(text.size(), border) << probe.substr(0, 40);
        text += probe.substr(mark + 1);
    }

    // Appends entries and one padding entry so that the text ends at `end`:
    // large plain entries first (cheap to parse), then varied ones from the
    // pool over the last stretch.
    void fill_to(size_t end) {
        constexpr size_t kBulk = 64 << 10, kVaried = 128 << 10, kMinPad = 64;
        while (text.size() + kBulk + kVaried <= end)
            pad(text.size() + kBulk, text.size() % 3 ? "\n" : "\r\n");
        while (text.size() + pool_[next_].size() + kMinPad <= end) {
            text += pool_[next_];
            next_ = (next_ + 1) % pool_.size();
        }
        pad(end, "\n");
    }

    std::string text;

private:
    // One entry with a long unfolded value, ending the text at `end`.
    void pad(size_t end, const std::string &eol) {
        const std::string head = "dn: cn=padding " + std::to_string(text.size()) + eol + "description: ";
        ASSERT_GE(end, text.size() + head.size() + 2 * eol.size());
        text += head + std::string(end - text.size() - head.size() - 2 * eol.size(), 'p') + eol + eol;
    }

    const std::vector<std::string> &pool_;
    size_t next_ = 0;
};

// The text around a piece border; '^' marks the first byte of the next read.
// A piece is cut after the last blank line whose next byte has been read, so
// each probe puts a different near-blank line or fold just before the border.
const char *const kProbes[] = {
    // CR LF lines are not blank lines; the border splits a CR from its LF.
    "dn: cn=a\r\ncn: x\r\nsn: y\r^\n\r\n",
    // A blank line followed by a space is a fold, not the end of the entry.
    "dn: cn=b\ncn: x\n\n ^folded after a blank line\n\n",
    "dn: cn=c\r\ncn: x\r\n\r\n ^folded after a blank line\r\n\r\n",
    // A blank line just before the border: the next byte, a space, is unknown yet.
    "dn: cn=d\ncn: x\n\n^ folded after a blank line\n\n",
    "dn: cn=e\r\ncn: x\r\n\r\n^ folded after a blank line\r\n\r\n",
    // A cut at a CR LF blank line, and a folded line split at its fold.
    "dn: cn=f\r\ncn: x\r\n\r\ndn: cn=f2\r\ndescription: ab\r\n^ cd\r\n\r\n",
    // A CR LF blank line after a LF line, a comment before the dn, a fold split.
    "dn: cn=g\ncn: x\n\r\n# note\ndn: cn=g2\ncn: y\r\n^ z\n\n",
    // Several blank lines, then an entry split between CR and LF.
    "dn: cn=h\ncn: x\n\n\n\ndn: cn=h2\nsn: y\r^\n\n",
    // A CR LF blank line split between CR and LF.
    "dn: cn=i\ncn: x\r\n\r^\ndn: cn=i2\n\n",
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
            for (int n = 0; n < 300; ++n) v.push_back(make_entry(rng, n));
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
            EXPECT_GT(from_text.count, 250);
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
        EXPECT_GT(from_text.count, 250);
        EXPECT_TRUE(same_records(from_file.s, from_file.count, from_text.s, from_text.count));
    }

    std::string build(const Layout &layout) {
        Writer w(pool());
        for (size_t k = 0; k < layout.probes.size(); ++k) w.probe_at((k + 1) * kPiece, layout.probes[k]);
        w.text += layout.tail;
        return w.text;
    }
};

TEST_F(FilePieces, BlankLinesAndFoldsAtTheBordersGiveTheTextsRecords) {
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
        giant += "member: cn=m" + std::to_string(i) + std::string(150, 'm') + (i % 2 ? "\r\n" : "\n");
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
