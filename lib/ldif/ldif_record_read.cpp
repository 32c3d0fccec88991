// Whole records: the items of one record gathered into an ldif_record
// (ldif_record_reader_read), and its release.
#include <bit>
#include <cstdlib>
#include <cstring>

#include "ldif/ldif.h"
#include "ldif/ldif_record_internal.h"
#include "util/alloc_internal.h"

namespace kestrin::ldif::record {
namespace {

// A new zeroed slot at the end of an array of count elements (grown to 4,
// then doubled whenever it is full); null when memory runs out.
template <class T>
T *add_slot(T *&array, size_t &count) {
    if (count == 0 || (count >= 4 && std::has_single_bit(count))) {
        void *grown = mem::reallocate(array, (count == 0 ? 4 : count * 2) * sizeof(T));
        if (!grown) return nullptr;
        array = static_cast<T *>(grown);
    }
    T *slot = &array[count++];
    *slot = T{};
    return slot;
}

// A malloc'd copy of the bytes, NUL after them.
bool copy_into(char *&to, size_t &len, const char *bytes, size_t n) {
    to = mem::duplicate({bytes ? bytes : "", n});
    len = n;
    return to != nullptr;
}

void free_value(ldif_value &v) { std::free(v.bytes); }

}  // namespace

Assembly::~Assembly() { ldif_record_free(record_); }

Assembly::Took Assembly::add(const ldif_record_item &item) {
    switch (item.kind) {
        case LDIF_REC_NEED_INPUT:
        case LDIF_REC_DONE: return kPassOn;
        case LDIF_REC_ERROR: {
            // The record read so far is given up; one that ran out of
            // memory has been reported already.
            ldif_record_free(take());
            const bool reported = skipping_;
            skipping_ = false;
            return reported ? kMore : kPassOn;
        }
        case LDIF_REC_END:
            if (!skipping_) return kWhole;
            skipping_ = false;
            return kMore;
        default:
            if (skipping_) return kMore;
            if (grow(item)) return kMore;
            ldif_record_free(take());
            skipping_ = true;
            return kOutOfMemory;
    }
}

ldif_record *Assembly::take() {
    ldif_record *r = record_;
    record_ = nullptr;
    open_ = nullptr;
    return r;
}

bool Assembly::grow(const ldif_record_item &item) {
    if (item.kind == LDIF_REC_BEGIN) {
        record_ = static_cast<ldif_record *>(mem::allocate(sizeof(ldif_record)));
        if (!record_) return false;
        *record_ = ldif_record{};
        record_->change = item.change;
        record_->line = item.line;
        return copy_into(record_->dn, record_->dn_len, item.value, item.value_len);
    }
    ldif_record &r = *record_;
    switch (item.kind) {
        case LDIF_REC_CONTROL: {
            ldif_control *c = add_slot(r.controls, r.control_count);
            if (!c) return false;
            c->critical = item.flag;
            c->value.form = item.form;
            size_t oid_len = 0;
            if (!copy_into(c->oid, oid_len, item.name, item.name_len)) return false;
            return !item.value || copy_into(c->value.bytes, c->value.len, item.value, item.value_len);
        }
        case LDIF_REC_VALUE: {
            if (open_) return append(item);
            if (r.change == LDIF_CHANGE_MODIFY) {
                ldif_mod &m = r.mods[r.mod_count - 1];
                open_ = add_slot(m.values, m.value_count);
            } else {
                ldif_attr *a = add_slot(r.attrs, r.attr_count);
                size_t name_len = 0;
                if (a && !copy_into(a->name, name_len, item.name, item.name_len)) return false;
                open_ = a ? &a->value : nullptr;
            }
            open_room_ = 0;
            return open_ && append(item);
        }
        case LDIF_REC_MOD_BEGIN: {
            ldif_mod *m = add_slot(r.mods, r.mod_count);
            if (!m) return false;
            m->op = item.op;
            size_t name_len = 0;
            return copy_into(m->name, name_len, item.name, item.name_len);
        }
        case LDIF_REC_NEWRDN: return copy_into(r.newrdn, r.newrdn_len, item.value, item.value_len);
        case LDIF_REC_DELETEOLDRDN: r.deleteoldrdn = item.flag; return true;
        case LDIF_REC_NEWSUPERIOR: return copy_into(r.newsuperior, r.newsuperior_len, item.value, item.value_len);
        default: return true;  // LDIF_REC_MOD_END
    }
}

// A piece of the open value, appended (the room doubled as it fills).
bool Assembly::append(const ldif_record_item &item) {
    ldif_value &v = *open_;
    v.form = item.form;
    const size_t need = v.len + item.value_len + 1;
    if (need > open_room_) {
        const size_t room = std::max(need, 2 * open_room_);
        void *grown = mem::reallocate(v.bytes, room);
        if (!grown) return false;
        v.bytes = static_cast<char *>(grown);
        open_room_ = room;
    }
    if (item.value_len > 0) std::memcpy(v.bytes + v.len, item.value, item.value_len);
    v.len += item.value_len;
    v.bytes[v.len] = '\0';
    if (!item.more) open_ = nullptr;
    return true;
}

}  // namespace kestrin::ldif::record

extern "C" void ldif_record_free(ldif_record *record) noexcept {
    if (!record) return;
    using kestrin::ldif::record::free_value;
    std::free(record->dn);
    for (size_t i = 0; i < record->control_count; ++i) {
        std::free(record->controls[i].oid);
        free_value(record->controls[i].value);
    }
    std::free(record->controls);
    for (size_t i = 0; i < record->attr_count; ++i) {
        std::free(record->attrs[i].name);
        free_value(record->attrs[i].value);
    }
    std::free(record->attrs);
    for (size_t i = 0; i < record->mod_count; ++i) {
        std::free(record->mods[i].name);
        for (size_t k = 0; k < record->mods[i].value_count; ++k) free_value(record->mods[i].values[k]);
        std::free(record->mods[i].values);
    }
    std::free(record->mods);
    std::free(record->newrdn);
    std::free(record->newsuperior);
    std::free(record);
}
