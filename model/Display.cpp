#include "model/Display.h"

namespace sylvix {

const SharedStr &DisplayField(const SiteNode &node, DisplayMode mode)
{
    switch (mode) {
    case DisplayMode::Hyperlink: return node.href;
    case DisplayMode::FileName: return node.localPath;
    case DisplayMode::Title: return node.title;
    case DisplayMode::Label: return node.label;
    case DisplayMode::Url: break;
    }
    return node.url;
}

std::string DisplayText(const SiteNode &node, DisplayMode mode)
{
    const SharedStr &text = DisplayField(node, mode);
    return text.empty() ? std::string("[none]") : std::string(text.view());
}

namespace {
struct FlagInfo
{
    uint32_t bit;
    char letter;
    const char *name;
};
// Letters go in the order the view draws the state icons; names in bit order.
constexpr FlagInfo kLetterOrder[]
    = {{EXTERNAL, 'E', "EXTERNAL"}, {VIRTUAL, 'V', "VIRTUAL"}, {ISMAP, 'M', "ISMAP"},
       {NOTVER, 'N', "NOTVER"},     {BROKEN, 'B', "BROKEN"},   {INLINED, 'I', "INLINED"}};
constexpr FlagInfo kNameOrder[]
    = {{ISMAP, 'M', "ISMAP"},   {BROKEN, 'B', "BROKEN"},   {EXTERNAL, 'E', "EXTERNAL"},
       {NOTVER, 'N', "NOTVER"}, {VIRTUAL, 'V', "VIRTUAL"}, {INLINED, 'I', "INLINED"}};
} // namespace

std::string FlagLetters(uint32_t flags)
{
    std::string s;
    for (const FlagInfo &f : kLetterOrder)
        s += (flags & f.bit) ? f.letter : '-';
    return s;
}

std::string FlagNames(uint32_t flags)
{
    std::string s;
    for (const FlagInfo &f : kNameOrder) {
        if (flags & f.bit) {
            if (!s.empty())
                s += '|';
            s += f.name;
        }
    }
    return s;
}

} // namespace sylvix
