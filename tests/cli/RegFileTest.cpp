#include "cli/RegFile.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

namespace sylvix {
namespace {

using test::TempDir;

using Kind = RegOperation::Kind;

const std::string kHeader = "Windows Registry Editor Version 5.00\n\n";

std::string Utf16Le(std::u16string_view text)
{
    std::string bytes;
    for (char16_t c : text) {
        bytes += static_cast<char>(c & 0xff);
        bytes += static_cast<char>(c >> 8);
    }
    return bytes;
}

std::string Le32(uint32_t v)
{
    return std::string{static_cast<char>(v & 0xff), static_cast<char>((v >> 8) & 0xff),
                       static_cast<char>((v >> 16) & 0xff), static_cast<char>(v >> 24)};
}

RegOperation Op(Kind kind, std::string path, std::string name = {},
                ValueType type = ValueType::String, std::string data = {})
{
    return {kind, std::move(path), std::move(name), type, std::move(data)};
}

TEST(RegFileParse, AcceptedForms)
{
    // Entries: K [key], T [-tree], V "value"=..., X "value"=-.
    constexpr Kind K = Kind::CreateKey, T = Kind::DeleteTree, V = Kind::SetValue,
                   X = Kind::DeleteValue;
    constexpr ValueType S = ValueType::String, D = ValueType::Dword, B = ValueType::Binary;
    const struct
    {
        const char *title;
        std::string text;
        std::vector<RegOperation> expected;
    } cases[] = {
        {"a lone backslash in a string",
         kHeader + "[HKEY_LOCAL_MACHINE\\Soft]\n\"raw\"=\"c:\\dir\"\n",
         {Op(K, "Soft"), Op(V, "Soft", "raw", S, "c:\\dir")}},
        {"dwords, blanks around =, short root",
         kHeader + "[hklm\\A\\B]\n\"n\" = dword:0000001a\n\"m\"=DWORD:FFFFFFFF\n\"z\"=dword:0\n",
         {Op(K, "A\\B"), Op(V, "A\\B", "n", D, Le32(0x1a)), Op(V, "A\\B", "m", D, Le32(0xffffffff)),
          Op(V, "A\\B", "z", D, Le32(0))}},
        {"hex with continuation lines, comments, CRLF, byte-order mark",
         "\xef\xbb\xbf"
         "Windows Registry Editor Version 5.00\r\n\r\n; a comment\r\n"
         "[HKEY_LOCAL_MACHINE\\Bin]\r\n\"b\"=hex:01,02,\\\r\n  ff,\\\r\n   0A\r\n"
         "\"e\"=hex:\r\n\"t\"=hex(2):41,00,00,00\r\n",
         {Op(K, "Bin"), Op(V, "Bin", "b", B, "\x01\x02\xff\x0a"), Op(V, "Bin", "e", B, ""),
          Op(V, "Bin", "t", static_cast<ValueType>(2), std::string("A\0\0\0", 4))}},
        {"hex(1) and hex(4) become string and dword",
         kHeader + "[HKLM\\T]\n\"s\"=hex(1):68,00,e9,00,0a,00,00,00\n\"d\"=hex(4):05,00,00,00\n",
         {Op(K, "T"), Op(V, "T", "s", S, "h\xc3\xa9\n"), Op(V, "T", "d", D, Le32(5))}},
        {"REGEDIT4 hex(1) is bytes",
         "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\T]\n\"s\"=hex(1):61,62,00\n",
         {Op(K, "T"), Op(V, "T", "s", S, "ab")}},
        {"deletions",
         kHeader + "[-HKEY_LOCAL_MACHINE\\Old\\Tree]\n[HKLM\\A]\n\"v\"=-\n@=-\n",
         {Op(T, "Old\\Tree"), Op(K, "A"), Op(X, "A", "v"), Op(X, "A", "")}},
        {"UTF-16 with a byte-order mark",
         "\xff\xfe"
             + Utf16Le(u"Windows Registry Editor Version 5.00\r\n\r\n[HKLM\\Caf\u00e9]\r\n"
                       u"\"N\"=\"\u65e5 \U0001F600\"\r\n\"P\"=dword:00000050\r\n"),
         {Op(K, "Caf\xc3\xa9"), Op(V, "Caf\xc3\xa9", "N", S, "\xe6\x97\xa5 \xf0\x9f\x98\x80"),
          Op(V, "Caf\xc3\xa9", "P", D, Le32(0x50))}},
        {"UTF-16 that lost its mark", Utf16Le(u"REGEDIT4\n\n[HKLM\\K]\n"), {Op(K, "K")}},
    };
    auto fields = [](const RegOperation &op) {
        return std::tie(op.kind, op.keyPath, op.name, op.type, op.data);
    };
    for (const auto &c : cases) {
        std::vector<RegOperation> ops;
        std::string error;
        ASSERT_TRUE(ParseRegText(c.text, "t.reg", ops, error)) << c.title << ": " << error;
        ASSERT_EQ(ops.size(), c.expected.size()) << c.title;
        for (size_t i = 0; i < ops.size(); ++i)
            EXPECT_TRUE(fields(ops[i]) == fields(c.expected[i])) << c.title << ", entry " << i;
    }
}

TEST(RegFileParse, ErrorsNameFileAndLine)
{
    const std::string k = kHeader + "[HKLM\\K]\n"; // lines 1-3
    // The text, the expected start of the error and a part of its message.
    const struct
    {
        std::string text;
        const char *where, *message;
    } cases[] = {
        {"", "t.reg:1: ", "header"},
        {"\xff\xfe" + Utf16Le(u"REGEDIT4\n").substr(1), "t.reg: ", "invalid UTF-16 text"},
        {k + "\"a" + std::string(1, '\0') + "b\"=\"1\"\n", "t.reg:4: ", "zero byte"},
        {k + "\"a\rb\"=\"1\"\n", "t.reg:4: ", "line break"},
        {"REGEDIT5\n", "t.reg:1: ", "not a registry file"},
        {kHeader + "[-HKLM\\K]\n\"v\"=\"x\"\n", "t.reg:4: ", "outside of a key"},
        {kHeader + "[HKEY_CURRENT_USER\\K]\n", "t.reg:3: ", "only HKEY_LOCAL_MACHINE"},
        {kHeader + "[-HKEY_LOCAL_MACHINE]\n", "t.reg:3: ", "whole store"},
        {kHeader + "[HKLM\\K\n", "t.reg:3: ", "missing \"]\""},
        {kHeader + "[HKLM\\a\\\\b]\n", "t.reg:3: ", "invalid key path"},
        {k + "\"d\"=dword:123456789\n", "t.reg:4: ", "invalid dword"},
        {k + "\n\"h\"=hex:01,1g\n", "t.reg:5: ", "invalid hex data"},
        {k + "\"s\"=hex(1):41\n", "t.reg:4: ", "not UTF-16"},
        {k + "\"h\"=hex:01,\\\n  02,\\\n", "t.reg:4: ", "past the end"},
        {k + "\"s\"=\"open\n", "t.reg:4: ", "no closing quote"},
        {k + "\"s\"=\"x\" trailing\n", "t.reg:4: ", "unexpected text"},
        {k + "garbage\n", "t.reg:4: ", "unrecognized line"},
    };
    for (const auto &c : cases) {
        std::vector<RegOperation> ops;
        std::string error;
        EXPECT_FALSE(ParseRegText(c.text, "t.reg", ops, error)) << c.text;
        EXPECT_EQ(error.rfind(c.where, 0), 0u) << c.text << "\n=> " << error;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.text << "\n=> " << error;
    }
}

// Every kind of value and name the format has to carry, as export writes
// it: 80 columns of hex, continuation lines, hex(1) for strings that a
// quoted string cannot hold.
TEST(RegImport, ExportWritesBackWhatImportReadAndFailuresChangeNothing)
{
    TempDir dir;
    std::string text = test::readFile(SYLVIX_SOURCE_DIR "/tests/cli/data/every-kind.reg"), again,
                error;
    auto source = OpenSqliteStore(dir.file("source.db"), &error);
    ASSERT_TRUE(source) << error;
    // The second import, onto the same content, changes nothing, order included.
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(ImportRegText(*source, text, "every-kind.reg", error)) << error;
        ASSERT_TRUE(ExportRegText(*source->root(), again, error)) << error;
        EXPECT_EQ(again, text);
    }

    // A failure while applying rolls back what was applied before it.
    std::vector<RegOperation> ops;
    ASSERT_TRUE(ParseRegText(kHeader + "[-HKLM\\SOFTWARE]\n[HKLM\\New]\n\"a\"=\"1\"\n", "ok.reg",
                             ops, error));
    ops.push_back(Op(Kind::CreateKey, "New\\\\Bad"));
    ops.back().line = 9;
    EXPECT_FALSE(ApplyRegOperations(*source, ops, "ok.reg", error));
    EXPECT_EQ(error.rfind("ok.reg:9: cannot create key", 0), 0u) << error;
    ASSERT_TRUE(ExportRegText(*source->root(), again, error)) << error;
    EXPECT_EQ(again, text);
}

} // namespace
} // namespace sylvix
