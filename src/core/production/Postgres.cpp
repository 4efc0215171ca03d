#include "core/production/Postgres.h"

#include "core/production/UnitDatabase.h"

#include <libpq-fe.h>

namespace lindprog {

namespace {

// libpq's messages run over indented lines and end in a line break; ours
// go on one line.
std::string OneLine(const char* message)
{
    std::string text;
    for (const char* c = message != nullptr ? message : ""; *c != '\0'; ++c) {
        const bool space = *c == '\n' || *c == '\t' || *c == ' ';
        if (!space)
            text += *c;
        else if (!text.empty() && text.back() != ' ')
            text += ' ';
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    return text;
}

// CREATE ... IF NOT EXISTS and the like tell the client about what they
// skipped; a command line's output is no place for that.
void IgnoreNotice(void*, const char*)
{
}

} // namespace

TPgResult::~TPgResult()
{
    PQclear(Result);
}

int TPgResult::Rows() const
{
    return PQntuples(Result);
}

std::optional<std::string> TPgResult::Field(int row, int column) const
{
    if (PQgetisnull(Result, row, column))
        return std::nullopt;
    return std::string(PQgetvalue(Result, row, column), static_cast<std::size_t>(PQgetlength(Result, row, column)));
}

std::int64_t TPgResult::Integer(int row, int column) const
{
    const auto text = Field(row, column);
    return text ? std::stoll(*text) : 0;
}

bool TPgResult::Ok() const
{
    const ExecStatusType status = PQresultStatus(Result);
    return Result != nullptr && (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK);
}

std::int64_t TPgResult::Changed() const
{
    const char* count = PQcmdTuples(Result);
    return count != nullptr && *count != '\0' ? std::stoll(count) : 0;
}

TPgConnection::TPgConnection(const std::string& uri) : Shown(WithoutPassword(uri))
{
    // Defaults first, so that the URI's own settings win: a station must
    // notice a server that went silent instead of waiting on it for good.
    const char* keywords[] = {"connect_timeout",
                              "keepalives_idle",
                              "keepalives_interval",
                              "keepalives_count",
                              "tcp_user_timeout",
                              "application_name",
                              "dbname",
                              nullptr};
    const char* values[] = {"5", "10", "5", "3", "15000", "lindprog", uri.c_str(), nullptr};
    Connection = PQconnectdbParams(keywords, values, 1);
    if (Connection == nullptr)
        throw TDatabaseError(Shown + ": out of memory", true);
    PQsetNoticeProcessor(Connection, IgnoreNotice, nullptr);
    if (PQstatus(Connection) != CONNECTION_OK) {
        const std::string message = OneLine(PQerrorMessage(Connection));
        PQfinish(Connection);
        Connection = nullptr;
        throw TDatabaseError(Shown + ": " + message, true);
    }
}

TPgConnection::~TPgConnection()
{
    PQfinish(Connection);
}

bool TPgConnection::Connected() const
{
    return Connection != nullptr && PQstatus(Connection) == CONNECTION_OK;
}

bool TPgConnection::Reconnect()
{
    if (Connection == nullptr)
        return false;
    PQreset(Connection);
    return Connected();
}

void TPgConnection::Fail(const std::string& message) const
{
    throw TDatabaseError(Shown + ": " + message, !Connected());
}

TPgResult TPgConnection::Execute(const std::string& sql, const TPgParams& params)
{
    if (!Connected())
        Fail("the connection to the server is lost");
    std::vector<const char*> values;
    for (const auto& param : params)
        values.push_back(param ? param->c_str() : nullptr);
    TPgResult result(params.empty() ? PQexec(Connection, sql.c_str())
                                    : PQexecParams(Connection, sql.c_str(), static_cast<int>(values.size()), nullptr,
                                                   values.data(), nullptr, nullptr, 0));
    if (!result.Ok())
        Fail(OneLine(PQerrorMessage(Connection)));
    return result;
}

TPgTransaction::TPgTransaction(TPgConnection& connection) : Connection(connection)
{
    Connection.Execute("BEGIN");
}

TPgTransaction::~TPgTransaction()
{
    if (!Open || !Connection.Connected())
        return;
    try {
        Connection.Execute("ROLLBACK");
    } catch (const TDatabaseError&) {
        // The connection went while rolling back: the server rolls back.
    }
}

void TPgTransaction::Commit()
{
    Open = false;
    Connection.Execute("COMMIT");
}

} // namespace lindprog
