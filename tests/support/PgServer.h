#pragma once
// The throw-away PostgreSQL server that pg_virtualenv starts around a test
// binary (the PG* variables name it), for the tests of a line's shared unit
// database. Without one those tests skip; every other test runs as always.

#include "core/production/Postgres.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include <unistd.h>

namespace lindprog::test {

inline bool PgAvailable()
{
    return std::getenv("PGHOST") != nullptr && std::getenv("PGVERSION") != nullptr;
}

#define LINDPROG_NEEDS_PG()                                                                                            \
    do {                                                                                                               \
        if (!::lindprog::test::PgAvailable())                                                                          \
            GTEST_SKIP() << "no PostgreSQL server: ctest runs these under pg_virtualenv";                              \
    } while (false)

// A new, empty database on the server; its URI (the PG* variables give the
// host, the user and the password).
inline std::string FreshPgDatabase()
{
    static int made = 0;
    const std::string name = "lindprog_" + std::to_string(::getpid()) + "_" + std::to_string(++made);
    TPgConnection("postgresql://").Execute("CREATE DATABASE " + name);
    return "postgresql:///" + name;
}

// pg_virtualenv's cluster is "<version> regress"; immediate: as a crash or a
// pulled cable would end it, no session told.
inline void PgStopNow()
{
    const std::string command =
        std::string("pg_ctlcluster --mode immediate ") + std::getenv("PGVERSION") + " regress stop >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
}

inline void PgStart()
{
    const std::string command = std::string("pg_ctlcluster ") + std::getenv("PGVERSION") + " regress start >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
}

// Waits until the server has seen the sessions of ours to `uri` end but
// `staying` (a killed station's included), up to 10 s.
inline void WaitForSessionsGone(const std::string& uri, int staying = 0)
{
    TPgConnection watcher(uri);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline &&
           watcher.Execute("SELECT count(*) FROM pg_stat_activity WHERE application_name = 'lindprog' AND "
                           "datname = current_database() AND pid <> pg_backend_pid()")
                   .Integer(0, 0) > staying)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

} // namespace lindprog::test
