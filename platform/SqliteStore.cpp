// The configuration store kept in one SQLite database, shared at the same
// time by the web server and by Sylvix, each with its own connection.
//
// Layout: keys(id, parent, name, name_lc) with the root as the fixed row 1,
// and vals(id, key, name, name_lc, type, data). name_lc holds the ASCII
// lower-cased name so that lookups ignore case while names keep theirs.
// Row ids give the insertion order that enumeration follows; overwriting a
// value updates its row in place, so it keeps its place. Key ids are never
// reused (AUTOINCREMENT), so a handle to a deleted key can never end up
// pointing at a newer key.

#include "platform/ConfigStore.h"
#include "platform/StoreParts.h"
#include "platform/TextUtil.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

namespace sylvix {

namespace {

using namespace store;

constexpr int kSchemaVersion = 1;
constexpr int kBusyTimeoutMs = 5000;
// Tries beyond the first when the busy timeout ran out (another process held
// the write lock for longer than that).
constexpr int kBusyRetries = 3;

bool IsBusy(int rc)
{
    int primary = rc & 0xff;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

// path as an SQLite "file:" URI, for the query parameters that only a URI
// can give.
std::string FileUri(const std::string &path)
{
    std::string absolute = path;
    std::error_code ec;
    if (!path.empty() && path.front() != '/') {
        auto full = std::filesystem::absolute(path, ec);
        if (!ec)
            absolute = full.string();
    }
    static const char kHex[] = "0123456789ABCDEF";
    std::string uri = "file:";
    for (unsigned char c : absolute) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
            uri += static_cast<char>(c);
        } else {
            uri += '%';
            uri += kHex[c >> 4];
            uri += kHex[c & 15];
        }
    }
    return uri;
}

void SleepBriefly()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

enum Sql : int {
    SqlDataVersion,
    SqlKeyExists,
    SqlFindChild,
    SqlInsertKey,
    SqlCountKeys,
    SqlCountValues,
    SqlKeyAt,
    SqlKeyAfter,
    SqlValueAt,
    SqlValueAfter,
    SqlQueryValue,
    SqlSetValue,
    SqlDeleteValue,
    SqlHasSubkeys,
    SqlDeleteKeyValues,
    SqlDeleteKeyRow,
    SqlDeleteBelowValues,
    SqlDeleteBelowKeys,
    SqlBegin,
    SqlCommit,
    SqlRollback,
    SqlCount
};

#define SYLVIX_BELOW(start)                                                                        \
    "WITH RECURSIVE below(id) AS (SELECT id FROM keys WHERE parent = " start                       \
    " UNION ALL SELECT keys.id FROM keys JOIN below ON keys.parent = below.id) "

const char *const kSql[SqlCount] = {
    "PRAGMA data_version",
    "SELECT 1 FROM keys WHERE id = ?1",
    "SELECT id, name FROM keys WHERE parent = ?1 AND name_lc = ?2",
    "INSERT INTO keys(parent, name, name_lc) VALUES(?1, ?2, ?3)",
    "SELECT count(*) FROM keys WHERE parent = ?1",
    "SELECT count(*) FROM vals WHERE key = ?1",
    "SELECT id, name FROM keys WHERE parent = ?1 ORDER BY id LIMIT 1 OFFSET ?2",
    "SELECT id, name FROM keys WHERE parent = ?1 AND id > ?2 ORDER BY id LIMIT 1",
    "SELECT id, name, type, data FROM vals WHERE key = ?1 ORDER BY id LIMIT 1 OFFSET ?2",
    "SELECT id, name, type, data FROM vals WHERE key = ?1 AND id > ?2 ORDER BY id LIMIT 1",
    "SELECT name, type, data FROM vals WHERE key = ?1 AND name_lc = ?2",
    // One statement, so that a key deleted by another process in between
    // cannot collect an orphaned value.
    "INSERT INTO vals(key, name, name_lc, type, data) SELECT ?1, ?2, ?3, ?4, ?5"
    " WHERE EXISTS(SELECT 1 FROM keys WHERE id = ?1)"
    " ON CONFLICT(key, name_lc) DO UPDATE SET type = excluded.type, data = excluded.data",
    "DELETE FROM vals WHERE key = ?1 AND name_lc = ?2",
    "SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1",
    "DELETE FROM vals WHERE key = ?1",
    "DELETE FROM keys WHERE id = ?1",
    SYLVIX_BELOW("?1") "DELETE FROM vals WHERE key IN below",
    SYLVIX_BELOW("?1") "DELETE FROM keys WHERE id IN below",
    "BEGIN IMMEDIATE",
    "COMMIT",
    "ROLLBACK",
};

#undef SYLVIX_BELOW

const char *kSchema = "CREATE TABLE IF NOT EXISTS keys("
                      " id INTEGER PRIMARY KEY AUTOINCREMENT,"
                      " parent INTEGER NOT NULL,"
                      " name TEXT NOT NULL,"
                      " name_lc TEXT NOT NULL,"
                      " UNIQUE(parent, name_lc));"
                      "CREATE INDEX IF NOT EXISTS keys_by_parent ON keys(parent);"
                      "CREATE TABLE IF NOT EXISTS vals("
                      " id INTEGER PRIMARY KEY,"
                      " key INTEGER NOT NULL,"
                      " name TEXT NOT NULL,"
                      " name_lc TEXT NOT NULL,"
                      " type INTEGER NOT NULL,"
                      " data BLOB NOT NULL,"
                      " UNIQUE(key, name_lc));"
                      "CREATE INDEX IF NOT EXISTS vals_by_key ON vals(key);"
                      "INSERT OR IGNORE INTO keys(id, parent, name, name_lc) VALUES(1, 0, '', '');"
                      "PRAGMA user_version = 1;";

class Query;

// One database connection with its cached statements.
class SqliteConnection final : public StoreConnection
{
public:
    SqliteConnection() = default;
    SqliteConnection(const SqliteConnection &) = delete;
    SqliteConnection &operator=(const SqliteConnection &) = delete;

    ~SqliteConnection() override
    {
        for (sqlite3_stmt *stmt : m_stmts)
            sqlite3_finalize(stmt);
        if (m_db)
            sqlite3_close_v2(m_db);
    }

    bool open(const std::string &path, StoreOpen how, std::string &error)
    {
        const std::string prefix = "cannot open configuration store " + path + ": ";
        std::error_code ec;
        if (how == StoreOpen::Existing) {
            if (!std::filesystem::exists(path, ec)) {
                error = prefix + "there is no such file";
                return false;
            }
        } else {
            std::filesystem::path parent = std::filesystem::path(path).parent_path();
            if (!parent.empty() && !std::filesystem::exists(parent, ec))
                std::filesystem::create_directories(parent, ec);
        }
        const int create = how == StoreOpen::Create ? SQLITE_OPEN_CREATE : 0;
        int rc = sqlite3_open_v2(path.c_str(), &m_db,
                                 SQLITE_OPEN_READWRITE | create | SQLITE_OPEN_NOMUTEX, nullptr);
        if (rc != SQLITE_OK) {
            error = prefix + (m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc));
            return false;
        }
        if (sqlite3_db_readonly(m_db, "main") == 1)
            return openReadOnly(path, prefix, error);
        sqlite3_busy_timeout(m_db, kBusyTimeoutMs);

        std::string mode;
        if (!execRetry("PRAGMA journal_mode = WAL", &mode)
            || !execRetry("PRAGMA synchronous = NORMAL")) {
            error = prefix + m_error;
            return false;
        }
        if (mode != "wal" && mode != "memory") {
            error = prefix + "the database cannot use a write-ahead log";
            return false;
        }
        if (!prepareSchema() || !checkSound()) {
            error = prefix + m_error;
            return false;
        }
        m_dataVersion = readDataVersion();
        return true;
    }

    bool readOnly() const override { return m_readOnly; }

    std::recursive_mutex &mutex() override { return m_mutex; }
    sqlite3 *db() const { return m_db; }
    bool inTransaction() const { return m_depth > 0; }

    sqlite3_stmt *statement(Sql which)
    {
        if (!m_stmts[which]) {
            if (sqlite3_prepare_v3(m_db, kSql[which], -1, SQLITE_PREPARE_PERSISTENT,
                                   &m_stmts[which], nullptr)
                != SQLITE_OK) {
                fail("cannot prepare a statement");
                m_stmts[which] = nullptr;
            }
        }
        return m_stmts[which];
    }

    // Records a database failure; inside a transaction it dooms it.
    void fail(const std::string &what)
    {
        m_error = what + ": " + sqlite3_errmsg(m_db);
        m_failure = m_error;
        if (m_depth > 0)
            m_doomed = true;
    }
    void setError(std::string text) override { m_error = std::move(text); }
    const std::string &error() const override { return m_error; }
    const std::string &failure() const override { return m_failure; }

    // Something this connection did may have changed what a key holds.
    void noteWrite() { ++m_epoch; }

    // Changes with every commit, own or other, seen by the last read; unlike
    // the data_version pragma it costs no statement.
    unsigned snapshotVersion()
    {
        unsigned version = 0;
        if (sqlite3_file_control(m_db, "main", SQLITE_FCNTL_DATA_VERSION, &version) != SQLITE_OK)
            return ~0u;
        return version;
    }

    uint64_t generation() override
    {
        int64_t version = readDataVersion();
        if (version < 0 || version != m_dataVersion) {
            m_dataVersion = version;
            ++m_epoch;
        }
        return m_epoch;
    }

    // body returns false when the operation did not happen.
    bool write(const std::function<bool()> &body) override
    {
        if (m_depth > 0) {
            // After a failure SQLite may have ended the transaction already;
            // a write now would commit on its own.
            if (m_doomed || sqlite3_get_autocommit(m_db)) {
                m_doomed = true;
                return false;
            }
            bool ok = body();
            noteWrite();
            return ok && !m_doomed;
        }
        if (!begin())
            return false;
        Scope scope(*this);
        bool ok = body() && !m_doomed;
        return scope.finish(ok);
    }

    Found keyExists(int64_t id) override;
    Found findChild(int64_t parent, const std::string &lower, StoredKey &child) override;
    Found insertKey(int64_t parent, std::string_view name, const std::string &lower,
                    StoredKey &made) override;
    Found hasSubkeys(int64_t id) override;
    bool removeKey(int64_t id) override;
    bool emptyKey(int64_t id) override;
    bool keyAt(int64_t id, uint32_t index, EnumCursor &cursor, std::string &name) override;
    bool valueAt(int64_t id, uint32_t index, EnumCursor &cursor, ConfigValue &value) override;
    uint32_t countKeys(int64_t id) override { return count(SqlCountKeys, id); }
    uint32_t countValues(int64_t id) override { return count(SqlCountValues, id); }
    Found findValue(int64_t id, const std::string &lower, ConfigValue &value) override;
    Found setValue(int64_t id, std::string_view name, const std::string &lower, ValueType type,
                   std::string_view data) override;
    Found deleteValue(int64_t id, const std::string &lower) override;

private:
    template<typename Fill>
    bool enumerate(int64_t key, EnumCursor &cursor, Sql after, Sql at, uint32_t index, Fill &&fill);
    uint32_t count(Sql which, int64_t id);

    // Closes the outermost transaction, also when body throws.
    class Scope
    {
    public:
        explicit Scope(SqliteConnection &c) : m_c(c) { ++m_c.m_depth; }
        ~Scope()
        {
            if (m_open)
                finish(false);
        }
        Scope(const Scope &) = delete;
        Scope &operator=(const Scope &) = delete;
        bool finish(bool commit)
        {
            m_open = false;
            --m_c.m_depth;
            return m_c.end(commit);
        }

    private:
        SqliteConnection &m_c;
        bool m_open = true;
    };

    bool begin()
    {
        m_doomed = false;
        sqlite3_stmt *stmt = statement(SqlBegin);
        if (!stmt)
            return false;
        for (int attempt = 0;; ++attempt) {
            int rc = sqlite3_step(stmt);
            sqlite3_reset(stmt);
            if (rc == SQLITE_DONE)
                return true;
            if (!IsBusy(rc) || attempt >= kBusyRetries) {
                m_error = std::string("cannot start a transaction: ") + sqlite3_errstr(rc);
                return false;
            }
            SleepBriefly();
        }
    }

    bool end(bool commit)
    {
        noteWrite();
        if (sqlite3_get_autocommit(m_db)) {
            // SQLite already rolled back after a failure.
            return false;
        }
        if (commit) {
            sqlite3_stmt *stmt = statement(SqlCommit);
            for (int attempt = 0; stmt; ++attempt) {
                int rc = sqlite3_step(stmt);
                sqlite3_reset(stmt);
                if (rc == SQLITE_DONE)
                    return true;
                if (!IsBusy(rc) || attempt >= kBusyRetries) {
                    m_error = std::string("cannot commit: ") + sqlite3_errstr(rc);
                    break;
                }
                SleepBriefly();
            }
        }
        if (sqlite3_stmt *stmt = statement(SqlRollback)) {
            sqlite3_step(stmt);
            sqlite3_reset(stmt);
        }
        return false;
    }

    int64_t readDataVersion()
    {
        sqlite3_stmt *stmt = statement(SqlDataVersion);
        if (!stmt)
            return -1;
        int64_t version = -1;
        if (sqlite3_step(stmt) == SQLITE_ROW)
            version = sqlite3_column_int64(stmt, 0);
        sqlite3_reset(stmt);
        return version;
    }

    // For set-up statements: sqlite3_exec with retries; the first column of
    // the last row goes to result.
    bool execRetry(const char *sql, std::string *result = nullptr)
    {
        for (int attempt = 0;; ++attempt) {
            char *message = nullptr;
            auto collect = [](void *out, int columns, char **values, char **) -> int {
                if (out && columns > 0 && values[0])
                    *static_cast<std::string *>(out) = values[0];
                return 0;
            };
            int rc = sqlite3_exec(m_db, sql, collect, result, &message);
            std::string text = message ? message : sqlite3_errstr(rc);
            sqlite3_free(message);
            if (rc == SQLITE_OK)
                return true;
            if (!IsBusy(rc) || attempt >= kBusyRetries) {
                m_error = text;
                return false;
            }
            SleepBriefly();
        }
    }

    // A store another user owns: read through its write-ahead log when its
    // files can be shared, else as it stands on disk.
    bool openReadOnly(const std::string &path, const std::string &prefix, std::string &error)
    {
        m_readOnly = true;
        for (const char *how : {"?mode=ro", "?immutable=1"}) {
            sqlite3_close_v2(m_db);
            m_db = nullptr;
            const std::string uri = FileUri(path) + how;
            int rc = sqlite3_open_v2(uri.c_str(), &m_db,
                                     SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX,
                                     nullptr);
            if (rc != SQLITE_OK) {
                m_error = m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc);
                continue;
            }
            sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
            std::string version;
            if (!execRetry("PRAGMA user_version", &version))
                continue;
            if (version != std::to_string(kSchemaVersion)) {
                error = prefix + "it is not a configuration store (format " + version + ")";
                return false;
            }
            if (!checkSound())
                break;
            m_dataVersion = readDataVersion();
            return true;
        }
        error = prefix + m_error;
        return false;
    }

    // A damaged page must not read as missing keys.
    bool checkSound()
    {
        std::string verdict;
        if (!execRetry("PRAGMA quick_check(1)", &verdict))
            return false;
        if (verdict != "ok") {
            std::replace(verdict.begin(), verdict.end(), '\n', ' ');
            m_error = "the store is damaged: " + verdict;
            return false;
        }
        return true;
    }

    bool prepareSchema()
    {
        std::string version;
        if (!execRetry("PRAGMA user_version", &version))
            return false;
        if (version == std::to_string(kSchemaVersion))
            return true;
        if (version != "0") {
            m_error = "the store was written by a newer program (format " + version + ")";
            return false;
        }
        // Two processes may create the store at the same moment: the
        // immediate transaction lets only one of them do it.
        if (!execRetry("BEGIN IMMEDIATE"))
            return false;
        if (!execRetry(kSchema)) {
            std::string failure = m_error;
            execRetry("ROLLBACK");
            m_error = failure;
            return false;
        }
        return execRetry("COMMIT");
    }

    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_stmts[SqlCount] = {};
    std::recursive_mutex m_mutex;
    std::string m_error;
    std::string m_failure;
    bool m_readOnly = false;
    int m_depth = 0;
    bool m_doomed = false;
    int64_t m_dataVersion = -1;
    uint64_t m_epoch = 1;
};

// One use of a cached statement: binds, steps, and resets it at scope end.
class Query
{
public:
    Query(SqliteConnection &c, Sql which) : m_c(c), m_stmt(c.statement(which)) {}
    ~Query()
    {
        if (m_stmt) {
            sqlite3_reset(m_stmt);
            sqlite3_clear_bindings(m_stmt);
        }
    }
    Query(const Query &) = delete;
    Query &operator=(const Query &) = delete;

    Query &bind(int index, int64_t v)
    {
        if (m_stmt)
            sqlite3_bind_int64(m_stmt, index, v);
        return *this;
    }
    Query &bindText(int index, std::string_view text)
    {
        if (m_stmt)
            sqlite3_bind_text(m_stmt, index, text.empty() ? "" : text.data(),
                              static_cast<int>(text.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Query &bindBlob(int index, std::string_view data)
    {
        if (!m_stmt)
            return *this;
        if (data.empty())
            sqlite3_bind_zeroblob(m_stmt, index, 0); // a null pointer would bind NULL
        else
            sqlite3_bind_blob(m_stmt, index, data.data(), static_cast<int>(data.size()),
                              SQLITE_TRANSIENT);
        return *this;
    }

    // SQLITE_ROW, SQLITE_DONE or an error code (recorded in the connection).
    int step()
    {
        if (!m_stmt)
            return SQLITE_ERROR;
        for (int attempt = 0;; ++attempt) {
            int rc = sqlite3_step(m_stmt);
            if (rc == SQLITE_ROW || rc == SQLITE_DONE)
                return rc;
            // Outside a transaction a statement can simply run again; inside
            // one the write lock is ours already.
            if (IsBusy(rc) && !m_c.inTransaction() && attempt < kBusyRetries) {
                sqlite3_reset(m_stmt);
                SleepBriefly();
                continue;
            }
            m_c.fail("store operation failed");
            return rc;
        }
    }
    bool row() { return step() == SQLITE_ROW; }
    bool done() { return step() == SQLITE_DONE; }
    Found found()
    {
        int rc = step();
        return rc == SQLITE_ROW ? Found::Yes : rc == SQLITE_DONE ? Found::No : Found::Failed;
    }

    int64_t integer(int column) const { return sqlite3_column_int64(m_stmt, column); }
    std::string bytes(int column) const
    {
        const void *p = sqlite3_column_blob(m_stmt, column);
        int n = sqlite3_column_bytes(m_stmt, column);
        return p ? std::string(static_cast<const char *>(p), static_cast<size_t>(n))
                 : std::string();
    }
    int changes() const { return sqlite3_changes(m_c.db()); }

private:
    SqliteConnection &m_c;
    sqlite3_stmt *m_stmt;
};

Found SqliteConnection::keyExists(int64_t id)
{
    Query q(*this, SqlKeyExists);
    q.bind(1, id);
    return q.found();
}

Found SqliteConnection::findChild(int64_t parent, const std::string &lower, StoredKey &child)
{
    Query q(*this, SqlFindChild);
    q.bind(1, parent).bindText(2, lower);
    Found found = q.found();
    if (found == Found::Yes)
        child = {q.integer(0), q.bytes(1)};
    return found;
}

Found SqliteConnection::insertKey(int64_t parent, std::string_view name, const std::string &lower,
                                  StoredKey &made)
{
    // Inside the write transaction, which checked that the parent is there.
    Query q(*this, SqlInsertKey);
    q.bind(1, parent).bindText(2, name).bindText(3, lower);
    if (!q.done())
        return Found::Failed;
    made = {sqlite3_last_insert_rowid(m_db), std::string(name)};
    return Found::Yes;
}

Found SqliteConnection::hasSubkeys(int64_t id)
{
    Query q(*this, SqlHasSubkeys);
    q.bind(1, id);
    return q.found();
}

bool SqliteConnection::removeKey(int64_t id)
{
    if (!emptyKey(id))
        return false;
    Query row(*this, SqlDeleteKeyRow);
    row.bind(1, id);
    return row.done();
}

bool SqliteConnection::emptyKey(int64_t id)
{
    for (Sql which : {SqlDeleteBelowValues, SqlDeleteBelowKeys, SqlDeleteKeyValues}) {
        Query q(*this, which);
        q.bind(1, id);
        if (!q.done())
            return false;
    }
    return true;
}

// While the state the cursor saw holds, row index + 1 is the next row after
// the cursor's id, found through the index instead of by counting.
template<typename Fill>
bool SqliteConnection::enumerate(int64_t key, EnumCursor &cursor, Sql after, Sql at, uint32_t index,
                                 Fill &&fill)
{
    if (cursor.valid && index == cursor.index + 1 && cursor.epoch == m_epoch) {
        Query q(*this, after);
        q.bind(1, key).bind(2, cursor.id);
        int rc = q.step();
        // The version is that of the snapshot the query just read.
        if (snapshotVersion() == cursor.dataVersion) {
            if (rc != SQLITE_ROW) {
                cursor.valid = false;
                return false;
            }
            fill(q);
            cursor.index = index;
            cursor.id = q.integer(0);
            return true;
        }
    }
    Query q(*this, at);
    q.bind(1, key).bind(2, static_cast<int64_t>(index));
    if (!q.row()) {
        cursor.valid = false;
        return false;
    }
    fill(q);
    cursor = {true, m_epoch, snapshotVersion(), index, q.integer(0)};
    return true;
}

bool SqliteConnection::keyAt(int64_t id, uint32_t index, EnumCursor &cursor, std::string &name)
{
    return enumerate(id, cursor, SqlKeyAfter, SqlKeyAt, index,
                     [&](Query &q) { name = q.bytes(1); });
}

bool SqliteConnection::valueAt(int64_t id, uint32_t index, EnumCursor &cursor, ConfigValue &value)
{
    return enumerate(id, cursor, SqlValueAfter, SqlValueAt, index, [&](Query &q) {
        value.name = q.bytes(1);
        value.type = static_cast<ValueType>(q.integer(2));
        value.data = q.bytes(3);
    });
}

uint32_t SqliteConnection::count(Sql which, int64_t id)
{
    Query q(*this, which);
    q.bind(1, id);
    return q.row() ? static_cast<uint32_t>(q.integer(0)) : 0;
}

Found SqliteConnection::findValue(int64_t id, const std::string &lower, ConfigValue &value)
{
    Query q(*this, SqlQueryValue);
    q.bind(1, id).bindText(2, lower);
    Found found = q.found();
    if (found == Found::Yes) {
        value.name = q.bytes(0);
        value.type = static_cast<ValueType>(q.integer(1));
        value.data = q.bytes(2);
    }
    return found;
}

Found SqliteConnection::setValue(int64_t id, std::string_view name, const std::string &lower,
                                 ValueType type, std::string_view data)
{
    Query q(*this, SqlSetValue);
    q.bind(1, id).bindText(2, name).bindText(3, lower);
    q.bind(4, static_cast<int64_t>(type)).bindBlob(5, data);
    if (!q.done())
        return Found::Failed;
    return q.changes() == 0 ? Found::No : Found::Yes;
}

Found SqliteConnection::deleteValue(int64_t id, const std::string &lower)
{
    Query q(*this, SqlDeleteValue);
    q.bind(1, id).bindText(2, lower);
    if (!q.done())
        return Found::Failed;
    return q.changes() == 0 ? Found::No : Found::Yes;
}

} // namespace

std::unique_ptr<ConfigStore> OpenSqliteStore(const std::string &path, std::string *error,
                                             StoreOpen how)
{
    auto connection = std::make_shared<SqliteConnection>();
    std::string message;
    if (!connection->open(path, how, message)) {
        if (error)
            *error = message;
        return nullptr;
    }
    return MakeStore(std::move(connection));
}

} // namespace sylvix
