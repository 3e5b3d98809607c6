#include "platform/ConfigStore.h"

#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <unistd.h>

namespace sylvix {

namespace {

uint32_t LittleEndian(std::string_view bytes)
{
    uint32_t v = 0;
    for (size_t i = bytes.size(); i-- > 0;)
        v = (v << 8) | static_cast<unsigned char>(bytes[i]);
    return v;
}

std::string LittleEndianBytes(uint32_t v)
{
    std::string out(4, '\0');
    for (size_t i = 0; i < 4; ++i)
        out[i] = static_cast<char>((v >> (8 * i)) & 0xff);
    return out;
}

std::string NonEmptyEnv(const char *name)
{
    const char *value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

} // namespace

uint32_t ConfigValue::dword() const
{
    if ((type == ValueType::Dword || type == ValueType::Binary) && data.size() == 4)
        return LittleEndian(data);
    return 0;
}

std::string DefaultStorePath()
{
    std::string path = NonEmptyEnv("NORVANE_REGISTRY");
    if (!path.empty())
        return path;

    std::filesystem::path base = NonEmptyEnv("XDG_DATA_HOME");
    if (base.empty() || base.is_relative()) {
        std::string home = NonEmptyEnv("HOME");
        if (home.empty()) {
            if (const passwd *pw = getpwuid(getuid()); pw && pw->pw_dir)
                home = pw->pw_dir;
        }
        base = std::filesystem::path(home) / ".local" / "share";
    }
    std::filesystem::path dir = base / "norvane";
    std::error_code ec; // a failure shows when the store is opened
    std::filesystem::create_directories(dir, ec);
    return (dir / "registry.db").string();
}

bool ReadString(ConfigKey &key, std::string_view name, std::string &out, size_t maxChars)
{
    ConfigValue value;
    if (!key.queryValue(name, value, maxChars + 1) || value.type != ValueType::String)
        return false;
    out = std::move(value.data);
    return true;
}

bool ReadDword(ConfigKey &key, std::string_view name, uint32_t &out)
{
    ConfigValue value;
    if (!key.queryValue(name, value, 4) || value.data.size() != 4
        || (value.type != ValueType::Dword && value.type != ValueType::Binary))
        return false;
    out = value.dword();
    return true;
}

bool ReadBinary32(ConfigKey &key, std::string_view name, uint32_t &out)
{
    // Shorter data is taken as the low bytes of the number.
    ConfigValue value;
    if (!key.queryValue(name, value, 4) || value.type != ValueType::Binary)
        return false;
    out = LittleEndian(value.data);
    return true;
}

bool WriteString(ConfigKey &key, std::string_view name, std::string_view text)
{
    return key.setValue(name, ValueType::String, text);
}

bool WriteDword(ConfigKey &key, std::string_view name, uint32_t v)
{
    return key.setValue(name, ValueType::Dword, LittleEndianBytes(v));
}

bool WriteBinary32(ConfigKey &key, std::string_view name, uint32_t v)
{
    return key.setValue(name, ValueType::Binary, LittleEndianBytes(v));
}

} // namespace sylvix
