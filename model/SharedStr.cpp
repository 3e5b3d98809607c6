#include "model/SharedStr.h"

#include <cstddef>
#include <cstdlib>
#include <functional>
#include <new>
#include <unordered_set>

namespace sylvix {

namespace {

struct EntryHash
{
    using is_transparent = void;
    size_t operator()(const SharedStr::Entry *e) const { return e->hash; }
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>()(s); }
};

struct EntryEq
{
    using is_transparent = void;
    static std::string_view v(const SharedStr::Entry *e) { return {e->text, e->len}; }
    static std::string_view v(std::string_view s) { return s; }
    template<class A, class B>
    bool operator()(const A &a, const B &b) const { return v(a) == v(b); }
};

struct Pool
{
    std::unordered_set<SharedStr::Entry *, EntryHash, EntryEq> entries;
    size_t bytes = 0;
};

Pool &pool()
{
    // Never destroyed: strings may outlive static destruction order.
    static Pool *p = new Pool;
    return *p;
}

} // namespace

SharedStr::SharedStr(std::string_view text)
{
    Pool &p = pool();
    size_t h = std::hash<std::string_view>()(text);
    auto it = p.entries.find(text);
    if (it != p.entries.end()) {
        m_e = *it;
        ++m_e->refs;
        return;
    }
    size_t bytes = offsetof(Entry, text) + text.size() + 1;
    void *mem = std::malloc(bytes);
    if (!mem)
        throw std::bad_alloc();
    m_e = static_cast<Entry *>(mem);
    m_e->refs = 1;
    m_e->len = static_cast<uint32_t>(text.size());
    m_e->hash = h;
    if (!text.empty())
        std::memcpy(m_e->text, text.data(), text.size());
    m_e->text[text.size()] = '\0';
    p.entries.insert(m_e);
    p.bytes += bytes;
}

SharedStr &SharedStr::operator=(const SharedStr &o)
{
    if (m_e != o.m_e) {
        Entry *old = m_e;
        m_e = o.m_e;
        retain();
        if (old) {
            SharedStr tmp;
            tmp.m_e = old; // releases on scope exit
        }
    }
    return *this;
}

SharedStr &SharedStr::operator=(SharedStr &&o) noexcept
{
    if (this != &o) {
        release();
        m_e = o.m_e;
        o.m_e = nullptr;
    }
    return *this;
}

void SharedStr::release()
{
    if (m_e && --m_e->refs == 0) {
        Pool &p = pool();
        p.entries.erase(m_e);
        p.bytes -= offsetof(Entry, text) + m_e->len + 1;
        std::free(m_e);
    }
    m_e = nullptr;
}

size_t SharedStr::poolSize() { return pool().entries.size(); }
size_t SharedStr::poolBytes() { return pool().bytes; }

} // namespace sylvix
