#pragma once
// A database of its own for one test, in the throwaway PostgreSQL cluster that ctest's
// gateway_pg fixture starts (tools/ci/pg-cluster.sh) and names in the file
// TALMERY_TEST_PG_CLUSTER_INFO; dropped at the end. Skip() says why there is none (not root, PostgreSQL not installed, the
// test program run outside ctest).
#include <libpq-fe.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <string>

namespace gwtest {

class PgTestDatabase {
 public:
  PgTestDatabase() {
#ifdef TALMERY_TEST_PG_CLUSTER_INFO
    const char* info = TALMERY_TEST_PG_CLUSTER_INFO;
#else
    const char* info = nullptr;
#endif
    if (!info || access(info, F_OK) != 0) {
      skip_ = "no PostgreSQL cluster: run these tests through ctest, whose gateway_pg fixture makes one";
      return;
    }
    std::ifstream in(info);
    std::string line;
    std::getline(in, line);
    if (line.compare(0, 5, "skip:") == 0 || line.empty()) {
      skip_ = line.empty() ? "the gateway_pg fixture made no PostgreSQL cluster" : line.substr(6);
      return;
    }
    const size_t host = line.find("host="), port = line.find(" port=");
    host_ = line.substr(host + 5, port - host - 5);
    port_ = line.substr(port + 6);
    static std::atomic<int> count{0};
    name_ = "t_" + std::to_string(getpid()) + "_" + std::to_string(++count);
    const std::string error = Run("postgres", "CREATE DATABASE " + name_);
    if (!error.empty()) skip_ = "cannot create a test database: " + error;
  }
  ~PgTestDatabase() {
    if (skip_.empty()) Run("postgres", "DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
  }
  PgTestDatabase(const PgTestDatabase&) = delete;
  PgTestDatabase& operator=(const PgTestDatabase&) = delete;

  bool Usable() const { return skip_.empty(); }
  const std::string& Skip() const { return skip_; }
  std::string Uri() const { return "postgresql://postgres@/" + name_ + "?host=" + host_ + "&port=" + port_; }
  // Runs `sql` in this database; the first value of the first row (or "" with none), or
  // "error: ..." when it failed.
  std::string Sql(const std::string& sql) const {
    std::string value;
    const std::string error = Run(name_, sql, &value);
    return error.empty() ? value : "error: " + error;
  }

 private:
  std::string Run(const std::string& database, const std::string& sql, std::string* value = nullptr) const {
    const std::string conninfo = "host=" + host_ + " port=" + port_ + " user=postgres dbname=" + database;
    PGconn* conn = PQconnectdb(conninfo.c_str());
    std::string error;
    if (PQstatus(conn) != CONNECTION_OK) {
      error = PQerrorMessage(conn);
    } else {
      // A test may make its database's commits wait for a standby that never comes: its own
      // statements do not.
      PQclear(PQexec(conn, "SET synchronous_commit = local"));
      PGresult* r = PQexec(conn, sql.c_str());
      const ExecStatusType status = PQresultStatus(r);
      if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) error = PQresultErrorMessage(r);
      else if (value && PQntuples(r) > 0) *value = PQgetvalue(r, 0, 0);
      PQclear(r);
    }
    PQfinish(conn);
    return error;
  }

  std::string host_, port_, name_, skip_;
};

}  // namespace gwtest
