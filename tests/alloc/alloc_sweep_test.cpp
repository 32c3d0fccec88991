// Every public operation that allocates, run with its k-th allocation failing
// for every k from 0 until it succeeds. Each run must give either the whole
// result or the failure result its header documents, leave the caller's
// buffers, records, sets and counts as documented, and leak nothing (the
// sanitizer build checks the leaks).
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "codec/hex.h"
#include "codec/sha1.h"
#include "ekva/csv.h"
#include "ekva/ekva.h"
#include "ekva/strlist.h"
#include "ldif/ldif.h"
#include "util/alloc_internal.h"
#include "util/file.h"
#include "util/str.h"
#include "record_text.h"
#include "support.h"

namespace {

using testutil::make_list;
using testutil::read_file;
using testutil::TempDir;
using testutil::to_vector;
using testutil::V;
using testutil::write_file;

// ---- one run under the hook ----------------------------------------------

class Sweep {
public:
    explicit Sweep(long k) : k_(k) {}

    // Calls op with the allocations after the first k failing and stderr
    // captured. Afterwards one more allocation probes the hook: when it
    // fails, op reached its k-th allocation (and, unless op made exactly k,
    // saw it fail); when it succeeds, op ran without any failure.
    template <class Op>
    auto call(Op op) {
        testing::internal::CaptureStderr();
        kestrin::mem::fail_allocations_after(k_);
        auto result = op();
        void *probe = kestrin::mem::allocate(1);
        kestrin::mem::fail_allocations_after(-1);
        ran_out_ = probe == nullptr;
        std::free(probe);
        err_ = testing::internal::GetCapturedStderr();
        return result;
    }

    // Without a failed allocation only the whole result will do; with one,
    // the whole result (the failure came after the last allocation) or the
    // documented failure result.
    void expect(bool whole, bool failed_as_documented) const {
        if (ran_out_)
            EXPECT_TRUE(whole || failed_as_documented) << "neither the whole result nor the failure result";
        else
            EXPECT_TRUE(whole) << "no allocation failed, yet the result is not whole";
    }

    bool ran_out() const { return ran_out_; }
    // What op wrote to stderr. An operation whose check never asks for it
    // must have written nothing.
    const std::string &err() {
        err_read_ = true;
        return err_;
    }
    bool err_read() const { return err_read_; }

private:
    long k_;
    bool ran_out_ = false;
    bool err_read_ = false;
    std::string err_;
};

// ---- helpers --------------------------------------------------------------

std::string text_of(const char *p, int len) { return p ? std::string(p, static_cast<size_t>(len)) : "(null)"; }

// Every slot of a record, header included, as "key=value" ("key" alone for
// a NULL value).
V dump(ekva_pair **r) {
    V v;
    for (ekva_pair **p = r; p && *p; ++p) v.push_back(std::string((*p)->key) + ((*p)->value ? "=" + std::string((*p)->value) : ""));
    return v;
}

std::vector<V> dump_set(ekva_pair ***set) {
    std::vector<V> v;
    for (ekva_pair ***r = set; r && *r; ++r) v.push_back(dump(*r));
    return v;
}

ekva_pair **make_record(int capacity, int mode, const V &pairs) {
    ekva_pair **r = ekva_create_mode(capacity, mode);
    for (const auto &p : pairs) {
        const size_t eq = p.find('=');
        ekva_add(&r, p.substr(0, eq).c_str(), eq == std::string::npos ? nullptr : p.c_str() + eq + 1, EKVA_MULTI);
    }
    return r;
}

template <class T>
std::vector<T> prefix(const std::vector<T> &v, size_t n) {
    return std::vector<T>(v.begin(), v.begin() + static_cast<long>(std::min(n, v.size())));
}

// A stream holding bytes, read from the start.
FILE *stream_of(const std::string &bytes) {
    FILE *f = std::tmpfile();
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::rewind(f);
    return f;
}

std::string stream_text(FILE *f) {
    std::rewind(f);
    std::string s;
    for (int c; (c = std::fgetc(f)) != EOF;) s += static_cast<char>(c);
    return s;
}

// The directory of the files the cases read, made for the suite.
std::unique_ptr<TempDir> temp_dir;

std::string dir() { return temp_dir->path(); }

std::string file(const std::string &name, const std::string &bytes) {
    const std::string path = dir() + "/" + name;
    write_file(path, bytes);
    return path;
}

constexpr char kBase64Message[] = "Failed to allocate base64 buffer\n";

// Three entries after a version line: one without objectClass and with a
// base64 value, two with one.
constexpr char kThree[] =
    "version: 1\n\n"
    "dn: cn=a\ncn: a\nphoto:: AAEC\n\n"
    "dn: cn=b\nobjectClass: person\ncn: b\n\n"
    "dn: cn=c\nobjectClass: device\ncn:: w6k=\n";

const std::vector<V> &three_records() {
    static const std::vector<V> r = {
        {"#EKVA_10:50:3", "dn=cn=a", "cn=a", "photo;binary=AAEC"},
        {"#EKVA_10:50:3", "dn=cn=b", "objectClass=person", "cn=b"},
        {"#EKVA_10:50:3", "dn=cn=c", "objectClass=device", "cn;binary=w6k="},
    };
    return r;
}

// A set loader's result: the records stored before memory ran out stay, so
// a short count gives the first records of the whole result.
void expect_new_set(Sweep &s, ekva_pair ***set, int count, ekva_pair ***untouched, const std::vector<V> &whole) {
    const auto got = dump_set(count > 0 ? set : nullptr);
    s.expect(count == static_cast<int>(whole.size()) && got == whole,
             count >= 0 && count < static_cast<int>(whole.size()) && got == prefix(whole, static_cast<size_t>(count)));
    if (count == 0) {
        EXPECT_EQ(set, untouched) << "*set written without a record";
    }
    if (count > 0) ekva_set_free(set);
}

// An appending loader's result over a set that held one record: the count
// and the set agree, the old record is intact, the new ones are the first of
// the whole result, and the capacity covers the count.
void expect_appended(Sweep &s, ekva_pair ***set, int count, int capacity, const V &old, const std::vector<V> &whole) {
    // The set holds copies, made with room for just their entries.
    std::vector<V> want{old};
    for (V r : whole) {
        r[0] = "#EKVA_10:" + std::to_string(r.size() - 1) + ":3";
        want.push_back(r);
    }
    const auto got = dump_set(set);
    s.expect(count == static_cast<int>(want.size()) && got == want,
             count >= 1 && count < static_cast<int>(want.size()) && got == prefix(want, static_cast<size_t>(count)));
    EXPECT_EQ(static_cast<int>(got.size()), count);
    EXPECT_GE(capacity, count);
    ekva_set_free(set);
}

// ---- the operations -------------------------------------------------------

struct Case {
    const char *name;
    bool hooked;  // whether the operation allocates through the hook at all
    void (*run)(Sweep &);
};

const Case kCases[] = {
    // codec
    {"HexEncode", true, [](Sweep &s) {
         const unsigned char bytes[] = {0x01, 0xAB, 0x00};
         char *text = s.call([&] { return hex_encode(bytes, 3); });
         s.expect(text && std::string(text) == "01AB00", !text);
         std::free(text);
     }},
    {"HexDecode", true, [](Sweep &s) {
         unsigned char sentinel = 0;
         unsigned char *out = &sentinel;
         const size_t n = s.call([&] { return hex_decode("01aB", &out); });
         s.expect(n == 2 && out != &sentinel && out[0] == 0x01 && out[1] == 0xAB, n == 0 && out == &sentinel);
         if (out != &sentinel) std::free(out);
     }},
    {"HexDecodeBadDigit", true, [](Sweep &s) {
         unsigned char sentinel = 0;
         unsigned char *out = &sentinel;
         const size_t n = s.call([&] { return hex_decode("01zz", &out); });
         EXPECT_EQ(n, 0u);
         s.expect(out != &sentinel && out[0] == 0x01 && out[1] == 0x41, out == &sentinel);
         if (out != &sentinel) std::free(out);
     }},
    {"Sha1File", false, [](Sweep &s) {
         const std::string path = file("sha1", "abc");
         char out[41] = {};
         char *r = s.call([&] { return sha1_file(path.c_str(), 'x', out); });
         s.expect(r == out && std::string(out) == "a9993e364706816aba3e25717850c26c9cd0d89d", false);
     }},

    // string helpers and files
    {"StrCharPositions", true, [](Sweep &s) {
         int sentinel = 0;
         int *positions = &sentinel;
         const int n = s.call([&] { return str_char_positions("a,b,c", ',', &positions); });
         s.expect(n == 2 && positions && positions != &sentinel && positions[0] == 1 && positions[1] == 3 &&
                      positions[2] == 0,
                  n == 0 && positions == nullptr);
         if (positions != &sentinel) std::free(positions);
     }},
    {"FileReadAll", true, [](Sweep &s) {
         const std::string path = file("all", "abc");
         int len = -1;
         char *data = s.call([&] { return file_read_all(path.c_str(), &len); });
         s.expect(data && len == 3 && std::memcmp(data, "abc", 3) == 0, !data && len == 0);
         std::free(data);
     }},
    {"FileReadAllPipe", true, [](Sweep &s) {
         // A pipe is read to its end into a buffer that doubles from 64 KiB.
         const std::string bytes(150000, 'p');
         int ends[2];
         ASSERT_EQ(pipe(ends), 0);
         const auto old_handler = std::signal(SIGPIPE, SIG_IGN);  // the reader may give up early
         std::thread writer([&] {
             for (size_t done = 0; done < bytes.size();) {
                 const ssize_t put = write(ends[1], bytes.data() + done, bytes.size() - done);
                 if (put <= 0) break;
                 done += static_cast<size_t>(put);
             }
             close(ends[1]);
         });
         const std::string path = "/proc/self/fd/" + std::to_string(ends[0]);
         int len = -1;
         char *data = s.call([&] { return file_read_all(path.c_str(), &len); });
         close(ends[0]);
         writer.join();
         std::signal(SIGPIPE, old_handler);
         s.expect(data && text_of(data, len) == bytes, !data && len == 0);
         std::free(data);
     }},
    {"FileReadLines", true, [](Sweep &s) {
         const std::string path = file("lines", "one\ntwo\r\nthree");
         int count = -1;
         char **lines = s.call([&] { return file_read_lines(path.c_str(), &count); });
         s.expect(count == 3 && to_vector(lines) == V{"one", "two\r", "three"}, !lines && count == 0);
         strlist_free(lines);
     }},
    {"StreamReadWords", true, [](Sweep &s) {
         FILE *f = stream_of("a bb\tccc # note\n");
         char **words = s.call([&] { return stream_read_words(f); });
         s.expect(to_vector(words) == V{"a", "bb", "ccc", ""}, !words);
         strlist_free(words);
         std::fclose(f);
     }},
    {"FileCopy", false, [](Sweep &s) {
         const std::string src = file("copy_src", "abc"), dst = dir() + "/copy_dst";
         const int n = s.call([&] { return file_copy(dst.c_str(), src.c_str(), 0644); });
         s.expect(n == 3 && read_file(dst) == "abc", false);
     }},
    {"FileReplace", false, [](Sweep &s) {
         const std::string src = file("replace_src", "new"), dst = file("replace_dst", "old");
         const std::string backup = dir() + "/replace_bak";
         const int n = s.call([&] { return file_replace(dst.c_str(), src.c_str(), backup.c_str(), 0); });
         s.expect(n == 3 && read_file(dst) == "new" && read_file(backup) == "old", false);
     }},

    // LDIF writing
    {"LdifWriteAttrNew", true, [](Sweep &s) {
         char unused = 'u';
         int count = 0;
         char *out = s.call([&] { return ldif_write_attr(&unused, &count, "cn", "x", 1, LDIF_ENC_AUTO); });
         s.expect(text_of(out, count) == "cn: x\n" && out[count] == '\0', !out && count == 0);
         if (out) std::free(out);
     }},
    {"LdifWriteAttrAppend", true, [](Sweep &s) {
         char *buffer = strdup("dn: a\n");
         int count = 6;
         char *out = s.call([&] { return ldif_write_attr(buffer, &count, "cn", "x", 1, LDIF_ENC_AUTO); });
         s.expect(text_of(out, count) == "dn: a\ncn: x\n",
                  !out && count == 6 && std::string(buffer) == "dn: a\n");
         std::free(out ? out : buffer);
     }},
    {"LdifWriteSeparatorAppend", true, [](Sweep &s) {
         char *buffer = strdup("dn: a\n");
         int count = 6;
         char *out = s.call([&] { return ldif_write_attr(buffer, &count, nullptr, nullptr, 0, LDIF_ENC_AUTO); });
         s.expect(text_of(out, count) == "dn: a\n\n", !out && count == 6 && std::string(buffer) == "dn: a\n");
         std::free(out ? out : buffer);
     }},
    {"LdifWriteAttrBase64New", true, [](Sweep &s) {
         char unused = 'u';
         int count = 0;
         char *out = s.call([&] { return ldif_write_attr(&unused, &count, "cn", "\x01\x02", 2, LDIF_ENC_BASE64); });
         const std::string &err = s.err();
         s.expect(text_of(out, count) == "cn:: AQI=\n" && err.empty(),
                  !out && count == 0 && (err.empty() || err == kBase64Message));
         if (out) std::free(out);
     }},
    {"LdifWriteAttrBase64Append", true, [](Sweep &s) {
         char *buffer = strdup("dn: a\n");
         int count = 6;
         char *out = s.call([&] { return ldif_write_attr(buffer, &count, "cn", "\x01\x02", 2, LDIF_ENC_BASE64); });
         const std::string &err = s.err();
         // Without the working buffer the caller's buffer is released;
         // otherwise a failure leaves it as it was.
         const bool released = !out && err == kBase64Message;
         s.expect(text_of(out, count) == "dn: a\ncn:: AQI=\n" && err.empty(),
                  !out && count == 6 && (released || (err.empty() && std::string(buffer) == "dn: a\n")));
         if (out)
             std::free(out);
         else if (!released)
             std::free(buffer);
     }},
    {"LdifFwriteAttr", true, [](Sweep &s) {
         FILE *f = std::tmpfile();
         const int n = s.call([&] { return ldif_fwrite_attr(f, "cn", "x", 1, LDIF_ENC_AUTO); });
         s.expect(n == 6 && stream_text(f) == "cn: x\n", n == 0 && stream_text(f).empty());
         std::fclose(f);
     }},
    {"LdifFwriteAttrBase64", true, [](Sweep &s) {
         FILE *f = std::tmpfile();
         const int n = s.call([&] { return ldif_fwrite_attr(f, "cn", " x", 0, LDIF_ENC_AUTO); });
         const std::string &err = s.err();
         s.expect(n == 10 && stream_text(f) == "cn:: IHg=\n" && err.empty(),
                  n == 0 && stream_text(f).empty() && (err.empty() || err == kBase64Message));
         std::fclose(f);
     }},
    {"LdifWriteRecord", true, [](Sweep &s) {
         char dn[] = "cn=a", mail[] = "mail", v[] = {'\0', '\2'};  // a NUL: base64
         ldif_value values[] = {{v, 2, LDIF_FORM_PLAIN}, {v, 1, LDIF_FORM_PLAIN}};
         ldif_mod mod{LDIF_MOD_ADD, mail, values, 2};
         ldif_record r{};
         r.change = LDIF_CHANGE_MODIFY;
         r.dn = dn;
         r.dn_len = 4;
         r.mods = &mod;
         r.mod_count = 1;
         char *buffer = strdup("ab");
         int count = 2;
         char *out = s.call([&] { return ldif_write_record(buffer, &count, &r, LDIF_ENC_AUTO, 0); });
         const std::string &err = s.err();
         s.expect(text_of(out, count) == "abdn: cn=a\nchangetype: modify\nadd: mail\nmail:: AAI=\nmail:: AA==\n-\n",
                  !out && count == 2 && std::string(buffer) == "ab" && (err.empty() || err == kBase64Message));
         std::free(out ? out : buffer);
     }},

    // LDIF reading
    {"LdifRecordReaderRead", true, [](Sweep &s) {
         const std::string text = "dn: cn=a\ncontrol: 1.2 true: v\nchangetype: modify\nadd: mail\nmail: x\nmail: y\n-\n\n"
                                  "dn: cn=b\ncn: b\nsn:: AAE=\n";
         const V whole = {"modify dn=cn=a\n control 1.2 true v\n add: mail\n  x\n  y\n", "entry dn=cn=b\n cn=b\n sn=\\x00\\x01\n"};
         const V got = s.call([&] {
             V records;
             testutil::read_records(
                 text, [&](const ldif_record &r) { records.push_back(testutil::record_text(r)); },
                 [&](const ldif_record_item &e) { records.push_back(e.value); });
             return records;
         });
         // A record that cannot be held is an error, and the reader goes on.
         bool as_documented = got.size() == 2;
         for (size_t i = 0; as_documented && i < 2; ++i) as_documented = got[i] == whole[i] || got[i] == "out of memory";
         s.expect(got == whole, as_documented);
     }},
    {"LdifParseLine", true, [](Sweep &s) {
         const char *text = "cn:: YW\n Jj\nsn: x\n";
         char *name = nullptr, *value = nullptr;
         int len = -1, binary = -1;
         const char *next = s.call([&] { return ldif_parse_line(text, 0, &name, &value, &len, &binary); });
         s.expect(next == text + 12 && std::string(name) == "cn" && text_of(value, len) == "abc" && value[3] == '\0' &&
                      binary == 1,
                  !next && binary == 0);
         if (next) {
             std::free(name);
             std::free(value);
         }
     }},
    {"LdifParseLineFileReference", true, [](Sweep &s) {
         const std::string line = "photo:< file://" + file("photo", std::string("\0\1\2", 3)) + "\n";
         char *name = nullptr, *value = nullptr;
         int len = -1, binary = -1;
         const char *next = s.call([&] { return ldif_parse_line(line.c_str(), 0, &name, &value, &len, &binary); });
         // A file whose bytes cannot be held reads as an unreadable one: the
         // empty value.
         const bool parsed = next == line.c_str() + line.size() && std::string(name) == "photo" && binary == 1;
         s.expect(parsed && text_of(value, len) == std::string("\0\1\2", 3),
                  (!next && binary == 0) || (parsed && len == 0 && value[0] == '\0'));
         if (next) {
             std::free(name);
             std::free(value);
         }
     }},
    {"LdifNextEntry", true, [](Sweep &s) {
         const char *text = "junk\ndn: a\ncn: b\n c\r\n\nrest\n";
         char *entry = nullptr;
         int len = -1;
         const char *next = s.call([&] { return ldif_next_entry(text, 0, &entry, &len); });
         s.expect(next && std::string(next) == "rest\n" && text_of(entry, len) == "dn: a\ncn: bc\n" && entry[len] == '\0',
                  !next && !entry && len == 0);
         std::free(entry);
     }},
    {"LdifReadEntry", true, [](Sweep &s) {
         FILE *f = stream_of("x: 1\ndn: a\ncn: b\n c\r\n\ndn: next\n");
         char *entry = s.call([&] { return ldif_read_entry(f); });
         s.expect(entry && std::string(entry) == "dn: a\ncn: b\n c\n", !entry);
         std::free(entry);
         std::fclose(f);
     }},
    {"Ldif2Ekva", true, [](Sweep &s) {
         ekva_pair **r = s.call([] { return ldif2ekva("dn: cn=a\ncn: a\n# note\nphoto:: AAEC\n\nmail: x\n", 0); });
         s.expect(dump(r) == V{"#EKVA_10:50:3", "dn=cn=a", "cn=a", "#=#", "photo;binary=AAEC", "mail=x"}, !r);
         ekva_free(r);
     }},
    {"Ldif2EkvaGrows", true, [](Sweep &s) {
         std::string text = "dn: x\n";
         V want{"#EKVA_10:100:3", "dn=x"};
         for (int i = 0; i < 52; ++i) {
             text += "a: " + std::to_string(i) + "\n";
             want.push_back("a=" + std::to_string(i));
         }
         ekva_pair **r = s.call([&] { return ldif2ekva(text.c_str(), 0); });
         s.expect(dump(r) == want, !r);
         ekva_free(r);
     }},
    {"Ldif2EkvaSet", true, [](Sweep &s) {
         ekva_pair **sentinel[1] = {};
         ekva_pair ***set = sentinel;
         const int count = s.call([&] { return ldif2ekva_set(&set, kThree, nullptr); });
         expect_new_set(s, set, count, sentinel, three_records());
     }},
    {"Ldif2EkvaSetFiltered", true, [](Sweep &s) {
         ekva_pair **sentinel[1] = {};
         ekva_pair ***set = sentinel;
         const int count = s.call([&] { return ldif2ekva_set(&set, kThree, "person"); });
         expect_new_set(s, set, count, sentinel, prefix(three_records(), 2));
     }},
    {"Ldif2EkvaSetAppend", true, [](Sweep &s) {
         ekva_pair ***set = nullptr;
         int capacity = 1;
         int count = ldif2ekva_set_append(&set, "dn: old\ncn: o\n", nullptr, 0, &capacity);
         const V old = dump(set[0]);
         count = s.call([&] { return ldif2ekva_set_append(&set, kThree, nullptr, count, &capacity); });
         expect_appended(s, set, count, capacity, old, three_records());
     }},
    {"LdifFile2EkvaSet", true, [](Sweep &s) {
         const std::string path = file("three.ldif", kThree);
         ekva_pair **sentinel[1] = {};
         ekva_pair ***set = sentinel;
         const int count = s.call([&] { return ldif_file2ekva_set(&set, path.c_str(), nullptr); });
         expect_new_set(s, set, count, sentinel, three_records());
     }},
    {"LdifFile2EkvaSetAppend", true, [](Sweep &s) {
         const std::string path = file("three.ldif", kThree);
         ekva_pair ***set = nullptr;
         int capacity = 1;
         int count = ldif2ekva_set_append(&set, "dn: old\ncn: o\n", nullptr, 0, &capacity);
         const V old = dump(set[0]);
         count = s.call([&] { return ldif_file2ekva_set_append(&set, path.c_str(), nullptr, count, &capacity); });
         expect_appended(s, set, count, capacity, old, three_records());
     }},

    // LDIF entry queries and records back to LDIF
    {"LdifEntryCountAttr", false, [](Sweep &s) {
         const int n = s.call([] { return ldif_entry_count_attr("dn: a\ncn: x\n y\nCN:: eHk=\n", 0, "cn"); });
         s.expect(n == 2, false);
     }},
    {"LdifEntryGetAttr", true, [](Sweep &s) {
         char sentinel = 0;
         char *value = &sentinel;
         const int len = s.call([&] { return ldif_entry_get_attr("dn: a\ncn: one\ncn:: dHdvAA==\n", 0, "cn", &value, 2); });
         s.expect(len == 4 && value && std::memcmp(value, "two\0", 5) == 0, len == 0 && value == nullptr);
         if (value != &sentinel) std::free(value);
     }},
    {"LdifEntryGetAttrValues", true, [](Sweep &s) {
         char *sentinel[1] = {};
         char **values = sentinel;
         const int n = s.call([&] {
             return ldif_entry_get_attr_values("dn: a\ncn: one\nCN: two\ndn: b\ncn: three\n", 0, "cn", &values);
         });
         // As at a later line that cannot be parsed, the walk ends with the
         // values gathered so far.
         const V whole{"one", "two", "three"}, got = to_vector(values);
         s.expect(n == 3 && got == whole, n >= 0 && n < 3 && static_cast<int>(got.size()) == n &&
                                              got == prefix(whole, got.size()) && (n > 0 || values == nullptr));
         if (values != sentinel) strlist_free(values);
     }},
    {"Ekva2Ldif", true, [](Sweep &s) {
         ekva_pair **r = make_record(8, EKVA_MULTI, {"cn= x", "DN=cn=a", "photo;binary=AAEC", "n", "dn=again"});
         const V before = dump(r);
         char *text = s.call([&] { return ekva2ldif(r); });
         const std::string &err = s.err();
         s.expect(text && std::string(text) == "dn: cn=a\ncn:: IHg=\nphoto:: AAEC\n" && err.empty(),
                  !text && (err.empty() || err == kBase64Message));
         EXPECT_EQ(dump(r), before);
         std::free(text);
         ekva_free(r);
     }},

    // EKVA records
    {"EkvaCreateMode", true, [](Sweep &s) {
         ekva_pair **r = s.call([] { return ekva_create_mode(4, EKVA_MULTI); });
         s.expect(dump(r) == V{"#EKVA_10:4:3"}, !r);
         ekva_free(r);
     }},
    {"EkvaCreate", true, [](Sweep &s) {
         ekva_pair **r = s.call([] { return ekva_create(7); });
         s.expect(dump(r) == V{"#EKVA_10:7:2"}, !r);
         ekva_free(r);
     }},
    {"EkvaAddAppend", true, [](Sweep &s) {
         ekva_pair **r = make_record(4, EKVA_MULTI, {"a=1"});
         const V before = dump(r);
         const int n = s.call([&] { return ekva_add(&r, "b", "2", EKVA_MULTI); });
         s.expect(n == 3 && dump(r) == V{"#EKVA_10:4:3", "a=1", "b=2"}, n == 0 && dump(r) == before);
         ekva_free(r);
     }},
    {"EkvaAddNullValue", true, [](Sweep &s) {
         ekva_pair **r = make_record(4, EKVA_MULTI, {"a=1"});
         const V before = dump(r);
         const int n = s.call([&] { return ekva_add(&r, "b", nullptr, EKVA_APPEND); });
         s.expect(n == 3 && dump(r) == V{"#EKVA_10:4:3", "a=1", "b"}, n == 0 && dump(r) == before);
         ekva_free(r);
     }},
    {"EkvaAddGrows", true, [](Sweep &s) {
         ekva_pair **r = make_record(2, EKVA_MULTI, {"a=1", "b=2"});
         const V before = dump(r);
         const int n = s.call([&] { return ekva_add(&r, "c", "3", EKVA_MULTI); });
         s.expect(n == 4 && dump(r) == V{"#EKVA_10:4:3", "a=1", "b=2", "c=3"}, n == 0 && dump(r) == before);
         // The record still takes entries after a failure.
         EXPECT_EQ(ekva_add(&r, "d", "4", EKVA_MULTI), n == 4 ? 5 : 4);
         ekva_free(r);
     }},
    {"EkvaAddReplace", true, [](Sweep &s) {
         ekva_pair **r = make_record(4, EKVA_REPLACE, {"a=1", "b=2", "A=3", "a"});
         const V before = dump(r);
         const int n = s.call([&] { return ekva_add(&r, "a", "9", EKVA_REPLACE); });
         s.expect(n == 5 && dump(r) == V{"#EKVA_10:8:2", "a=9", "b=2", "A=9", "a"}, n == 0 && dump(r) == before);
         ekva_free(r);
     }},
    {"EkvaAddUniqueGrows", true, [](Sweep &s) {
         ekva_pair **r = make_record(2, EKVA_UNIQUE, {"a=1", "b=2"});
         const V before = dump(r);
         const int n = s.call([&] { return ekva_add(&r, "a", "x", EKVA_UNIQUE); });
         s.expect(n == 3 && dump(r) == V{"#EKVA_10:4:1", "a=1", "b=2"}, n == 0 && dump(r) == before);
         ekva_free(r);
     }},
    {"EkvaGetValues", true, [](Sweep &s) {
         ekva_pair **r = make_record(4, EKVA_MULTI, {"mail=x", "cn=c", "MAIL", "mail=y"});
         char **values = s.call([&] { return ekva_get_values(r, "mail"); });
         s.expect(to_vector(values) == V{"x", "y"}, !values);
         strlist_free(values);
         ekva_free(r);
     }},
    {"EkvaCopy", true, [](Sweep &s) {
         ekva_pair **r = make_record(8, EKVA_MULTI, {"a=1", "b", "a=2"});
         const V before = dump(r);
         ekva_pair **copy = s.call([&] { return ekva_copy(r); });
         s.expect(dump(copy) == V{"#EKVA_10:3:3", "a=1", "b", "a=2"}, !copy);
         EXPECT_EQ(dump(r), before);
         ekva_free(copy);
         ekva_free(r);
     }},
    {"EkvaDup", true, [](Sweep &s) {
         ekva_pair **r = make_record(8, EKVA_MULTI, {"a=1", "b", "a=2"});
         const V before = dump(r);
         ekva_pair **copy = s.call([&] { return ekva_dup(r); });
         s.expect(dump(copy) == before, !copy);
         if (copy) {
             EXPECT_EQ(ekva_add(&copy, "c", "3", EKVA_MULTI), 5);  // room as the header says
         }
         EXPECT_EQ(dump(r), before);
         ekva_free(copy);
         ekva_free(r);
     }},

    // record sets
    {"EkvaSetPushFirst", true, [](Sweep &s) {
         ekva_pair **r = make_record(8, EKVA_MULTI, {"dn=a", "cn=b"});
         ekva_pair ***set = nullptr;
         int capacity = 1;
         const int n = s.call([&] { return ekva_set_push(&set, r, 0, &capacity); });
         s.expect(n == 1 && dump_set(set) == std::vector<V>{{"#EKVA_10:2:3", "dn=a", "cn=b"}},
                  n == 0 && set == nullptr && capacity == 1);
         ekva_set_free(set);
         ekva_free(r);
     }},
    {"EkvaSetPushGrows", true, [](Sweep &s) {
         ekva_pair **r = make_record(8, EKVA_MULTI, {"dn=a"});
         ekva_pair ***set = nullptr;
         int capacity = 2;
         int n = ekva_set_push(&set, r, 0, &capacity);
         n = ekva_set_push(&set, r, n, &capacity);
         const auto before = dump_set(set);
         n = s.call([&] { return ekva_set_push(&set, r, n, &capacity); });
         auto whole = before;
         whole.push_back(before[0]);
         s.expect(n == 3 && capacity == 4 && dump_set(set) == whole, n == 2 && capacity == 2 && dump_set(set) == before);
         ekva_set_free(set);
         ekva_free(r);
     }},
    {"EkvaSetSort", false, [](Sweep &s) {
         ekva_pair ***set = nullptr;
         int capacity = 1, n = 0;
         for (const char *cn : {"c", "a", "b"}) {
             ekva_pair **r = make_record(2, EKVA_MULTI, {std::string("cn=") + cn});
             n = ekva_set_push(&set, r, n, &capacity);
             ekva_free(r);
         }
         s.call([&] {
             ekva_set_sort(&set, "cn");
             return 0;
         });
         V order;
         for (ekva_pair ***r = set; *r; ++r) order.push_back(ekva_get(*r, "cn"));
         s.expect(order == V{"a", "b", "c"}, false);
         ekva_set_free(set);
     }},

    // text forms
    {"EkvaToKvText", true, [](Sweep &s) {
         ekva_pair **r = make_record(4, EKVA_MULTI, {"a=1", "b"});
         char *text = s.call([&] { return ekva_to_kv_text(r, ','); });
         s.expect(text && std::string(text) == "a=1,b=", !text);
         std::free(text);
         ekva_free(r);
     }},
    {"EkvaFromKvText", true, [](Sweep &s) {
         ekva_pair **r = s.call([] { return ekva_from_kv_text("a=1,,b='2',a=3", ','); });
         const V whole{"#EKVA_10:14:3", "a=1", "b=2", "a=3"};
         // A piece that cannot be added is reported and passed over; every
         // later piece then fails too, so the record holds the first pieces
         // and stderr names the others.
         const V got = dump(r);
         std::string err_left;
         for (size_t i = got.empty() ? whole.size() : got.size(); i < whole.size(); ++i) {
             const size_t eq = whole[i].find('=');
             err_left += "failed to add value <" + whole[i].substr(eq + 1) + "> for key <" + whole[i].substr(0, eq) + ">";
         }
         const std::string &err = s.err();
         s.expect(got == whole && err.empty(),
                  (!r && err.empty()) || (r && got.size() < whole.size() && got == prefix(whole, got.size()) && err == err_left));
         ekva_free(r);
     }},
    {"EkvaToCsvLine", true, [](Sweep &s) {
         ekva_pair **r = make_record(8, EKVA_MULTI, {"dn=a", "mail=x", "mail=y", "cn=b,c", "photo;binary=AAEC", "n"});
         char *line = s.call([&] { return ekva_to_csv_line(r, ',', 0, 0); });
         s.expect(line && std::string(line) == "a,x|y,\"b,c\",", !line);
         std::free(line);
         ekva_free(r);
     }},
    {"EkvaToCsvLineKeys", true, [](Sweep &s) {
         ekva_pair **r = make_record(8, EKVA_MULTI, {"dn=a", "mail=x", "photo;binary=AAEC"});
         char *line = s.call([&] { return ekva_to_csv_line(r, ';', 1, 1); });
         s.expect(line && std::string(line) == "\"dn\";\"mail\"", !line);
         std::free(line);
         ekva_free(r);
     }},

    // string lists
    {"StrlistDup", true, [](Sweep &s) {
         char **list = make_list({"a", "b", "c"});
         char **copy = s.call([&] { return strlist_dup(list); });
         s.expect(to_vector(copy) == V{"a", "b", "c"}, !copy);
         EXPECT_EQ(to_vector(list), (V{"a", "b", "c"}));
         strlist_free(copy);
         strlist_free(list);
     }},
    {"StrlistAppend", true, [](Sweep &s) {
         char **list = make_list({"a"}), **other = make_list({"b", "c"});
         char **out = s.call([&] { return strlist_append(list, other); });
         s.expect(to_vector(out) == V{"a", "b", "c"}, out == list && to_vector(list) == V{"a"});
         EXPECT_EQ(to_vector(other), (V{"b", "c"}));
         strlist_free(out);
         strlist_free(other);
     }},
    {"StrlistAppendUnique", true, [](Sweep &s) {
         char **list = make_list({"a", "b"}), **other = make_list({"b", "c", "c", "d"});
         char **out = s.call([&] { return strlist_append_unique(list, other); });
         s.expect(to_vector(out) == V{"a", "b", "c", "d"}, out == list && to_vector(list) == V{"a", "b"});
         strlist_free(out);
         strlist_free(other);
     }},
    {"StrlistAppendText", true, [](Sweep &s) {
         char **list = make_list({"a"});
         char **out = s.call([&] { return strlist_append_text(list, 1, "b,,a,c,b"); });
         s.expect(to_vector(out) == V{"a", "b", "c"}, out == list && to_vector(list) == V{"a"});
         strlist_free(out);
     }},
    {"StrlistJoin", true, [](Sweep &s) {
         char **list = make_list({"a", "", "c"});
         char *text = s.call([&] { return strlist_join(list, '|'); });
         s.expect(text && std::string(text) == "a||c", !text);
         std::free(text);
         strlist_free(list);
     }},
    {"StrlistSplit", true, [](Sweep &s) {
         char **list = s.call([] { return strlist_split(",a,,b c,", ','); });
         s.expect(to_vector(list) == V{"a", "b c"}, !list);
         strlist_free(list);
     }},
    {"StrlistSplitWords", true, [](Sweep &s) {
         char **list = s.call([] { return strlist_split_words(" a x,  ,b", ','); });
         s.expect(to_vector(list) == V{"a", "", "b"}, !list);
         strlist_free(list);
     }},
    {"StrlistPushFirst", true, [](Sweep &s) {
         char **list = nullptr;
         int capacity = 1;
         const int n = s.call([&] { return strlist_push(&list, "a", 0, &capacity); });
         s.expect(n == 1 && to_vector(list) == V{"a"}, n == 0 && list == nullptr && capacity == 1);
         strlist_free(list);
     }},
    {"StrlistPushGrows", true, [](Sweep &s) {
         char **list = nullptr;
         int capacity = 2;
         int n = strlist_push(&list, "a", 0, &capacity);
         n = strlist_push(&list, "b", n, &capacity);
         n = s.call([&] { return strlist_push(&list, "c", n, &capacity); });
         s.expect(n == 3 && capacity == 4 && to_vector(list) == V{"a", "b", "c"},
                  n == 2 && capacity == 2 && to_vector(list) == V{"a", "b"});
         strlist_free(list);
     }},
    {"StrlistSetPushFirst", true, [](Sweep &s) {
         char **item = make_list({"x", "y"});
         char ***sets = nullptr;
         int capacity = 1;
         const int n = s.call([&] { return strlist_set_push(&sets, item, 0, &capacity); });
         s.expect(n == 1 && sets && to_vector(sets[0]) == V{"x", "y"} && !sets[1], n == 0 && sets == nullptr && capacity == 1);
         for (char ***p = sets; p && *p; ++p) strlist_free(*p);
         std::free(sets);
         strlist_free(item);
     }},
    {"StrlistSetPushGrows", true, [](Sweep &s) {
         char **item = make_list({"x", "y"});
         char ***sets = nullptr;
         int capacity = 1;
         int n = strlist_set_push(&sets, item, 0, &capacity);
         n = s.call([&] { return strlist_set_push(&sets, item, n, &capacity); });
         std::vector<V> got;
         for (char ***p = sets; p && *p; ++p) got.push_back(to_vector(*p));
         s.expect(n == 2 && capacity == 2 && got == std::vector<V>(2, V{"x", "y"}),
                  n == 1 && capacity == 1 && got == std::vector<V>(1, V{"x", "y"}));
         for (char ***p = sets; p && *p; ++p) strlist_free(*p);
         std::free(sets);
         strlist_free(item);
     }},
    {"StrlistSort", false, [](Sweep &s) {
         char **list = make_list({"c", "a", "b"});
         s.call([&] {
             strlist_sort(&list, nullptr);
             return 0;
         });
         s.expect(to_vector(list) == V{"a", "b", "c"}, false);
         strlist_free(list);
     }},

    // delimited fields
    {"CsvQuote", true, [](Sweep &s) {
         char *text = s.call([] { return csv_quote("a,\"b\"\n", ',', 0); });
         s.expect(text && std::string(text) == "\"a,\"\"b\"\"\\n\"", !text);
         std::free(text);
     }},
    {"CsvJoin", true, [](Sweep &s) {
         char **list = make_list({"a", "b;c", ""});
         char *text = s.call([&] { return csv_join(list, ';', 0); });
         s.expect(text && std::string(text) == "a;\"b;c\";", !text);
         std::free(text);
         strlist_free(list);
     }},
    {"CsvSplit", true, [](Sweep &s) {
         char **list = s.call([] { return csv_split("a;;\"b;c\"", ';'); });
         s.expect(to_vector(list) == V{"a", "\"b", "c\""}, !list);
         strlist_free(list);
     }},
    {"CsvParseLine", true, [](Sweep &s) {
         char **list = s.call([] { return csv_parse_line("a,\"b,c\",,d\\ne", ','); });
         s.expect(to_vector(list) == V{"a", "b,c", "", "d\ne"}, !list);
         strlist_free(list);
     }},
    {"CsvNextRecord", true, [](Sweep &s) {
         const char *text = "x,\"y,z\"\r\nnext";
         char **fields = nullptr;
         const char *next = s.call([&] { return csv_next_record(text, 100, ',', &fields); });
         EXPECT_EQ(next, text + 9);
         s.expect(to_vector(fields) == V{"x", "y,z"}, !fields);
         strlist_free(fields);
     }},
    {"CsvReadRecord", true, [](Sweep &s) {
         FILE *f = stream_of("\xEF\xBB\xBF" "a;b\r\nc\n");
         char **fields = s.call([&] { return csv_read_record(f, ';', 1); });
         s.expect(to_vector(fields) == V{"a", "b"}, !fields);
         strlist_free(fields);
         std::fclose(f);
     }},
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

// ---- the sweep ------------------------------------------------------------

class AllocSweep : public testing::TestWithParam<Case> {
protected:
    static void SetUpTestSuite() { temp_dir = std::make_unique<TempDir>(); }
    static void TearDownTestSuite() { temp_dir.reset(); }
    void TearDown() override { kestrin::mem::fail_allocations_after(-1); }
};

// Runs the operation with the k-th allocation failing, k = 0, 1, ..., until a
// run sees no failure; that k is one more than the allocations it makes.
TEST_P(AllocSweep, EveryAllocationFailure) {
    constexpr long kMostAllocations = 2000;
    const Case &c = GetParam();
    long k = 0;
    for (; k <= kMostAllocations; ++k) {
        SCOPED_TRACE("allocations allowed: " + std::to_string(k));
        Sweep s(k);
        c.run(s);
        if (!s.err_read()) {
            EXPECT_EQ(s.err(), "");
        }
        if (HasFailure()) return;  // the first k that fails tells enough
        if (!s.ran_out()) break;
    }
    ASSERT_LE(k, kMostAllocations) << "the operation never succeeded";
    RecordProperty("allocations", std::to_string(k - 1));
    if (c.hooked)
        EXPECT_GT(k, 1) << "no allocation went through the hook";
    else
        EXPECT_EQ(k, 1) << "an allocation went through the hook";
}

INSTANTIATE_TEST_SUITE_P(Library, AllocSweep, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case> &info) { return std::string(info.param.name); });

}  // namespace
