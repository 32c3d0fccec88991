#include "support.h"

#include <dirent.h>
#include <pthread.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "codec/base64.h"

namespace testutil {

namespace fs = std::filesystem;

namespace {

// Gives the owner full access to every directory below `path` (not following
// links), so that remove_all can empty the ones a test made unreadable.
void make_removable(const fs::path &path) {
    std::error_code ec;
    if (fs::symlink_status(path, ec).type() != fs::file_type::directory) return;
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
    for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) make_removable(it->path());
}

}  // namespace

TempDir::TempDir() {
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    if (ec) base = "/tmp";
    std::string pattern = (base / "kestrin_testXXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed for " + pattern);
    path_ = pattern;
}

TempDir::~TempDir() {
    make_removable(path_);
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void write_file(const std::string &path, const std::string &bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

bool write_sparse_file(const std::string &path, long long size) {
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const bool made = ::ftruncate(fd, static_cast<off_t>(size)) == 0;
    return ::close(fd) == 0 && made;
}

long bytes_read_by_process() {
    std::ifstream io("/proc/self/io");
    std::string key;
    long value = 0;
    while (io >> key >> value)
        if (key == "rchar:") return value;
    return -1;
}

Stream::Stream(const std::string &text) : file(std::tmpfile()) {
    if (!file) throw std::runtime_error("tmpfile failed");
    std::fwrite(text.data(), 1, text.size(), file);
    std::rewind(file);
}

Stream::~Stream() { std::fclose(file); }

std::string spool_dir() {
    const char *dir = std::getenv("TMPDIR");
    return dir && *dir ? dir : "/tmp";
}

std::set<std::string> spool_files() {
    std::set<std::string> names;
    if (DIR *d = opendir(spool_dir().c_str())) {
        while (const dirent *e = readdir(d))
            if (std::string(e->d_name).rfind("zan_input", 0) == 0) names.insert(e->d_name);
        closedir(d);
    }
    return names;
}

std::set<std::string> spool_files_left(const std::set<std::string> &before) {
    const auto new_names = [&] {
        std::set<std::string> names;
        for (const std::string &name : spool_files())
            if (!before.contains(name)) names.insert(name);
        return names;
    };
    std::set<std::string> names = new_names();
    for (int i = 0; i < 40 && !names.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        names = new_names();
    }
    return names;
}

std::string held_spool(pid_t pid, const std::string &dir) {
    const std::string fd_dir = "/proc/" + std::to_string(pid) + "/fd";
    std::string found;
    if (DIR *d = opendir(fd_dir.c_str())) {
        while (const dirent *e = readdir(d)) {
            char target[PATH_MAX] = {};
            const std::string link = fd_dir + "/" + e->d_name;
            if (readlink(link.c_str(), target, sizeof target - 1) > 0 &&
                std::string(target).rfind(dir + "/zan_input", 0) == 0)
                found = target;
        }
        closedir(d);
    }
    return found;
}

namespace {

// Whether pid has ended (a zombie, or gone).
bool ended(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return true;
    const size_t paren = line.rfind(')');  // the command name may hold anything
    return paren == std::string::npos || line.compare(paren, 3, ") Z") == 0;
}

}  // namespace

std::string removed_spool(pid_t pid, const std::string &dir) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    std::string link = held_spool(pid, dir);
    while (link.find(" (deleted)") == std::string::npos && !ended(pid) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        link = held_spool(pid, dir);
    }
    return link;
}

std::string shell_quote(const std::string &s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

Outcome run_bash(const std::string &command, const std::string &out, const std::string &err) {
    const int raw = std::system(("exec bash -c " + shell_quote(command)).c_str());
    return {read_file(out), read_file(err), WIFEXITED(raw) ? WEXITSTATUS(raw) : -1};
}

void ToolTest::TearDown() {
    EXPECT_EQ(spool_files_left(spool_before), std::set<std::string>{}) << "a temporary input file was left in " << spool_dir();
}

Outcome ToolTest::sh_with(const std::string &bin, const std::string &line, const std::string *input) const {
    const std::string in = dir + "/.stdin", out = dir + "/.stdout", err = dir + "/.stderr";
    if (input) write_file(in, *input);
    const std::string cmd = "K=" + shell_quote(bin) + "; { " + line + "; } <" + (input ? shell_quote(in) : "/dev/null") +
                            " >" + shell_quote(out) + " 2>" + shell_quote(err);
    Outcome r = run_bash(cmd, out, err);
    std::remove(out.c_str());
    return r;
}

std::string base64_text(const std::string &bytes) {
    std::string text(base64_encoded_size(bytes.size()) + 1, '\0');
    const int n = base64_encode(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), text.data(),
                                text.size());
    text.resize(n < 0 ? 0 : static_cast<size_t>(n));
    return text;
}

std::string random_bytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto &c : s) c = static_cast<char>(rng());
    return s;
}

std::string take(char *text) {
    std::string s = text ? text : "(null)";
    std::free(text);
    return s;
}

std::string unfold(const std::string &text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && i + 1 < text.size() && text[i + 1] == ' ') {
            ++i;
            continue;
        }
        out += text[i];
    }
    return out;
}

namespace {

V pairs_from(ekva_pair **slot) {
    V v;
    for (ekva_pair **p = slot; *p; ++p) v.push_back(std::string((*p)->key) + "=" + ((*p)->value ? (*p)->value : "(null)"));
    return v;
}

}  // namespace

V entries(ekva_pair **record) { return pairs_from(record + 1); }

V slots(ekva_pair **record) { return pairs_from(record); }

void Set::push(ekva_pair **record) {
    count = ekva_set_push(&s, record, count, &capacity);
    ekva_free(record);
}

V Set::column(const char *key, const char *absent) const {
    V v;
    for (ekva_pair ***r = s; r && *r; ++r) v.push_back(ekva_get(*r, key) ? ekva_get(*r, key) : absent);
    return v;
}

char **make_list(const V &texts) {
    if (texts.empty()) return static_cast<char **>(calloc(1, sizeof(char *)));
    char **list = nullptr;
    int capacity = 1, n = 0;
    for (const auto &t : texts) n = strlist_push(&list, t.c_str(), n, &capacity);
    return list;
}

V to_vector(char **list) {
    V v;
    for (char **p = list; p && *p; ++p) v.emplace_back(*p);
    return v;
}

LateWriter::LateWriter(std::string path, std::vector<std::string> bursts)
    : path_(std::move(path)), bursts_(std::move(bursts)), thread_([this] { run(); }) {}

void LateWriter::finish() {
    done_ = true;
    if (thread_.joinable()) thread_.join();
}

void LateWriter::run() {
    using namespace std::chrono_literals;
    // A reader that has gone makes a write fail (EPIPE) instead of
    // killing the process.
    sigset_t pipe_signal;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
    std::this_thread::sleep_for(200ms);
    int fd = -1;
    const auto give_up = std::chrono::steady_clock::now() + 10s;
    while (!done_ && std::chrono::steady_clock::now() < give_up) {
        fd = open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0 || errno != ENXIO) break;  // ENXIO: no reader yet
        std::this_thread::sleep_for(5ms);
    }
    if (fd < 0) return;
    bool ok = fcntl(fd, F_SETFL, 0) == 0;  // each write waits for room
    for (size_t i = 0; ok && i < bursts_.size(); ++i) {
        if (i > 0) std::this_thread::sleep_for(50ms);
        for (size_t off = 0; ok && off < bursts_[i].size();) {
            const ssize_t w = write(fd, bursts_[i].data() + off, bursts_[i].size() - off);
            ok = w > 0;
            if (ok) off += static_cast<size_t>(w);
        }
    }
    close(fd);
    wrote_all_ = ok;
}

void fifo_reader_hung(int) {
    static const char message[] = "FIFO reader did not come back (30 s)\n";
    (void)!write(STDERR_FILENO, message, sizeof message - 1);
    _exit(1);
}

}  // namespace testutil
