#pragma once

// Immutable strings interned in one process-wide pool: a tree of a large site
// repeats the same schemes, hosts, directories, types and URLs hundreds of
// thousands of times, and each distinct text is kept once.
// Reference counts are not atomic: nodes live on one thread.

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace sylvix {

class SharedStr
{
public:
    SharedStr() = default;
    SharedStr(std::string_view text); // interns
    SharedStr(const char *text) : SharedStr(text ? SharedStr(std::string_view(text)) : SharedStr())
    {}
    SharedStr(const SharedStr &o) : m_e(o.m_e) { retain(); }
    SharedStr(SharedStr &&o) noexcept : m_e(o.m_e) { o.m_e = nullptr; }
    SharedStr &operator=(const SharedStr &o);
    SharedStr &operator=(SharedStr &&o) noexcept;
    ~SharedStr() { release(); }

    bool present() const { return m_e != nullptr; }
    explicit operator bool() const { return present(); }
    // "" when absent
    const char *c_str() const { return m_e ? m_e->text : ""; }
    std::string_view view() const
    {
        return m_e ? std::string_view(m_e->text, m_e->len) : std::string_view();
    }
    std::string str() const { return std::string(view()); }
    size_t size() const { return m_e ? m_e->len : 0; }
    bool empty() const { return size() == 0; }
    void reset()
    {
        release();
        m_e = nullptr;
    }

    // Interned: equal texts share one entry, so identity is equality.
    const void *id() const { return m_e; }
    bool operator==(const SharedStr &o) const { return m_e == o.m_e; }

    struct Entry
    {
        uint32_t refs;
        uint32_t len;
        size_t hash;
        void *tag; // see tag()
        char text[1];
    };

    // One pointer kept with the text while it is alive, null at first, for
    // the one user that looks texts up by identity on every link (the
    // equivalence index): reading it costs no hash look-up. Only for a
    // present string.
    void *&tag() const { return m_e->tag; }

    uint32_t useCount() const { return m_e ? m_e->refs : 0; }

    static size_t poolSize();  // distinct texts alive
    static size_t poolBytes(); // bytes held by them

private:
    void retain()
    {
        if (m_e)
            ++m_e->refs;
    }
    void release();
    Entry *m_e = nullptr;
};

} // namespace sylvix
