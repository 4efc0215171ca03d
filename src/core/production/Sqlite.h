#pragma once
// A small RAII wrapper over SQLite's C API: a connection and its prepared
// statements, each closed by its destructor, every failure a TDatabaseError
// that carries SQLite's own message. Only what the unit database needs.

#include "core/production/DatabaseError.h"

#include <cstdint>
#include <optional>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace lindprog {

class TSqlite {
public:
    // Opens or creates the file; waits up to busyMs for another process's
    // write lock before a statement gives up.
    TSqlite(const std::string& path, int busyMs);
    ~TSqlite();
    TSqlite(const TSqlite&) = delete;
    TSqlite& operator=(const TSqlite&) = delete;

    // Runs statements that return no rows.
    void Execute(const std::string& sql);
    std::int64_t LastInsertId() const;
    sqlite3* Handle() const { return Db; }
    const std::string& Path() const { return File; }

private:
    sqlite3* Db = nullptr;
    std::string File;
};

class TStatement {
public:
    TStatement(TSqlite& db, const std::string& sql);
    ~TStatement();
    TStatement(const TStatement&) = delete;
    TStatement& operator=(const TStatement&) = delete;

    // Parameters count from 1, as SQLite counts them.
    TStatement& Bind(int index, std::int64_t value);
    TStatement& Bind(int index, double value);
    TStatement& Bind(int index, const std::string& value);
    TStatement& BindNull(int index);
    // True while a row is there to read; false when the statement is done.
    bool Step();
    void Reset();

    bool IsNull(int column) const;
    std::int64_t Integer(int column) const;
    double Real(int column) const;
    std::string Text(int column) const;
    std::optional<std::int64_t> OptionalInteger(int column) const;

private:
    TSqlite& Db;
    sqlite3_stmt* Statement = nullptr;
};

// BEGIN IMMEDIATE: takes the write lock at once, so two processes never both
// read the next free serial number and then both take it. Rolled back by the
// destructor unless committed.
class TTransaction {
public:
    explicit TTransaction(TSqlite& db);
    ~TTransaction();
    TTransaction(const TTransaction&) = delete;
    TTransaction& operator=(const TTransaction&) = delete;

    void Commit();

private:
    TSqlite& Db;
    bool Open = true;
};

} // namespace lindprog
