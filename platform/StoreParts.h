#pragma once

// What the store's backends share: the key handles and the store object,
// written once over the few queries a backend answers. Internal to platform/.

#include "platform/ConfigStore.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace sylvix::store {

// The root key's id in every backend.
inline constexpr int64_t kRootKeyId = 1;

// The answer of a lookup; Failed means the backend recorded an error.
enum class Found { Yes, No, Failed };

struct StoredKey
{
    int64_t id = 0;
    std::string name; // as stored, in its own case
};

// Where the last enumeration of a key handle stopped, for backends that can
// go on from there instead of counting from the start.
struct EnumCursor
{
    bool valid = false;
    uint64_t epoch = 0;
    unsigned dataVersion = 0;
    uint32_t index = 0;
    int64_t id = 0;
};

// One connection to a store, shared by the store and every key handle opened
// from it, so that handles may outlive the store. Callers hold mutex() around
// every call; names come lower-cased where the parameter says lower.
class StoreConnection
{
public:
    virtual ~StoreConnection() = default;

    virtual std::recursive_mutex &mutex() = 0;
    virtual uint64_t generation() = 0;
    // Runs body in a transaction of its own, or inside the one in progress.
    virtual bool write(const std::function<bool()> &body) = 0;
    virtual void setError(std::string text) = 0;
    virtual const std::string &error() const = 0;
    virtual const std::string &failure() const = 0;
    virtual bool readOnly() const = 0;

    virtual Found keyExists(int64_t id) = 0;
    virtual Found findChild(int64_t parent, const std::string &lower, StoredKey &child) = 0;
    // Inside write(); No when the parent is gone. Another client may have
    // made the key first: then that one is the answer.
    virtual Found insertKey(int64_t parent, std::string_view name, const std::string &lower,
                            StoredKey &made)
        = 0;
    virtual Found hasSubkeys(int64_t id) = 0;
    // Inside write(): the key with everything below it, or only what it holds.
    virtual bool removeKey(int64_t id) = 0;
    virtual bool emptyKey(int64_t id) = 0;

    virtual bool keyAt(int64_t id, uint32_t index, EnumCursor &cursor, std::string &name) = 0;
    virtual bool valueAt(int64_t id, uint32_t index, EnumCursor &cursor, ConfigValue &value) = 0;
    virtual uint32_t countKeys(int64_t id) = 0;
    virtual uint32_t countValues(int64_t id) = 0;
    virtual Found findValue(int64_t id, const std::string &lower, ConfigValue &value) = 0;
    // Inside write(); No when the key (setValue) or the value (deleteValue) is gone.
    virtual Found setValue(int64_t id, std::string_view name, const std::string &lower,
                           ValueType type, std::string_view data)
        = 0;
    virtual Found deleteValue(int64_t id, const std::string &lower) = 0;
};

std::unique_ptr<ConfigStore> MakeStore(std::shared_ptr<StoreConnection> connection);

} // namespace sylvix::store
