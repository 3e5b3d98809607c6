#include "cli/RegFile.h"

#include "tests/platform/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace sylvix {
namespace {

namespace fs = std::filesystem;
using Kind = RegOperation::Kind;

std::string Le32(uint32_t v)
{
    return std::string{static_cast<char>(v & 0xff), static_cast<char>((v >> 8) & 0xff),
                       static_cast<char>((v >> 16) & 0xff), static_cast<char>(v >> 24)};
}

// Everything under key, in store order, as text that two stores can be compared by.
void Dump(ConfigKey &key, std::ostringstream &out)
{
    out << "[" << key.path() << "]\n";
    ConfigValue v;
    for (uint32_t i = 0; key.enumValue(i, v); ++i) {
        out << "  " << v.name << " type " << static_cast<uint32_t>(v.type) << " =";
        for (unsigned char c : v.data)
            out << ' ' << static_cast<int>(c);
        out << "\n";
    }
    std::string name;
    for (uint32_t i = 0; key.enumKey(i, name); ++i)
        Dump(*key.openKey(name), out);
}

std::string Dump(ConfigStore &store)
{
    std::ostringstream out;
    Dump(*store.root(), out);
    return out.str();
}

const std::string kHeader = "Windows Registry Editor Version 5.00\n\n";

struct ParseCase
{
    const char *title;
    std::string text;
    std::vector<RegOperation> expected;
};

RegOperation Op(Kind kind, std::string path, std::string name = {},
                ValueType type = ValueType::String, std::string data = {})
{
    RegOperation op;
    op.kind = kind;
    op.keyPath = std::move(path);
    op.name = std::move(name);
    op.type = type;
    op.data = std::move(data);
    return op;
}

RegOperation Key(std::string path)
{
    return Op(Kind::CreateKey, std::move(path));
}

RegOperation Set(std::string path, std::string name, ValueType type, std::string data)
{
    return Op(Kind::SetValue, std::move(path), std::move(name), type, std::move(data));
}

TEST(RegFileParse, AcceptedForms)
{
    const ParseCase cases[] = {
        {"strings and escapes",
         kHeader
             + "[HKEY_LOCAL_MACHINE\\Soft]\n\"a\\\\b\\\"c\"=\"c:\\\\dir "
               "\\\"x\\\"\"\n\"raw\"=\"c:\\dir\"\n@=\"def\"\n",
         {Key("Soft"), Set("Soft", "a\\b\"c", ValueType::String, "c:\\dir \"x\""),
          Set("Soft", "raw", ValueType::String, "c:\\dir"),
          Set("Soft", "", ValueType::String, "def")}},
        {"dwords, blanks around =, short root",
         kHeader + "[hklm\\A\\B]\n\"n\" = dword:0000001a\n\"m\"=DWORD:FFFFFFFF\n\"z\"=dword:0\n",
         {Key("A\\B"), Set("A\\B", "n", ValueType::Dword, Le32(0x1a)),
          Set("A\\B", "m", ValueType::Dword, Le32(0xffffffff)),
          Set("A\\B", "z", ValueType::Dword, Le32(0))}},
        {"hex with continuation lines, comments, CRLF",
         "\xef\xbb\xbf"
             + std::string("Windows Registry Editor Version 5.00\r\n\r\n; a comment\r\n"
                           "[HKEY_LOCAL_MACHINE\\Bin]\r\n\"b\"=hex:01,02,\\\r\n  ff,\\\r\n   0A\r\n"
                           "\"e\"=hex:\r\n\"t\"=hex(2):41,00,00,00\r\n"),
         {Key("Bin"), Set("Bin", "b", ValueType::Binary, "\x01\x02\xff\x0a"),
          Set("Bin", "e", ValueType::Binary, ""),
          Set("Bin", "t", static_cast<ValueType>(2), std::string("A\0\0\0", 4))}},
        {"hex(1) and hex(4) become string and dword",
         kHeader + "[HKLM\\T]\n\"s\"=hex(1):68,00,e9,00,0a,00,00,00\n\"d\"=hex(4):05,00,00,00\n",
         {Key("T"), Set("T", "s", ValueType::String, "h\xc3\xa9\n"),
          Set("T", "d", ValueType::Dword, Le32(5))}},
        {"REGEDIT4 hex(1) is bytes",
         "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\T]\n\"s\"=hex(1):61,62,00\n",
         {Key("T"), Set("T", "s", ValueType::String, "ab")}},
        {"deletions, URL paths as key names",
         kHeader
             + "[-HKEY_LOCAL_MACHINE\\Old\\Tree]\n[HKEY_LOCAL_MACHINE\\Access\\Basic\\/docs/"
               "]\n\"v\"=-\n@=-\n",
         {Op(Kind::DeleteTree, "Old\\Tree"), Key("Access\\Basic\\/docs/"),
          Op(Kind::DeleteValue, "Access\\Basic\\/docs/", "v"),
          Op(Kind::DeleteValue, "Access\\Basic\\/docs/", "")}},
        {"the root itself, key names with ] and quotes",
         kHeader + "[HKEY_LOCAL_MACHINE]\n\"r\"=\"1\"\n[HKEY_LOCAL_MACHINE\\a]b \"q\"]\n",
         {Key(""), Set("", "r", ValueType::String, "1"), Key("a]b \"q\"")}},
    };
    for (const ParseCase &c : cases) {
        std::vector<RegOperation> ops;
        std::string error;
        ASSERT_TRUE(ParseRegText(c.text, "t.reg", ops, error)) << c.title << ": " << error;
        ASSERT_EQ(ops.size(), c.expected.size()) << c.title;
        for (size_t i = 0; i < ops.size(); ++i) {
            SCOPED_TRACE(std::string(c.title) + ", entry " + std::to_string(i));
            EXPECT_EQ(ops[i].kind, c.expected[i].kind);
            EXPECT_EQ(ops[i].keyPath, c.expected[i].keyPath);
            EXPECT_EQ(ops[i].name, c.expected[i].name);
            if (ops[i].kind == Kind::SetValue) {
                EXPECT_EQ(ops[i].type, c.expected[i].type);
                EXPECT_EQ(ops[i].data, c.expected[i].data);
            }
        }
    }
}

TEST(RegFileParse, ErrorsNameFileAndLine)
{
    struct ErrorCase
    {
        std::string text;
        const char *where;   // expected prefix
        const char *message; // part of the message
    };
    const std::string k = kHeader + "[HKLM\\K]\n"; // lines 1-3
    const ErrorCase cases[] = {
        {"", "t.reg:1: ", "header"},
        {"\n\n[HKLM\\K]\n", "t.reg:3: ", "not a registry file"},
        {"REGEDIT5\n", "t.reg:1: ", "not a registry file"},
        {kHeader + "\"v\"=\"x\"\n", "t.reg:3: ", "outside of a key"},
        {kHeader + "[-HKLM\\K]\n\"v\"=\"x\"\n", "t.reg:4: ", "outside of a key"},
        {kHeader + "[HKEY_CURRENT_USER\\K]\n", "t.reg:3: ", "only HKEY_LOCAL_MACHINE"},
        {kHeader + "[-HKEY_LOCAL_MACHINE]\n", "t.reg:3: ", "whole store"},
        {kHeader + "[HKLM\\K\n", "t.reg:3: ", "missing \"]\""},
        {kHeader + "[HKLM\\a\\\\b]\n", "t.reg:3: ", "invalid key path"},
        {k + "\"d\"=dword:123456789\n", "t.reg:4: ", "invalid dword"},
        {k + "\"d\"=dword:xyz\n", "t.reg:4: ", "invalid dword"},
        {k + "\n\"h\"=hex:01,1g\n", "t.reg:5: ", "invalid hex data"},
        {k + "\"h\"=hex:01,,02\n", "t.reg:4: ", "invalid hex data"},
        {k + "\"h\"=hex(zz):01\n", "t.reg:4: ", "invalid value type"},
        {k + "\"s\"=hex(1):41\n", "t.reg:4: ", "not UTF-16"},
        {k + "\"h\"=hex:01,\\\n  02,\\\n", "t.reg:4: ", "past the end"},
        {k + "\"h\"=hex:01,\\\n  zz\n", "t.reg:4: ", "invalid hex data"},
        {k + "\"s\"=\"open\n", "t.reg:4: ", "no closing quote"},
        {k + "\"s=\"x\"\n", "t.reg:4: ", "expected \"=\""},
        {k + "\"s\"=\"x\" trailing\n", "t.reg:4: ", "unexpected text"},
        {k + "\"s\"=other\n", "t.reg:4: ", "unrecognized value data"},
        {k + "garbage\n", "t.reg:4: ", "unrecognized line"},
    };
    for (const ErrorCase &c : cases) {
        std::vector<RegOperation> ops;
        std::string error;
        EXPECT_FALSE(ParseRegText(c.text, "t.reg", ops, error)) << c.text;
        EXPECT_EQ(error.rfind(c.where, 0), 0u) << c.text << "\n=> " << error;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.text << "\n=> " << error;
    }
}

std::string Utf16Le(const std::u16string &text, bool bom)
{
    std::string out = bom ? "\xff\xfe" : "";
    for (char16_t c : text) {
        out += static_cast<char>(c & 0xff);
        out += static_cast<char>(c >> 8);
    }
    return out;
}

TEST(RegFileImport, Utf16FilesAreDecoded)
{
    TempDir dir;
    std::string error;
    auto store = OpenSqliteStore(dir.file("r.db"), &error);
    ASSERT_TRUE(store) << error;

    const std::u16string text = u"Windows Registry Editor Version 5.00\r\n\r\n"
                                u"[HKEY_LOCAL_MACHINE\\Caf\u00e9]\r\n"
                                u"\"Name\"=\"\u65e5\u672c \U0001F600\"\r\n"
                                u"\"Port\"=dword:00000050\r\n";
    for (bool bom : {true, false}) {
        std::string path = dir.file(bom ? "bom.reg" : "nobom.reg");
        std::ofstream(path, std::ios::binary) << Utf16Le(text, bom);
        ASSERT_TRUE(ImportRegFile(*store, path, error)) << error;
    }
    auto key = store->root()->openKey("Caf\xc3\xa9");
    ASSERT_TRUE(key);
    std::string name;
    ASSERT_TRUE(ReadString(*key, "Name", name));
    EXPECT_EQ(name, "\xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x98\x80");
    uint32_t port = 0;
    EXPECT_TRUE(ReadDword(*key, "Port", port));
    EXPECT_EQ(port, 80u);

    std::string broken = Utf16Le(text, true);
    broken.pop_back(); // odd length
    EXPECT_FALSE(ImportRegText(*store, broken, "odd.reg", error));
    EXPECT_EQ(error, "odd.reg: invalid UTF-16 text");
    EXPECT_FALSE(ImportRegFile(*store, dir.file("missing.reg"), error));
    EXPECT_NE(error.find("missing.reg"), std::string::npos);
}

class RegRoundTrip : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string error;
        source = OpenSqliteStore(dir.file("source.db"), &error);
        target = OpenSqliteStore(dir.file("target.db"), &error);
        ASSERT_TRUE(source && target) << error;
    }

    void fill()
    {
        auto root = source->root();
        auto server = root->createKey("SOFTWARE\\Tavrin\\WebServer\\CurrentVersion");
        WriteString(*server, "ServerName", "localhost");
        WriteDword(*server, "TCP Port", 8080);
        WriteBinary32(*server, "RevNumber", 7);
        WriteString(*server, "", "default value");
        WriteString(*server, "@", "a value named @");
        WriteString(*server, "quotes \"and\" \\slashes\\", "c:\\root\\ \"quoted\" \\");
        WriteString(*server, "lines", std::string("one\r\ntwo\nthree\0four", 19));
        WriteString(*server, "text with ] and = and ;", "\xc3\xa9\xe6\x97\xa5 \xf0\x9f\x98\x80");
        WriteString(*server, "bad utf-8", std::string("\xff\xfe\xc3 \n", 5));
        WriteString(*server, "empty", "");
        std::string bytes;
        for (int i = 0; i < 200; ++i)
            bytes += static_cast<char>(i * 7);
        server->setValue(std::string(70, 'L'), ValueType::Binary, bytes);
        server->setValue("multi", static_cast<ValueType>(7), std::string("a\0b\0\0", 5));
        server->setValue("odd dword", ValueType::Dword, "\x01\x02\x03");
        server->setValue("no data", ValueType::Binary, "");
        WriteString(*server, "ServerName", "example.org"); // keeps its place

        auto basic = server->createKey("Access\\Basic");
        for (const char *path : {"/zeta/", "/", "/docs/a b]c/"}) {
            auto key = basic->createKey(path);
            WriteBinary32(*key, "Order", 1);
            key->createKey("*deny");
            WriteString(*key->createKey("*allow"), "0001", "all");
        }
        root->createKey("Empty\\Deeper\\Still");
        WriteString(*root, "at the root", "r");
    }

    TempDir dir;
    std::unique_ptr<ConfigStore> source;
    std::unique_ptr<ConfigStore> target;
};

TEST_F(RegRoundTrip, ExportThenImportGivesTheSameStore)
{
    fill();
    std::string text;
    std::string error;
    ASSERT_TRUE(ExportRegText(*source->root(), text, error)) << error;
    ASSERT_TRUE(ImportRegText(*target, text, "export.reg", error)) << error;
    EXPECT_EQ(Dump(*target), Dump(*source));

    std::string again;
    ASSERT_TRUE(ExportRegText(*target->root(), again, error)) << error;
    EXPECT_EQ(again, text);

    // Importing onto the same content changes nothing, order included.
    ASSERT_TRUE(ImportRegText(*source, text, "export.reg", error)) << error;
    EXPECT_EQ(Dump(*source), Dump(*target));

    // Hex data wraps like the standard tool: 80 columns, continuation lines.
    std::istringstream lines(text);
    std::string line;
    int continued = 0;
    while (std::getline(lines, line)) {
        if (line.rfind("  ", 0) == 0)
            ++continued;
        if (line.find("=hex") != std::string::npos || line.rfind("  ", 0) == 0) {
            EXPECT_LE(line.size(), 80u) << line;
        }
    }
    EXPECT_GT(continued, 5);
    EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE]\n", 0), 0u);
    EXPECT_NE(text.find("\"TCP Port\"=dword:00001f90\n"), std::string::npos);
    EXPECT_NE(text.find("@=\"default value\"\n"), std::string::npos);
}

TEST_F(RegRoundTrip, ExportOfOneKeyHoldsItsSubtreeOnly)
{
    fill();
    std::string text;
    std::string error;
    auto basic
        = source->root()->openKey("software\\tavrin\\webserver\\currentversion\\access\\basic");
    ASSERT_TRUE(basic);
    ASSERT_TRUE(ExportRegText(*basic, text, error)) << error;
    EXPECT_EQ(text.find("ServerName"), std::string::npos);
    EXPECT_NE(
        text.find("[HKEY_LOCAL_"
                  "MACHINE\\SOFTWARE\\Tavrin\\WebServer\\CurrentVersion\\Access\\Basic\\/docs/a "
                  "b]c/\\*allow]\n\"0001\"=\"all\"\n"),
        std::string::npos)
        << text;
    ASSERT_TRUE(ImportRegText(*target, text, "part.reg", error)) << error;
    EXPECT_EQ(target->root()->openKey("SOFTWARE\\Tavrin\\WebServer\\CurrentVersion")->countValues(),
              0u);
    EXPECT_EQ(target->root()
                  ->openKey("SOFTWARE\\Tavrin\\WebServer\\CurrentVersion\\Access\\Basic")
                  ->countKeys(),
              3u);

    WriteString(*source->root()->createKey("Bad"), "line\nbreak", "x");
    EXPECT_FALSE(ExportRegText(*source->root(), text, error));
    EXPECT_NE(error.find("line break"), std::string::npos);
}

TEST_F(RegRoundTrip, ImportIsAllOrNothing)
{
    fill();
    const std::string before = Dump(*source);
    std::string error;

    std::string text
        = kHeader + "[-HKEY_LOCAL_MACHINE\\SOFTWARE]\n[HKEY_LOCAL_MACHINE\\New]\n\"a\"=\"1\"\n";
    for (int i = 0; i < 50; ++i)
        text += "\"v" + std::to_string(i) + "\"=dword:00000001\n";
    text += "\"last\"=dword:nothex\n";
    EXPECT_FALSE(ImportRegText(*source, text, "bad.reg", error));
    EXPECT_EQ(error.rfind("bad.reg:56: ", 0), 0u) << error;
    EXPECT_EQ(Dump(*source), before);

    // A failure while applying rolls back what was applied before it.
    std::vector<RegOperation> ops;
    ASSERT_TRUE(ParseRegText(kHeader + "[-HKLM\\SOFTWARE]\n[HKLM\\New]\n\"a\"=\"1\"\n", "ok.reg",
                             ops, error));
    RegOperation broken;
    broken.kind = Kind::CreateKey;
    broken.keyPath = "New\\\\Bad";
    broken.line = 9;
    ops.push_back(broken);
    EXPECT_FALSE(ApplyRegOperations(*source, ops, "ok.reg", error));
    EXPECT_EQ(error.rfind("ok.reg:9: cannot create key", 0), 0u) << error;
    EXPECT_EQ(Dump(*source), before);
}

} // namespace
} // namespace sylvix
