// A C++ program on the installed library: writes one attribute line and reads
// it back. The headers are included in the "ldif/ldif.h" form.
#include "ldif/ldif.h"

#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

namespace {
struct Free {
    void operator()(void *p) const { std::free(p); }
};
using Owned = std::unique_ptr<char, Free>;
}  // namespace

int main() {
    int count = 0, len = 0, binary = 0;
    Owned text(ldif_write_attr(nullptr, &count, "cn", "x\n", 2, LDIF_ENC_AUTO));
    if (!text) return 1;
    std::cout << text.get();
    char *name = nullptr, *value = nullptr;
    if (!ldif_parse_line(text.get(), count, &name, &value, &len, &binary)) return 1;
    Owned n(name), v(value);
    std::cout << "read " << n.get() << ": " << len << " bytes, binary " << binary << "\n";
    return 0;
}
