// The way back: see decode.h.
#include "decode.h"

#include <cstdio>

namespace kestrin::tool {

struct LdifValue::Impl {
    std::string attr;
    size_t size = 0;
};

LdifValue::LdifValue() : impl_(std::make_unique<Impl>()) {}
LdifValue::~LdifValue() = default;

int LdifValue::prepare(Input &input, const std::string &attr) {
    (void)input;
    impl_->attr = attr;
    std::fprintf(stderr, "No value of <%s> in the input\n", attr.c_str());
    return 1;
}

size_t LdifValue::size() const { return impl_->size; }

Written LdifValue::write(Input &input, int fd) {
    (void)input;
    (void)fd;
    return Written::kOk;
}

}  // namespace kestrin::tool
