#include "props/PropertyRules.h"

#include "model/Config.h"
#include "platform/ConfigStore.h"
#include "platform/TextUtil.h"

#include <algorithm>
#include <climits>
#include <cstdio>

namespace sylvix {

namespace {

// Cuts s to at most max bytes without splitting a UTF-8 sequence.
void cutBytes(std::string &s, size_t max)
{
    if (s.size() <= max)
        return;
    size_t end = max;
    while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80)
        --end;
    s.resize(end);
}

std::string firstWord(std::string s)
{
    s.resize(std::min(s.find(' '), s.size()));
    return s;
}

std::string slashes(std::string s)
{
    std::replace(s.begin(), s.end(), '\\', '/');
    return s;
}

} // namespace

SheetPages PagesFor(const SiteNode &node, int selector)
{
    SheetPages pages;
    const bool local = !(node.flags & EXTERNAL);
    pages.access = local;
    pages.diagnostics = node.kind == Html;
    pages.activity = local;
    switch (selector) {
    case PageAccess: pages.first = pages.access ? 1 : 0; break;
    case PageDiagnostics: pages.first = pages.diagnostics ? (pages.access ? 2 : 1) : 0; break;
    case PageActivity:
        pages.first = pages.activity ? 1 + int(pages.access) + int(pages.diagnostics) : 0;
        break;
    default: pages.first = 0; break;
    }
    return pages;
}

std::string PropertiesCaption(std::string_view href)
{
    std::string caption = "Properties for ";
    caption += href;
    cutBytes(caption, 255);
    return caption;
}

bool RaiseRevNumber(ConfigKey &key)
{
    ConfigValue value;
    if (!key.queryValue("RevNumber", value, 4) || value.type != ValueType::Binary)
        return false;
    uint32_t number = 0;
    for (size_t i = 0; i < value.data.size(); ++i)
        number |= uint32_t(static_cast<unsigned char>(value.data[i])) << (8 * i);
    ++number; // unsigned: 0xFFFFFFFF wraps to 0
    std::string bytes(value.data.size(), '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>((number >> (8 * i)) & 0xFF);
    return key.setValue("RevNumber", ValueType::Binary, bytes);
}

std::string SizeText(int64_t size)
{
    if (size <= 0)
        return {};
    return std::to_string((size - 1) / 1000 + 1);
}

std::string ModifiedText(time_t t)
{
    struct tm local;
    if (!localtime_r(&t, &local) || local.tm_year + 1900 > 9999 || local.tm_year + 1900 < 0)
        return {};
    char text[32];
    if (!std::strftime(text, sizeof text, "%a %b %d %H:%M:%S %Y", &local))
        return {};
    return text;
}

GeneralTexts MakeGeneralTexts(const SiteNode &node)
{
    GeneralTexts t;
    t.label = node.label.empty() ? std::string("(none)") : node.label.str();
    t.hyperlink = node.href.str();
    t.url = node.url.str();
    if (node.flags & NOTVER)
        return t;
    if (!(node.flags & BROKEN)) {
        t.fileName = node.localPath.str();
        t.contentType = node.mimeType.str();
        t.modified = ModifiedText(time_t(node.stat.mtime));
        t.size = SizeText(node.stat.size);
        t.title = node.title.str();
    } else if (!(node.flags & EXTERNAL)) {
        t.fileName = node.localPath.str();
    }
    return t;
}

char SeverityLetter(int32_t level)
{
    switch (level) {
    case 0: return 'I';
    case 1: return 'W';
    case 2: return 'E';
    default: return '!';
    }
}

std::string DiagnosticLine(const DiagnosticRecord &record)
{
    std::string line = std::to_string(record.line);
    line += '\t';
    line += SeverityLetter(record.level);
    line += '\t';
    line += record.message;
    cutBytes(line, 4095);
    return line;
}

int ParseDayCount(std::string_view text)
{
    text = text.substr(0, 15);
    size_t i = 0;
    long long value = 0;
    if (!readCNumber(text, i, INT_MAX, value) || value < 0)
        return 0;
    return int(value);
}

std::optional<ServerPaths> LocalServerPaths(ConfigStore *local)
{
    if (!local)
        return std::nullopt;
    auto root = local->root();
    auto server = root ? root->openKey(kServerKeyPath) : nullptr;
    if (!server)
        return std::nullopt;
    ServerPaths paths;
    auto docMap = server->openKey("DocMap");
    auto dirIndex = server->openKey("DirIndex");
    if (!ReadString(*server, "ServerRoot", paths.serverRoot) || !docMap
        || !ReadString(*docMap, "/", paths.docRoot) || !dirIndex
        || !ReadString(*dirIndex, "IndexDoc", paths.indexDoc))
        return std::nullopt;
    paths.serverRoot = slashes(firstWord(paths.serverRoot));
    paths.docRoot = slashes(firstWord(paths.docRoot));
    paths.indexDoc = firstWord(paths.indexDoc);
    if (paths.serverRoot.empty() || paths.docRoot.empty())
        return std::nullopt; // an empty root would place every file
    return paths;
}

std::optional<std::string> ActivityKey(const SiteNode &node,
                                       const std::optional<ServerPaths> &paths)
{
    const std::string href = node.href.str();
    if (node.localPath.empty())
        return href;
    if (!paths)
        return std::nullopt;
    const std::string file = slashes(node.localPath.str());
    const size_t root = file.find(paths->serverRoot);
    if (root == std::string::npos)
        return std::nullopt;
    // The path starts at the last character of the directory that serves
    // "/", or failing that of the server root: its trailing slash.
    const size_t docs = file.find(paths->docRoot, root);
    const size_t start = docs != std::string::npos ? docs + paths->docRoot.size() - 1
                                                   : root + paths->serverRoot.size() - 1;
    std::string path = file.substr(start);
    if (!paths->indexDoc.empty()) {
        const size_t index = path.find(paths->indexDoc);
        if (index != std::string::npos)
            path.resize(index);
    }
    if (href.starts_with("http:") || href.starts_with('#') || href.starts_with('.'))
        return path;
    return href;
}

std::string ActivityLine(const LogRecord &record)
{
    std::string line = record.status + '\t' + record.time + '\t' + record.client;
    cutBytes(line, 1023);
    return line;
}

} // namespace sylvix
