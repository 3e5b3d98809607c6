// sylvix-reg: reads and changes the configuration store from the command line.

#include "cli/RegFile.h"
#include "platform/ConfigStore.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

namespace sylvix {
namespace {

// A store that cannot be read (damaged, missing) exits like a usage error:
// whatever was asked for could not be looked at, which differs from a key
// that is not there.
enum ExitCode : int { ExitOk = 0, ExitFailed = 1, ExitUsage = 2, ExitStore = 2 };

const char kUsage[]
    = "usage: sylvix-reg [--store PATH | -r MACHINE] COMMAND ...\n"
      "  import FILE.reg                      apply a registry file (\"-\" reads stdin)\n"
      "  export [KEY] [-o FILE]               write KEY (default: everything) as a registry file\n"
      "  get KEY NAME                         print one value\n"
      "  set KEY NAME [--string|--dword|--binary-hex] VALUE\n"
      "                                       set a value, creating KEY when missing\n"
      "  list KEY                             list subkeys ([name]) and values\n"
      "  delete KEY [NAME]                    delete a value, or KEY with everything below it\n"
      "KEY is HKEY_LOCAL_MACHINE\\PATH, HKLM\\PATH or a path from the root; NAME \"\" is the\n"
      "default value. The store is $NORVANE_REGISTRY or the user's norvane/registry.db;\n"
      "with -r, the store of MACHINE (database, user and password as libpq takes them).\n";

int Usage(const std::string &message)
{
    std::cerr << "sylvix-reg: " << message << "\n" << kUsage;
    return ExitUsage;
}

int Failed(const std::string &message)
{
    std::cerr << "sylvix-reg: " << message << "\n";
    return ExitFailed;
}

int StoreFailed(const std::string &message)
{
    std::cerr << "sylvix-reg: " << message << "\n";
    return ExitStore;
}

// Names that an export could not write back.
bool WritableName(const std::string &name)
{
    return name.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos;
}

bool ParseKeyArgument(const std::string &text, std::string &relative, std::string &error)
{
    if (!StripRegRoot(text, relative)) {
        if (text.rfind("HKEY_", 0) == 0 || text.rfind("hkey_", 0) == 0) {
            error = "unsupported root key in \"" + text
                    + "\": only HKEY_LOCAL_MACHINE (HKLM) is supported";
            return false;
        }
        relative = text;
        if (!relative.empty() && relative.front() == '\\')
            relative.erase(0, 1);
    }
    if (!relative.empty() && relative.back() == '\\')
        relative.pop_back();
    if ((!relative.empty() && relative.front() == '\\')
        || relative.find("\\\\") != std::string::npos) {
        error = "invalid key path \"" + text + "\"";
        return false;
    }
    return true;
}

bool ParseDword(const std::string &text, uint32_t &out)
{
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text.front())))
        return false;
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char *digits = text.c_str() + (hex ? 2 : 0);
    if (!std::isxdigit(static_cast<unsigned char>(*digits)))
        return false;
    errno = 0;
    char *end = nullptr;
    unsigned long long v = std::strtoull(digits, &end, hex ? 16 : 10);
    if (errno != 0 || *end != '\0' || v > 0xffffffffULL)
        return false;
    out = static_cast<uint32_t>(v);
    return true;
}

// Hex digit pairs, optionally separated by blanks, commas or colons.
bool ParseHexArgument(const std::string &text, std::string &out)
{
    std::string digits;
    for (char c : text) {
        if (c == ' ' || c == ',' || c == ':')
            continue;
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
        digits += c;
    }
    if (digits.size() % 2 != 0)
        return false;
    out.clear();
    for (size_t i = 0; i < digits.size(); i += 2)
        out += static_cast<char>(std::strtoul(digits.substr(i, 2).c_str(), nullptr, 16));
    return true;
}

class Tool
{
public:
    Tool(std::string storePath, std::string machine, std::vector<std::string> args)
        : m_storePath(std::move(storePath)), m_machine(std::move(machine)), m_args(std::move(args))
    {}

    int run()
    {
        const std::string command = m_args.front();
        m_args.erase(m_args.begin());
        if (command == "import")
            return import();
        if (command == "export")
            return exportKey();
        if (command == "get")
            return get();
        if (command == "set")
            return set();
        if (command == "list")
            return list();
        if (command == "delete")
            return remove();
        return Usage("unknown command \"" + command + "\"");
    }

private:
    // Readers need the store to exist; only writers make one, and say so.
    int openStore(StoreOpen how)
    {
        if (!m_machine.empty()) {
            std::string error;
            m_store = ConnectRemoteStore(m_machine, &error);
            if (!m_store)
                return Failed("Error connecting to remote server registry: " + error);
            return ExitOk;
        }
        std::error_code ec;
        const bool existed = std::filesystem::exists(m_storePath, ec);
        std::string error;
        m_store = OpenSqliteStore(m_storePath, &error, how);
        if (!m_store)
            return StoreFailed(error);
        if (!existed)
            std::cerr << "sylvix-reg: created a new store at " << m_storePath << "\n";
        return ExitOk;
    }

    // After a read that found nothing: the store's own failure, if it had one.
    int notFound(const std::string &message)
    {
        const std::string failure = m_store->failure();
        if (!failure.empty())
            return StoreFailed(failure);
        return Failed(message);
    }

    // The key named by a KEY argument; null (with the message shown and
    // code set) when missing.
    std::unique_ptr<ConfigKey> openKey(const std::string &relative, int &code)
    {
        std::unique_ptr<ConfigKey> key = m_store->root()->openKey(relative);
        if (!key)
            code = notFound("key not found: " + RootedPath(relative));
        return key;
    }

    int import()
    {
        if (m_args.size() != 1)
            return Usage("import takes one file");
        if (int code = openStore(StoreOpen::Create))
            return code;
        std::string error;
        if (!ImportRegFile(*m_store, m_args[0], error))
            return Failed(error);
        return ExitOk;
    }

    int exportKey()
    {
        std::string keyArg;
        std::string output;
        bool haveKey = false;
        for (size_t i = 0; i < m_args.size(); ++i) {
            if (m_args[i] == "-o") {
                if (i + 1 >= m_args.size())
                    return Usage("-o needs a file name");
                output = m_args[++i];
            } else if (!haveKey) {
                keyArg = m_args[i];
                haveKey = true;
            } else {
                return Usage("export takes at most one key");
            }
        }
        std::string relative;
        std::string error;
        if (!ParseKeyArgument(keyArg, relative, error))
            return Usage(error);
        if (int code = openStore(StoreOpen::Existing))
            return code;
        int code = ExitOk;
        std::unique_ptr<ConfigKey> key = openKey(relative, code);
        if (!key)
            return code;
        // Inside one transaction the export sees one state of the store,
        // even while the server writes to it (a store we may only read is
        // read as it stands).
        std::string text;
        const bool exported
            = m_store->readOnly()
                  ? ExportRegText(*key, text, error)
                  : m_store->transaction([&] { return ExportRegText(*key, text, error); });
        if (!m_store->failure().empty())
            return StoreFailed(m_store->failure());
        if (!exported)
            return Failed(error.empty() ? m_store->lastError() : error);
        if (output.empty() || output == "-") {
            std::cout << text << std::flush;
            return std::cout ? ExitOk : Failed("cannot write to standard output");
        }
        std::FILE *file = std::fopen(output.c_str(), "wb");
        if (!file)
            return Failed("cannot write " + output);
        bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
        written = std::fclose(file) == 0 && written;
        return written ? ExitOk : Failed("cannot write " + output);
    }

    int get()
    {
        if (m_args.size() != 2)
            return Usage("get takes KEY and NAME");
        std::string relative;
        std::string error;
        if (!ParseKeyArgument(m_args[0], relative, error))
            return Usage(error);
        if (int code = openStore(StoreOpen::Existing))
            return code;
        int code = ExitOk;
        std::unique_ptr<ConfigKey> key = openKey(relative, code);
        if (!key)
            return code;
        ConfigValue value;
        if (!key->queryValue(m_args[1], value))
            return notFound("value not found: \"" + m_args[1] + "\" in " + RootedPath(relative));
        switch (value.type) {
        case ValueType::String: std::cout << value.data << "\n"; break;
        case ValueType::Dword:
            if (value.data.size() == 4) {
                std::cout << value.dword() << "\n";
                break;
            }
            [[fallthrough]];
        default: {
            // The data as in a registry file, without the name.
            value.name.clear();
            std::string line = FormatRegValue(value, false);
            std::cout << line.substr(2) << "\n";
            break;
        }
        }
        return ExitOk;
    }

    int set()
    {
        ValueType type = ValueType::String;
        int typeFlags = 0;
        bool options = true;
        std::vector<std::string> positional;
        for (const std::string &arg : m_args) {
            if (options && arg == "--") {
                options = false;
            } else if (options && arg == "--string") {
                type = ValueType::String;
                ++typeFlags;
            } else if (options && arg == "--dword") {
                type = ValueType::Dword;
                ++typeFlags;
            } else if (options && arg == "--binary-hex") {
                type = ValueType::Binary;
                ++typeFlags;
            } else if (options && arg.size() > 2 && arg.rfind("--", 0) == 0) {
                return Usage("unknown option \"" + arg + "\"");
            } else {
                positional.push_back(arg);
            }
        }
        if (typeFlags > 1)
            return Usage("give at most one of --string, --dword and --binary-hex");
        if (positional.size() != 3)
            return Usage("set takes KEY, NAME and VALUE");
        std::string relative;
        std::string error;
        if (!ParseKeyArgument(positional[0], relative, error))
            return Usage(error);
        std::string data;
        if (type == ValueType::Dword) {
            uint32_t v = 0;
            if (!ParseDword(positional[2], v))
                return Usage("invalid dword \"" + positional[2]
                             + "\" (expected 0 to 4294967295, or 0x hex)");
            for (int i = 0; i < 4; ++i)
                data += static_cast<char>((v >> (8 * i)) & 0xff);
        } else if (type == ValueType::Binary) {
            if (!ParseHexArgument(positional[2], data))
                return Usage("invalid hex data \"" + positional[2]
                             + "\" (expected pairs of hex digits)");
        } else {
            data = positional[2];
        }
        if (!WritableName(positional[1]) || !WritableName(relative))
            return Usage("a name may not hold a line break or a zero byte");
        if (int code = openStore(StoreOpen::Create))
            return code;
        std::unique_ptr<ConfigKey> key = m_store->root()->createKey(relative);
        if (!key)
            return Failed("cannot create key " + RootedPath(relative) + ": "
                          + m_store->lastError());
        if (!key->setValue(positional[1], type, data))
            return Failed("cannot set value \"" + positional[1] + "\": " + m_store->lastError());
        return ExitOk;
    }

    int list()
    {
        if (m_args.size() != 1)
            return Usage("list takes one key");
        std::string relative;
        std::string error;
        if (!ParseKeyArgument(m_args[0], relative, error))
            return Usage(error);
        if (int code = openStore(StoreOpen::Existing))
            return code;
        int code = ExitOk;
        std::unique_ptr<ConfigKey> key = openKey(relative, code);
        if (!key)
            return code;
        std::string name;
        for (uint32_t i = 0; key->enumKey(i, name); ++i)
            std::cout << "[" << name << "]\n";
        ConfigValue value;
        for (uint32_t i = 0; key->enumValue(i, value); ++i)
            std::cout << FormatRegValue(value, false) << "\n";
        if (!m_store->failure().empty())
            return StoreFailed(m_store->failure());
        return ExitOk;
    }

    int remove()
    {
        if (m_args.empty() || m_args.size() > 2)
            return Usage("delete takes KEY and optionally NAME");
        std::string relative;
        std::string error;
        if (!ParseKeyArgument(m_args[0], relative, error))
            return Usage(error);
        if (int code = openStore(StoreOpen::Existing))
            return code;
        if (m_args.size() == 2) {
            int code = ExitOk;
            std::unique_ptr<ConfigKey> key = openKey(relative, code);
            if (!key)
                return code;
            if (!key->deleteValue(m_args[1]))
                return Failed("cannot delete value \"" + m_args[1] + "\" in " + RootedPath(relative)
                              + ": " + m_store->lastError());
            return ExitOk;
        }
        if (relative.empty())
            return Failed("refusing to delete the root key");
        if (!m_store->root()->deleteTree(relative))
            return Failed("cannot delete " + RootedPath(relative) + ": " + m_store->lastError());
        return ExitOk;
    }

    std::string m_storePath;
    std::string m_machine;
    std::vector<std::string> m_args;
    std::unique_ptr<ConfigStore> m_store;
};

int Main(int argc, char **argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string storePath;
    std::string machine;
    size_t i = 0;
    for (; i < args.size() && args[i].rfind("-", 0) == 0; ++i) {
        if (args[i] == "--help" || args[i] == "-h") {
            std::cout << kUsage;
            return ExitOk;
        }
        if (args[i] == "--store") {
            if (i + 1 >= args.size())
                return Usage("--store needs a path");
            storePath = args[++i];
        } else if (args[i].rfind("--store=", 0) == 0) {
            storePath = args[i].substr(8);
        } else if (args[i] == "-r" || args[i] == "--remote") {
            if (i + 1 >= args.size())
                return Usage("No remote server registry supplied for -r switch");
            machine = args[++i];
        } else if (args[i].rfind("--remote=", 0) == 0) {
            machine = args[i].substr(9);
        } else {
            return Usage("unknown option \"" + args[i] + "\"");
        }
    }
    if (i >= args.size())
        return Usage("no command given");
    if (!machine.empty() && !storePath.empty())
        return Usage("--store and -r name different stores");
    if (storePath.empty() && machine.empty())
        storePath = DefaultStorePath();
    return Tool(storePath, machine,
                std::vector<std::string>(args.begin() + static_cast<std::ptrdiff_t>(i), args.end()))
        .run();
}

} // namespace
} // namespace sylvix

int main(int argc, char **argv)
{
    return sylvix::Main(argc, argv);
}
