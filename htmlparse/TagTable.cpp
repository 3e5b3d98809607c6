#include "htmlparse/TagTable.h"

#include "htmlparse/HtmlParse.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace sylvix::html {
namespace {

struct TagName
{
    std::string_view name;
    int tag;
};

// The numbers are part of what callers see: never renumber, only append.
constexpr TagName kTags[] = {
    {"a", TagAnchor},    {"base", TagBase},   {"form", TagForm},   {"img", TagImg},
    {"input", TagInput}, {"image", TagImage}, {"title", TagTitle}, {"abbr", 43},
    {"acronym", 44},     {"address", 45},     {"applet", 46},      {"area", 47},
    {"article", 48},     {"aside", 49},       {"audio", 50},       {"b", 51},
    {"basefont", 52},    {"bdi", 53},         {"bdo", 54},         {"bgsound", 55},
    {"big", 56},         {"blink", 57},       {"blockquote", 58},  {"body", 59},
    {"br", 60},          {"button", 61},      {"canvas", 62},      {"caption", 63},
    {"center", 64},      {"cite", 65},        {"code", 66},        {"col", 67},
    {"colgroup", 68},    {"data", 69},        {"datalist", 70},    {"dd", 71},
    {"del", 72},         {"details", 73},     {"dfn", 74},         {"dialog", 75},
    {"dir", 76},         {"div", 77},         {"dl", 78},          {"dt", 79},
    {"em", 80},          {"embed", 81},       {"fieldset", 82},    {"figcaption", 83},
    {"figure", 84},      {"font", 85},        {"footer", 86},      {"frame", 87},
    {"frameset", 88},    {"h1", 89},          {"h2", 90},          {"h3", 91},
    {"h4", 92},          {"h5", 93},          {"h6", 94},          {"head", 95},
    {"header", 96},      {"hgroup", 97},      {"hr", 98},          {"html", 99},
    {"i", 100},          {"iframe", 101},     {"ilayer", 102},     {"ins", 103},
    {"isindex", 104},    {"kbd", 105},        {"keygen", 106},     {"label", 107},
    {"layer", 108},      {"legend", 109},     {"li", 110},         {"link", 111},
    {"listing", 112},    {"main", 113},       {"map", 114},        {"mark", 115},
    {"marquee", 116},    {"math", 117},       {"menu", 118},       {"menuitem", 119},
    {"meta", 120},       {"meter", 121},      {"multicol", 122},   {"nav", 123},
    {"nobr", 124},       {"noembed", 125},    {"noframes", 126},   {"nolayer", 127},
    {"noscript", 128},   {"object", 129},     {"ol", 130},         {"optgroup", 131},
    {"option", 132},     {"output", 133},     {"p", 134},          {"param", 135},
    {"picture", 136},    {"plaintext", 137},  {"pre", 138},        {"progress", 139},
    {"q", 140},          {"rb", 141},         {"rp", 142},         {"rt", 143},
    {"rtc", 144},        {"ruby", 145},       {"s", 146},          {"samp", 147},
    {"script", 148},     {"search", 149},     {"section", 150},    {"select", 151},
    {"server", 152},     {"slot", 153},       {"small", 154},      {"source", 155},
    {"spacer", 156},     {"span", 157},       {"strike", 158},     {"strong", 159},
    {"style", 160},      {"sub", 161},        {"summary", 162},    {"sup", 163},
    {"svg", 164},        {"table", 165},      {"tbody", 166},      {"td", 167},
    {"template", 168},   {"textarea", 169},   {"tfoot", 170},      {"th", 171},
    {"thead", 172},      {"time", 173},       {"tr", 174},         {"track", 175},
    {"tt", 176},         {"u", 177},          {"ul", 178},         {"var", 179},
    {"video", 180},      {"wbr", 181},        {"xmp", 182},
};

constexpr size_t kSlots = 512; // power of two, under half full
constexpr size_t kMaxName = 16;

constexpr uint32_t Hash(std::string_view s)
{
    uint32_t h = 2166136261u;
    for (char c : s) {
        h ^= static_cast<unsigned char>(c);
        h *= 16777619u;
    }
    return h;
}

constexpr bool TableIsSound()
{
    constexpr size_t n = std::size(kTags);
    if (n * 2 > kSlots)
        return false;
    for (size_t i = 0; i < n; ++i) {
        if (kTags[i].name.empty() || kTags[i].name.size() > kMaxName || kTags[i].tag < 0
            || kTags[i].tag >= OtherTag)
            return false;
        for (char c : kTags[i].name)
            if (c >= 'A' && c <= 'Z')
                return false;
        for (size_t j = i + 1; j < n; ++j)
            if (kTags[i].name == kTags[j].name || kTags[i].tag == kTags[j].tag)
                return false;
    }
    return true;
}
static_assert(TableIsSound(), "tag names and numbers must be unique, lower case and short");

// Open addressing, built at compile time: slot -> index into kTags, or -1.
constexpr auto kSlotTable = [] {
    std::array<int16_t, kSlots> slots{};
    for (auto &s : slots)
        s = -1;
    for (size_t i = 0; i < std::size(kTags); ++i) {
        size_t slot = Hash(kTags[i].name) & (kSlots - 1);
        while (slots[slot] != -1)
            slot = (slot + 1) & (kSlots - 1);
        slots[slot] = static_cast<int16_t>(i);
    }
    return slots;
}();

} // namespace

int TagOfName(const char *name)
{
    if (name == nullptr)
        return OtherTag;
    size_t len = 0;
    uint32_t h = 2166136261u;
    for (; name[len] != '\0'; ++len) {
        if (len == kMaxName)
            return OtherTag;
        h ^= static_cast<unsigned char>(name[len]);
        h *= 16777619u;
    }
    const std::string_view key(name, len);
    for (size_t slot = h & (kSlots - 1);; slot = (slot + 1) & (kSlots - 1)) {
        const int index = kSlotTable[slot];
        if (index < 0)
            return OtherTag;
        if (kTags[index].name == key)
            return kTags[index].tag;
    }
}

} // namespace sylvix::html
