#pragma once

// The configuration store: a tree of keys holding named, typed values.
// Key and value names compare case-insensitively (ASCII) and keep the case
// they were created with. Values and subkeys enumerate in insertion order;
// overwriting a value keeps its place.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace sylvix {

enum class ValueType : uint32_t {
    String = 1, // text, stored without a terminating zero
    Binary = 3, // raw bytes
    Dword = 4,  // 32-bit little-endian number, 4 bytes of data
};

struct ConfigValue
{
    std::string name;
    ValueType type = ValueType::String;
    std::string data; // text for String, raw bytes otherwise

    uint32_t dword() const; // Dword or 4-byte Binary data as little-endian number, else 0
};

class ConfigKey
{
public:
    virtual ~ConfigKey() = default;

    // Paths are relative to this key, parts separated by "\" (a "/" is an
    // ordinary character inside a name, since protected URL paths are key names).
    virtual std::unique_ptr<ConfigKey> openKey(std::string_view path) = 0; // null if absent
    virtual std::unique_ptr<ConfigKey> createKey(std::string_view path)
        = 0; // creates missing parts
    // Deletes a direct subkey that has no subkeys of its own (its values go with it).
    virtual bool deleteKey(std::string_view name) = 0;
    // Deletes a subkey with everything below it (for ".reg" [-KEY] lines).
    virtual bool deleteTree(std::string_view path) = 0;

    virtual bool enumKey(uint32_t index, std::string &name) = 0;
    virtual bool enumValue(uint32_t index, ConfigValue &value) = 0;
    virtual uint32_t countValues() = 0;
    virtual uint32_t countKeys() = 0;

    // False when the value is absent, or its data is longer than maxData bytes
    // (strings count their terminating zero, as the platform store does).
    virtual bool queryValue(std::string_view name, ConfigValue &value, size_t maxData = SIZE_MAX)
        = 0;
    virtual bool setValue(std::string_view name, ValueType type, std::string_view data) = 0;
    virtual bool deleteValue(std::string_view name) = 0;

    virtual std::string name() const = 0; // last part of the path
    virtual std::string path() const = 0; // full path from the root, "\"-separated
};

class ConfigStore
{
public:
    virtual ~ConfigStore() = default;

    virtual std::unique_ptr<ConfigKey> root() = 0; // the local-machine root

    // A number that changes whenever anything was committed to the store,
    // by this process or another one. Cheap: callers poll it before reusing
    // what they read earlier.
    virtual uint64_t generation() = 0;

    // Runs fn inside one transaction: all of its writes land, or none do.
    // Returns false (and rolls back) when fn returns false or a write fails.
    virtual bool transaction(const std::function<bool()> &fn) = 0;

    virtual std::string lastError() const = 0;
    // Why the last read or write that the database itself refused failed
    // (a damaged file, a disk error), "" when none did: a reader that found
    // nothing checks this before taking "absent" for an answer.
    virtual std::string failure() const = 0;
    // Opened for reading only (another user's store, a read-only file).
    virtual bool readOnly() const = 0;
};

// Keys nest at most this deep (the root's subkeys at depth 1).
inline constexpr int kMaxKeyDepth = 512;

enum class StoreOpen {
    Create,   // make the store when there is none
    Existing, // a missing store is an error
};

// The store's database path: $NORVANE_REGISTRY, else
// $XDG_DATA_HOME/norvane/registry.db (or ~/.local/share/norvane/registry.db).
std::string DefaultStorePath();

// Opens the SQLite-backed store at path, checking that it is sound; null
// with error set when that fails. A store that cannot be written is opened
// for reading.
std::unique_ptr<ConfigStore> OpenSqliteStore(const std::string &path, std::string *error = nullptr,
                                             StoreOpen how = StoreOpen::Create);

// Connects to the store of another machine, kept in a PostgreSQL database on
// host machine (or given by a libpq connection string). Database, user,
// password and port come the usual libpq ways: PGDATABASE, PGUSER,
// PGPASSWORD, PGPORT, PGSERVICE, ~/.pgpass. Null with error set when the
// server cannot be reached within the connect time-out (5 s, or
// PGCONNECT_TIMEOUT) or refuses.
std::unique_ptr<ConfigStore> ConnectRemoteStore(const std::string &machine,
                                                std::string *error = nullptr);

// Typed helpers used throughout.
bool ReadString(ConfigKey &key, std::string_view name, std::string &out, size_t maxChars = 259);
bool ReadDword(ConfigKey &key, std::string_view name, uint32_t &out);
bool ReadBinary32(ConfigKey &key, std::string_view name, uint32_t &out);
bool WriteString(ConfigKey &key, std::string_view name, std::string_view text);
bool WriteDword(ConfigKey &key, std::string_view name, uint32_t v);
bool WriteBinary32(ConfigKey &key, std::string_view name, uint32_t v);

} // namespace sylvix
