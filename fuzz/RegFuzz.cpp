// ".reg" import of a whole file into a scratch store.
//
// The store is made once in a temporary directory; each run imports into it
// and then empties it again.
//
// Besides the sanitizers' reports, a run fails when an import that failed
// left anything behind (it is one transaction), or when what an import that
// succeeded wrote does not export, or the export does not import again into
// the same keys and values.

#include "cli/RegFile.h"
#include "platform/ConfigStore.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace sylvix;

namespace {

std::string g_dir;
std::unique_ptr<ConfigStore> g_store;

void removeDir()
{
    g_store.reset();
    std::error_code ec;
    std::filesystem::remove_all(g_dir, ec);
}

// Files written on every run go to memory when the machine offers it.
std::filesystem::path fuzzScratchRoot()
{
    std::error_code ec;
    if (std::filesystem::is_directory("/dev/shm", ec))
        return "/dev/shm";
    return std::filesystem::temp_directory_path();
}

void check(bool ok, const std::string &what)
{
    if (!ok) {
        std::fprintf(stderr, "reg fuzz: %s\n", what.c_str());
        std::abort();
    }
}

bool storeEmpty()
{
    auto root = g_store->root();
    return root->countKeys() == 0 && root->countValues() == 0;
}

void emptyStore()
{
    bool ok = g_store->transaction([] {
        auto root = g_store->root();
        std::vector<std::string> keys;
        std::string name;
        for (uint32_t i = 0; root->enumKey(i, name); ++i)
            keys.push_back(name);
        for (const std::string &k : keys)
            if (!root->deleteTree(k))
                return false;
        std::vector<std::string> values;
        ConfigValue v;
        for (uint32_t i = 0; root->enumValue(i, v); ++i)
            values.push_back(v.name);
        for (const std::string &n : values)
            if (!root->deleteValue(n))
                return false;
        return true;
    });
    check(ok && storeEmpty(), "the store could not be emptied: " + g_store->lastError());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    std::string pattern = (fuzzScratchRoot() / "sylvix-fuzz-reg-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        std::abort();
    g_dir = pattern;
    std::string error;
    g_store = OpenSqliteStore(g_dir + "/registry.db", &error);
    check(g_store != nullptr, "cannot open the scratch store: " + error);
    std::atexit(removeDir);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string_view bytes(reinterpret_cast<const char *>(data), size);
    std::string error;
    const bool imported = ImportRegText(*g_store, bytes, "fuzz.reg", error);
    if (!imported) {
        check(!error.empty(), "an import failed without saying why");
        check(storeEmpty(), "a failed import left changes behind: " + error);
        return 0;
    }
    // Whatever an import accepted exports, and the export imports again to
    // the same store: a second export gives the same text.
    std::string exported;
    check(ExportRegText(*g_store->root(), exported, error),
          "what an import accepted does not export: " + error);
    emptyStore();
    check(ImportRegText(*g_store, exported, "export.reg", error),
          "an export does not import again: " + error);
    std::string again;
    check(ExportRegText(*g_store->root(), again, error), "a re-import does not export: " + error);
    check(again == exported, "an export and its re-import differ");
    emptyStore();
    return 0;
}
