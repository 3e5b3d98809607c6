#include "model/SharedStr.h"

#include <cstddef>
#include <cstdlib>
#include <functional>
#include <new>
#include <vector>

namespace sylvix {

namespace {

// Open addressing with linear probing; each slot keeps the hash beside the
// entry so that most probes never touch the entry itself. Deletion shifts
// later slots back, so there are no tombstones.
struct Pool
{
    struct Slot
    {
        size_t hash = 0;
        SharedStr::Entry *entry = nullptr;
    };
    std::vector<Slot> slots = std::vector<Slot>(1024);
    size_t count = 0;
    size_t bytes = 0;

    size_t mask() const { return slots.size() - 1; }

    static bool same(const SharedStr::Entry *e, size_t h, std::string_view text)
    {
        // An empty view may have no data pointer, which memcmp must not get.
        return e->hash == h && e->len == text.size()
               && (text.empty() || std::memcmp(e->text, text.data(), text.size()) == 0);
    }

    SharedStr::Entry *find(size_t h, std::string_view text) const
    {
        for (size_t i = h & mask();; i = (i + 1) & mask()) {
            const Slot &s = slots[i];
            if (!s.entry)
                return nullptr;
            if (s.hash == h && same(s.entry, h, text))
                return s.entry;
        }
    }

    void place(size_t h, SharedStr::Entry *e)
    {
        size_t i = h & mask();
        while (slots[i].entry)
            i = (i + 1) & mask();
        slots[i] = Slot{h, e};
    }

    void insert(SharedStr::Entry *e)
    {
        if ((count + 1) * 4 > slots.size() * 3) {
            std::vector<Slot> old(slots.size() * 2);
            old.swap(slots);
            for (const Slot &s : old)
                if (s.entry)
                    place(s.hash, s.entry);
        }
        place(e->hash, e);
        ++count;
    }

    void erase(SharedStr::Entry *e)
    {
        size_t i = e->hash & mask();
        while (slots[i].entry != e)
            i = (i + 1) & mask();
        // Backward shift: move later members of the run into the hole when
        // their home slot is at or before it.
        for (size_t j = (i + 1) & mask();; j = (j + 1) & mask()) {
            if (!slots[j].entry)
                break;
            size_t home = slots[j].hash & mask();
            bool movable = (j > i) ? (home <= i || home > j) : (home <= i && home > j);
            if (movable) {
                slots[i] = slots[j];
                i = j;
            }
        }
        slots[i] = Slot{};
        --count;
    }
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
    if (Entry *e = p.find(h, text)) {
        m_e = e;
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
    m_e->tag = nullptr;
    if (!text.empty())
        std::memcpy(m_e->text, text.data(), text.size());
    m_e->text[text.size()] = '\0';
    p.insert(m_e);
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
        p.erase(m_e);
        p.bytes -= offsetof(Entry, text) + m_e->len + 1;
        std::free(m_e);
    }
    m_e = nullptr;
}

size_t SharedStr::poolSize()
{
    return pool().count;
}
size_t SharedStr::poolBytes()
{
    return pool().bytes;
}

} // namespace sylvix
