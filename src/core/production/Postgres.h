#pragma once
// A small RAII wrapper over libpq: a connection to a PostgreSQL server and
// the results of its statements, each cleared by its destructor, every
// failure a TDatabaseError with the server's own message; Lost when the
// connection is gone. Only what the unit database needs.

#include "core/production/DatabaseError.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct pg_conn;
struct pg_result;

namespace lindprog {

using TPgParams = std::vector<std::optional<std::string>>;

class TPgResult {
public:
    explicit TPgResult(pg_result* result) : Result(result) {}
    ~TPgResult();
    TPgResult(TPgResult&& other) noexcept : Result(other.Result) { other.Result = nullptr; }
    TPgResult(const TPgResult&) = delete;
    TPgResult& operator=(const TPgResult&) = delete;
    TPgResult& operator=(TPgResult&&) = delete;

    // The statement ran (no result at all is a failure too).
    bool Ok() const;
    int Rows() const;
    // Row `row`'s column `column`; nothing for null.
    std::optional<std::string> Field(int row, int column) const;
    std::int64_t Integer(int row, int column) const;
    // The number of rows an UPDATE or DELETE changed.
    std::int64_t Changed() const;

private:
    pg_result* Result;
};

class TPgConnection {
public:
    // Connects to the server that `uri` names (libpq's URI, completed by the
    // PG* environment variables); throws a Lost error when it cannot.
    explicit TPgConnection(const std::string& uri);
    ~TPgConnection();
    TPgConnection(const TPgConnection&) = delete;
    TPgConnection& operator=(const TPgConnection&) = delete;

    // Runs one statement with $1, $2, ... as params (several statements
    // when there are no params).
    TPgResult Execute(const std::string& sql, const TPgParams& params = {});
    // Connects again after the connection was lost; true when it answers.
    bool Reconnect();
    bool Connected() const;
    // The URI without its password, for every message.
    const std::string& Where() const { return Shown; }

private:
    [[noreturn]] void Fail(const std::string& message) const;

    pg_conn* Connection = nullptr;
    std::string Shown;
};

// BEGIN, and ROLLBACK from the destructor unless committed; a connection
// that is gone has nothing to roll back.
class TPgTransaction {
public:
    explicit TPgTransaction(TPgConnection& connection);
    ~TPgTransaction();
    TPgTransaction(const TPgTransaction&) = delete;
    TPgTransaction& operator=(const TPgTransaction&) = delete;

    void Commit();

private:
    TPgConnection& Connection;
    bool Open = true;
};

} // namespace lindprog
