#pragma once

// Import and export of configuration keys as registry text files (".reg").
//
// Accepted: a "REGEDIT4" or "Windows Registry Editor Version 5.00" header;
// UTF-8 with or without a byte-order mark, or UTF-16 with one; [KEY] and
// [-KEY] sections under HKEY_LOCAL_MACHINE (or HKLM), which stands for the
// store's root; "name"="text" (escapes \\ and \"; any other backslash is kept
// as written), @= for the default value, dword:, hex:, hex(N): and "name"=-;
// comment lines starting with ";"; lines continued by a trailing backslash.
//
// hex(N): data keeps its type number N and its bytes as they are, except
// that hex(1) (text written as bytes) becomes a string value: UTF-16LE in a
// version 5 file, plain bytes in a REGEDIT4 file, the terminating zero
// dropped. Export writes a string holding a line break or a zero that way,
// since the quoted form cannot carry them.

#include "platform/ConfigStore.h"

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace sylvix {

inline constexpr const char *kRegRootName = "HKEY_LOCAL_MACHINE";
inline constexpr const char *kRegHeader5 = "Windows Registry Editor Version 5.00";
inline constexpr const char *kRegHeader4 = "REGEDIT4";

// One change read from a registry file, in file order.
struct RegOperation
{
    enum class Kind { CreateKey, DeleteTree, SetValue, DeleteValue };

    Kind kind = Kind::CreateKey;
    std::string keyPath; // relative to the root, "" = the root itself
    std::string name;    // value name, "" = the default value
    ValueType type = ValueType::String;
    std::string data;
    int line = 0; // where the entry starts in the file
};

// "HKEY_LOCAL_MACHINE\A\B" or "HKLM\A\B" (any case) gives "A\B"; false when
// the text does not start with one of those root names.
bool StripRegRoot(std::string_view text, std::string &relative);
// The reverse: "A\B" gives "HKEY_LOCAL_MACHINE\A\B", "" the root name alone.
std::string RootedPath(const std::string &relative);

// The file's bytes as UTF-8 text: UTF-16 (LE or BE) with a byte-order mark,
// or UTF-8 with or without one.
bool DecodeRegBytes(std::string_view bytes, std::string &text, std::string &error);

// Reads a whole file's bytes; errors name fileName and the line.
bool ParseRegText(std::string_view bytes, std::string_view fileName, std::vector<RegOperation> &ops,
                  std::string &error);

// Applies ops in one transaction: all of them or, after an error, none.
bool ApplyRegOperations(ConfigStore &store, const std::vector<RegOperation> &ops,
                        std::string_view fileName, std::string &error);

// Registry files larger than this are refused as a whole.
inline constexpr size_t kMaxRegFileBytes = size_t{16} << 20;

// Reads a whole registry file from in, refusing one over kMaxRegFileBytes.
bool ReadRegInput(std::FILE *in, std::string_view fileName, std::string &bytes, std::string &error);

bool ImportRegText(ConfigStore &store, std::string_view bytes, std::string_view fileName,
                   std::string &error);
bool ImportRegFile(ConfigStore &store, const std::string &path, std::string &error);

// One value as a registry file line, e.g. "Port"=dword:00000050. With wrap,
// long hex data is split over continuation lines.
std::string FormatRegValue(const ConfigValue &value, bool wrap = true);

// key and every key below it, as a version 5 file in UTF-8. Fails on names
// that the format cannot hold (line breaks).
bool ExportRegText(ConfigKey &key, std::string &out, std::string &error);
bool ExportRegFile(ConfigKey &key, const std::string &path, std::string &error);

} // namespace sylvix
