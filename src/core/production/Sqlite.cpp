#include "core/production/Sqlite.h"

#include <sqlite3.h>

namespace lindprog {

namespace {

[[noreturn]] void Fail(sqlite3* db, const std::string& what)
{
    throw TDatabaseError(what + ": " + (db ? sqlite3_errmsg(db) : "out of memory"));
}

} // namespace

TSqlite::TSqlite(const std::string& path, int busyMs) : File(path)
{
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path.c_str(), &Db, flags, nullptr) != SQLITE_OK) {
        const std::string message = Db ? sqlite3_errmsg(Db) : "out of memory";
        sqlite3_close(Db);
        throw TDatabaseError("cannot open the unit database " + path + ": " + message);
    }
    sqlite3_busy_timeout(Db, busyMs);
}

TSqlite::~TSqlite()
{
    sqlite3_close(Db);
}

void TSqlite::Execute(const std::string& sql)
{
    char* error = nullptr;
    if (sqlite3_exec(Db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string message = error ? error : sqlite3_errmsg(Db);
        sqlite3_free(error);
        throw TDatabaseError(File + ": " + message);
    }
}

std::int64_t TSqlite::LastInsertId() const
{
    return sqlite3_last_insert_rowid(Db);
}

TStatement::TStatement(TSqlite& db, const std::string& sql) : Db(db)
{
    if (sqlite3_prepare_v2(db.Handle(), sql.c_str(), -1, &Statement, nullptr) != SQLITE_OK)
        Fail(db.Handle(), db.Path());
}

TStatement::~TStatement()
{
    sqlite3_finalize(Statement);
}

TStatement& TStatement::Bind(int index, std::int64_t value)
{
    if (sqlite3_bind_int64(Statement, index, value) != SQLITE_OK)
        Fail(Db.Handle(), Db.Path());
    return *this;
}

TStatement& TStatement::Bind(int index, double value)
{
    if (sqlite3_bind_double(Statement, index, value) != SQLITE_OK)
        Fail(Db.Handle(), Db.Path());
    return *this;
}

TStatement& TStatement::Bind(int index, const std::string& value)
{
    if (sqlite3_bind_text(Statement, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT) !=
        SQLITE_OK)
        Fail(Db.Handle(), Db.Path());
    return *this;
}

TStatement& TStatement::BindNull(int index)
{
    if (sqlite3_bind_null(Statement, index) != SQLITE_OK)
        Fail(Db.Handle(), Db.Path());
    return *this;
}

bool TStatement::Step()
{
    const int result = sqlite3_step(Statement);
    if (result == SQLITE_ROW)
        return true;
    if (result != SQLITE_DONE)
        Fail(Db.Handle(), Db.Path());
    return false;
}

void TStatement::Reset()
{
    sqlite3_reset(Statement);
    sqlite3_clear_bindings(Statement);
}

bool TStatement::IsNull(int column) const
{
    return sqlite3_column_type(Statement, column) == SQLITE_NULL;
}

std::int64_t TStatement::Integer(int column) const
{
    return sqlite3_column_int64(Statement, column);
}

double TStatement::Real(int column) const
{
    return sqlite3_column_double(Statement, column);
}

std::string TStatement::Text(int column) const
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(Statement, column));
    return text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(Statement, column))) : "";
}

std::optional<std::int64_t> TStatement::OptionalInteger(int column) const
{
    if (IsNull(column))
        return std::nullopt;
    return Integer(column);
}

TTransaction::TTransaction(TSqlite& db) : Db(db)
{
    Db.Execute("BEGIN IMMEDIATE");
}

TTransaction::~TTransaction()
{
    if (Open)
        sqlite3_exec(Db.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void TTransaction::Commit()
{
    Db.Execute("COMMIT");
    Open = false;
}

} // namespace lindprog
