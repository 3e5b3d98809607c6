#include "cli/RegFile.h"

#include "platform/TextUtil.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

namespace sylvix {

namespace {

constexpr size_t kMaxLineWidth = 80; // exported hex lines, "\" included
constexpr size_t kMaxRegKeyPathBytes = size_t{64} << 20;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = lowerAscii(c);
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// 1 to maxDigits hex digits, nothing else.
bool ParseHexNumber(std::string_view s, size_t maxDigits, uint32_t &out)
{
    if (s.empty() || s.size() > maxDigits)
        return false;
    out = 0;
    for (char c : s) {
        int d = HexDigit(c);
        if (d < 0)
            return false;
        out = (out << 4) | static_cast<uint32_t>(d);
    }
    return true;
}

// A byte that is not valid UTF-8 travels through UTF-16 as a lone low
// surrogate U+DC80..U+DCFF, so that any string value survives export and
// import unchanged.
constexpr uint32_t kEscapedByteBase = 0xdc00;

bool Utf16ToUtf8(std::string_view bytes, bool bigEndian, bool byteEscapes, std::string &out)
{
    if (bytes.size() % 2 != 0)
        return false;
    auto unit = [&](size_t i) -> uint32_t {
        auto b0 = static_cast<unsigned char>(bytes[i]);
        auto b1 = static_cast<unsigned char>(bytes[i + 1]);
        return bigEndian ? (b0 << 8 | b1) : (b1 << 8 | b0);
    };
    out.clear();
    for (size_t i = 0; i < bytes.size(); i += 2) {
        uint32_t u = unit(i);
        if (u >= 0xd800 && u <= 0xdbff && i + 2 < bytes.size()) {
            uint32_t low = unit(i + 2);
            if (low >= 0xdc00 && low <= 0xdfff) {
                appendUtf8(out, 0x10000 + ((u - 0xd800) << 10) + (low - 0xdc00));
                i += 2;
                continue;
            }
        }
        if (u >= 0xd800 && u <= 0xdfff) {
            if (byteEscapes && u >= kEscapedByteBase + 0x80 && u <= kEscapedByteBase + 0xff) {
                out += static_cast<char>(u - kEscapedByteBase);
                continue;
            }
            return false;
        }
        appendUtf8(out, u);
    }
    return true;
}

std::string Utf8ToUtf16Le(std::string_view s)
{
    std::string out;
    auto put = [&](uint32_t u) {
        out += static_cast<char>(u & 0xff);
        out += static_cast<char>(u >> 8);
    };
    for (size_t i = 0; i < s.size();) {
        uint32_t cp = 0;
        size_t len = decodeUtf8(s, i, cp);
        if (len == 0) {
            put(kEscapedByteBase + static_cast<unsigned char>(s[i]));
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            put(0xd800 + ((cp - 0x10000) >> 10));
            put(0xdc00 + ((cp - 0x10000) & 0x3ff));
        } else {
            put(cp);
        }
        i += len;
    }
    return out;
}

std::string Quote(std::string_view s)
{
    std::string out = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

// s[pos] is the opening quote; on success pos is just past the closing one.
// Only \\ and \" are escapes: other backslashes stay as they were written,
// so that hand-written paths like "c:\dir" keep their backslash.
bool ParseQuoted(std::string_view s, size_t &pos, std::string &out)
{
    out.clear();
    for (size_t i = pos + 1; i < s.size(); ++i) {
        char c = s[i];
        if (c == '"') {
            pos = i + 1;
            return true;
        }
        if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"'))
            c = s[++i];
        out += c;
    }
    return false;
}

// Whether s ends inside quotes, for an entry that was inside them (quoted)
// when s began. Only the new piece of an entry is scanned, so that a long run
// of continuation lines costs time linear in its length.
bool EndsQuoted(std::string_view s, bool quoted)
{
    for (size_t i = 0; i < s.size(); ++i) {
        if (quoted && s[i] == '\\')
            ++i;
        else if (s[i] == '"')
            quoted = !quoted;
    }
    return quoted;
}

// A trailing backslash outside quotes continues the entry on the next line.
bool ContinuesOnNextLine(std::string_view s, bool quoted)
{
    return !quoted && !s.empty() && s.back() == '\\';
}

// Names that an exported file could not give back.
bool WritableName(std::string_view name)
{
    return name.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

bool ValidKeyPath(std::string_view path)
{
    if (path.empty())
        return true;
    if (path.front() == '\\' || path.back() == '\\')
        return false;
    return path.find("\\\\") == std::string_view::npos;
}

bool ParseHexBytes(std::string_view list, std::string &out)
{
    out.clear();
    list = Trim(list);
    size_t start = 0;
    while (start < list.size()) {
        size_t comma = list.find(',', start);
        std::string_view token
            = Trim(list.substr(start, comma == list.npos ? list.npos : comma - start));
        uint32_t byte = 0;
        // A comma may end the list (it does before a continuation).
        if (token.empty() && comma == list.npos)
            break;
        if (!ParseHexNumber(token, 2, byte))
            return false;
        out += static_cast<char>(byte);
        if (comma == list.npos)
            break;
        start = comma + 1;
    }
    return true;
}

class RegParser
{
public:
    RegParser(std::string_view fileName, std::vector<RegOperation> &ops)
        : m_fileName(fileName), m_ops(ops)
    {}

    bool parse(std::string_view bytes, std::string &error)
    {
        std::string text;
        std::string why;
        if (!DecodeRegBytes(bytes, text, why)) {
            error = std::string(m_fileName) + ": " + why;
            return false;
        }
        std::vector<std::string_view> lines;
        for (size_t start = 0; start < text.size();) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos)
                end = text.size();
            lines.push_back(std::string_view(text).substr(start, end - start));
            start = end + 1;
        }

        bool header = false;
        for (size_t i = 0; i < lines.size(); ++i) {
            m_line = static_cast<int>(i) + 1;
            std::string_view line = Trim(lines[i]);
            if (!header) {
                if (line.empty())
                    continue;
                if (line == kRegHeader5) {
                    m_version5 = true;
                } else if (line != kRegHeader4) {
                    return fail(std::string("not a registry file: the first line must be \"")
                                    + kRegHeader5 + "\" or \"" + kRegHeader4 + "\"",
                                error);
                }
                header = true;
                continue;
            }
            if (line.empty() || line.front() == ';')
                continue;
            if (line.front() == '[') {
                if (!section(line, error))
                    return false;
                continue;
            }
            if (line.front() != '"' && line.front() != '@')
                return fail("unrecognized line: " + std::string(line), error);

            std::string entry(line);
            bool quoted = EndsQuoted(entry, false);
            while (ContinuesOnNextLine(entry, quoted)) {
                if (i + 1 >= lines.size())
                    return fail("the entry continues past the end of the file", error);
                entry.pop_back();
                while (!entry.empty() && IsBlank(entry.back()))
                    entry.pop_back();
                std::string_view next = Trim(lines[++i]);
                quoted = EndsQuoted(next, quoted);
                entry += next;
            }
            if (!value(entry, error))
                return false;
        }
        if (!header) {
            m_line = 1;
            return fail(std::string("not a registry file: the header \"") + kRegHeader5
                            + "\" is missing",
                        error);
        }
        return true;
    }

private:
    bool fail(const std::string &message, std::string &error) const
    {
        error = std::string(m_fileName) + ":" + std::to_string(m_line) + ": " + message;
        return false;
    }

    bool section(std::string_view line, std::string &error)
    {
        if (line.back() != ']')
            return fail("missing \"]\" at the end of the key line", error);
        std::string_view inner = line.substr(1, line.size() - 2);
        bool remove = !inner.empty() && inner.front() == '-';
        if (remove)
            inner.remove_prefix(1);
        std::string path;
        if (!StripRegRoot(inner, path))
            return fail("unknown root key in \"" + std::string(line)
                            + "\": only HKEY_LOCAL_MACHINE (HKLM) is supported",
                        error);
        if (!ValidKeyPath(path))
            return fail("invalid key path \"" + std::string(inner) + "\"", error);
        if (!WritableName(path))
            return fail("a key name holds a line break or a zero byte", error);
        if (std::count(path.begin(), path.end(), '\\') >= kMaxKeyDepth)
            return fail("keys nest more than " + std::to_string(kMaxKeyDepth) + " deep", error);
        if (remove && path.empty())
            return fail("refusing to delete the whole store", error);

        RegOperation op;
        op.kind = remove ? RegOperation::Kind::DeleteTree : RegOperation::Kind::CreateKey;
        op.keyPath = path;
        op.line = m_line;
        m_ops.push_back(std::move(op));
        m_inKey = !remove;
        return true;
    }

    bool value(std::string_view entry, std::string &error)
    {
        RegOperation op;
        op.line = m_line;
        size_t pos = 1;
        if (entry.front() == '"') {
            pos = 0;
            if (!ParseQuoted(entry, pos, op.name))
                return fail("the value name has no closing quote", error);
        }
        while (pos < entry.size() && IsBlank(entry[pos]))
            ++pos;
        if (pos >= entry.size() || entry[pos] != '=')
            return fail("expected \"=\" after the value name", error);
        std::string_view data = Trim(entry.substr(pos + 1));
        if (!m_inKey)
            return fail("value outside of a key section", error);
        if (!WritableName(op.name))
            return fail("the value name holds a line break or a zero byte", error);
        op.keyPath = m_ops.back().keyPath;
        // Every value carries its key's path: many values under a long path
        // would cost far more than the file's size.
        m_keyPathBytes += op.keyPath.size();
        if (m_keyPathBytes > kMaxRegKeyPathBytes)
            return fail("too many values under long key names", error);

        if (data == "-") {
            op.kind = RegOperation::Kind::DeleteValue;
        } else if (!data.empty() && data.front() == '"') {
            size_t end = 0;
            if (!ParseQuoted(data, end, op.data))
                return fail("the string has no closing quote", error);
            if (end != data.size())
                return fail("unexpected text after the string: " + std::string(data.substr(end)),
                            error);
            op.kind = RegOperation::Kind::SetValue;
            op.type = ValueType::String;
        } else if (startsWithNoCase(data, "dword:")) {
            uint32_t v = 0;
            if (!ParseHexNumber(Trim(data.substr(6)), 8, v))
                return fail("invalid dword (expected 1 to 8 hex digits): " + std::string(data),
                            error);
            op.kind = RegOperation::Kind::SetValue;
            op.type = ValueType::Dword;
            for (int k = 0; k < 4; ++k)
                op.data += static_cast<char>((v >> (8 * k)) & 0xff);
        } else if (startsWithNoCase(data, "hex")) {
            if (!hexValue(data, op, error))
                return false;
        } else {
            return fail("unrecognized value data: " + std::string(data), error);
        }
        m_ops.push_back(std::move(op));
        return true;
    }

    bool hexValue(std::string_view data, RegOperation &op, std::string &error)
    {
        uint32_t type = static_cast<uint32_t>(ValueType::Binary);
        size_t colon = data.find(':');
        if (colon == std::string_view::npos)
            return fail("unrecognized value data: " + std::string(data), error);
        std::string_view kind = data.substr(0, colon);
        if (kind.size() > 5 && kind[3] == '(' && kind.back() == ')') {
            if (!ParseHexNumber(kind.substr(4, kind.size() - 5), 8, type))
                return fail("invalid value type in \"" + std::string(kind) + "\"", error);
        } else if (kind.size() != 3) {
            return fail("unrecognized value data: " + std::string(data), error);
        }
        if (!ParseHexBytes(data.substr(colon + 1), op.data))
            return fail("invalid hex data (expected bytes like 0a,ff): "
                            + std::string(data.substr(colon + 1)),
                        error);
        op.kind = RegOperation::Kind::SetValue;
        op.type = static_cast<ValueType>(type);
        if (op.type == ValueType::String) {
            std::string text;
            if (!m_version5)
                text = op.data;
            else if (!Utf16ToUtf8(op.data, false, true, text))
                return fail("hex(1) data is not UTF-16 text", error);
            if (!text.empty() && text.back() == '\0')
                text.pop_back();
            op.data = std::move(text);
        }
        return true;
    }

    std::string_view m_fileName;
    std::vector<RegOperation> &m_ops;
    int m_line = 0;
    size_t m_keyPathBytes = 0;
    bool m_version5 = false;
    bool m_inKey = false;
};

void AppendHex(std::string &line, std::string_view prefix, std::string_view bytes, bool wrap)
{
    static const char kDigits[] = "0123456789abcdef";
    line += prefix;
    size_t lineStart = line.rfind('\n') == std::string::npos ? 0 : line.rfind('\n') + 1;
    for (size_t i = 0; i < bytes.size(); ++i) {
        // Room for "xx," and the continuation backslash.
        if (wrap && line.size() - lineStart + 4 > kMaxLineWidth) {
            line += "\\\n  ";
            lineStart = line.size() - 2;
        }
        auto b = static_cast<unsigned char>(bytes[i]);
        line += kDigits[b >> 4];
        line += kDigits[b & 15];
        if (i + 1 < bytes.size())
            line += ',';
    }
}

bool ExportValues(ConfigKey &key, const std::string &rooted, std::string &out, std::string &error)
{
    if (!WritableName(rooted)) {
        error = "cannot export key \"" + rooted + "\": its name holds a line break";
        return false;
    }
    out += "[" + rooted + "]\n";
    ConfigValue value;
    for (uint32_t i = 0; key.enumValue(i, value); ++i) {
        if (!WritableName(value.name)) {
            error = "cannot export a value of \"" + rooted + "\": its name holds a line break";
            return false;
        }
        out += FormatRegValue(value);
        out += '\n';
    }
    out += '\n';
    return true;
}

// Depth first without recursion: the store may hold keys nested deeper than
// a thread's stack would take (written before it refused them).
bool ExportKey(std::unique_ptr<ConfigKey> top, std::string rooted, std::string &out,
               std::string &error)
{
    struct Level
    {
        std::unique_ptr<ConfigKey> key;
        size_t pathLength; // of rooted at this level
        uint32_t nextChild = 0;
    };
    std::vector<Level> stack;
    if (!ExportValues(*top, rooted, out, error))
        return false;
    stack.push_back({std::move(top), rooted.size()});
    std::string name;
    while (!stack.empty()) {
        Level &level = stack.back();
        rooted.resize(level.pathLength);
        if (!level.key->enumKey(level.nextChild++, name)) {
            stack.pop_back();
            continue;
        }
        std::unique_ptr<ConfigKey> sub = level.key->openKey(name);
        rooted += "\\" + name;
        if (!sub) {
            error = "cannot open key \"" + rooted + "\"";
            return false;
        }
        if (stack.size() >= static_cast<size_t>(kMaxKeyDepth) + 1) {
            error = "cannot export key \"" + rooted.substr(0, 200) + "...\": keys nest more than "
                    + std::to_string(kMaxKeyDepth) + " deep";
            return false;
        }
        if (!ExportValues(*sub, rooted, out, error))
            return false;
        stack.push_back({std::move(sub), rooted.size()});
    }
    return true;
}

} // namespace

std::string RootedPath(const std::string &relative)
{
    return relative.empty() ? std::string(kRegRootName)
                            : std::string(kRegRootName) + "\\" + relative;
}

bool StripRegRoot(std::string_view text, std::string &relative)
{
    size_t slash = text.find('\\');
    std::string_view head = text.substr(0, slash);
    if (!equalsNoCase(head, kRegRootName) && !equalsNoCase(head, "HKLM"))
        return false;
    relative
        = slash == std::string_view::npos ? std::string() : std::string(text.substr(slash + 1));
    return true;
}

bool DecodeRegBytes(std::string_view bytes, std::string &text, std::string &error)
{
    auto starts = [&](std::string_view bom) { return bytes.substr(0, bom.size()) == bom; };
    bool utf16 = false;
    bool bigEndian = false;
    if (starts("\xef\xbb\xbf")) {
        bytes.remove_prefix(3);
    } else if (starts("\xff\xfe")) {
        utf16 = true;
        bytes.remove_prefix(2);
    } else if (starts("\xfe\xff")) {
        utf16 = bigEndian = true;
        bytes.remove_prefix(2);
    } else if (bytes.size() >= 2 && bytes[0] != '\0' && bytes[1] == '\0') {
        utf16 = true; // UTF-16LE that lost its mark: the header is ASCII
    }
    if (!utf16) {
        text.assign(bytes);
        return true;
    }
    if (!Utf16ToUtf8(bytes, bigEndian, false, text)) {
        error = "invalid UTF-16 text";
        return false;
    }
    return true;
}

bool ParseRegText(std::string_view bytes, std::string_view fileName, std::vector<RegOperation> &ops,
                  std::string &error)
{
    ops.clear();
    RegParser parser(fileName, ops);
    return parser.parse(bytes, error);
}

bool ApplyRegOperations(ConfigStore &store, const std::vector<RegOperation> &ops,
                        std::string_view fileName, std::string &error)
{
    std::string failure;
    bool ok = store.transaction([&] {
        std::unique_ptr<ConfigKey> root = store.root();
        std::unique_ptr<ConfigKey> current;
        for (const RegOperation &op : ops) {
            auto fail = [&](const std::string &what) {
                failure = std::string(fileName) + ":" + std::to_string(op.line) + ": " + what + ": "
                          + store.lastError();
                return false;
            };
            switch (op.kind) {
            case RegOperation::Kind::CreateKey:
                current = root->createKey(op.keyPath);
                if (!current)
                    return fail("cannot create key " + RootedPath(op.keyPath));
                break;
            case RegOperation::Kind::DeleteTree:
                // Deleting what is not there is no error; a failing write
                // still fails the transaction.
                current.reset();
                root->deleteTree(op.keyPath);
                break;
            case RegOperation::Kind::SetValue:
                if (!current || !current->setValue(op.name, op.type, op.data))
                    return fail("cannot set value \"" + op.name + "\" in "
                                + RootedPath(op.keyPath));
                break;
            case RegOperation::Kind::DeleteValue:
                if (current)
                    current->deleteValue(op.name);
                break;
            }
        }
        return true;
    });
    if (!ok)
        error = failure.empty() ? std::string(fileName) + ": import failed: " + store.lastError()
                                : failure;
    return ok;
}

bool ImportRegText(ConfigStore &store, std::string_view bytes, std::string_view fileName,
                   std::string &error)
{
    std::vector<RegOperation> ops;
    return ParseRegText(bytes, fileName, ops, error)
           && ApplyRegOperations(store, ops, fileName, error);
}

bool ReadRegInput(std::FILE *in, std::string_view fileName, std::string &bytes, std::string &error)
{
    bytes.clear();
    char buffer[65536];
    for (;;) {
        const size_t got = std::fread(buffer, 1, sizeof buffer, in);
        if (bytes.size() + got > kMaxRegFileBytes) {
            error = std::string(fileName) + ": the file is larger than "
                    + std::to_string(kMaxRegFileBytes >> 20) + " MB";
            return false;
        }
        bytes.append(buffer, got);
        if (got < sizeof buffer)
            break;
    }
    if (std::ferror(in)) {
        error = "cannot read " + std::string(fileName) + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool ImportRegFile(ConfigStore &store, const std::string &path, std::string &error)
{
    const std::string_view fileName = path == "-" ? std::string_view("(stdin)") : path;
    std::string bytes;
    if (path == "-") {
        if (!ReadRegInput(stdin, fileName, bytes, error))
            return false;
    } else {
        std::FILE *in = std::fopen(path.c_str(), "rb");
        if (!in) {
            error = "cannot read " + path + ": " + std::strerror(errno);
            return false;
        }
        const bool read = ReadRegInput(in, fileName, bytes, error);
        std::fclose(in);
        if (!read)
            return false;
    }
    return ImportRegText(store, bytes, fileName, error);
}

std::string FormatRegValue(const ConfigValue &value, bool wrap)
{
    std::string line = value.name.empty() ? std::string("@") : Quote(value.name);
    line += '=';
    switch (value.type) {
    case ValueType::String:
        if (WritableName(value.data))
            line += Quote(value.data);
        else
            AppendHex(line, "hex(1):", Utf8ToUtf16Le(value.data) + std::string(2, '\0'), wrap);
        break;
    case ValueType::Dword:
        if (value.data.size() == 4) {
            char digits[16];
            std::snprintf(digits, sizeof digits, "dword:%08x", value.dword());
            line += digits;
        } else {
            AppendHex(line, "hex(4):", value.data, wrap);
        }
        break;
    case ValueType::Binary: AppendHex(line, "hex:", value.data, wrap); break;
    default: {
        char prefix[24];
        std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<uint32_t>(value.type));
        AppendHex(line, prefix, value.data, wrap);
        break;
    }
    }
    return line;
}

bool ExportRegText(ConfigKey &key, std::string &out, std::string &error)
{
    out = std::string(kRegHeader5) + "\n\n";
    std::unique_ptr<ConfigKey> top = key.openKey("");
    if (!top) {
        error = "cannot open key \"" + RootedPath(key.path()) + "\"";
        return false;
    }
    return ExportKey(std::move(top), RootedPath(key.path()), out, error);
}

bool ExportRegFile(ConfigKey &key, const std::string &path, std::string &error)
{
    std::string text;
    if (!ExportRegText(key, text, error))
        return false;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

} // namespace sylvix
