// One PostgreSQL connection used directly through libpq, for the benchmarks
// that set the same statements through the ODBC path beside the server's own
// client library: each statement is one PQexec (the simple protocol, text
// results), and every column of every row is read.
#pragma once

#include <libpq-fe.h>

#include <stdexcept>
#include <string>

namespace tivel::bench {

class Libpq {
 public:
  // Connects to `database` on the server the TIVEL_TEST_PG_* values name.
  Libpq(const std::string& host, const std::string& port, const std::string& user, const std::string& password,
        const std::string& database) {
    const char* keys[] = {"host", "port", "user", "password", "dbname", "client_encoding", nullptr};
    const char* values[] = {host.c_str(),     port.c_str(), user.c_str(), password.c_str(),
                            database.c_str(), "UTF8",       nullptr};
    conn_ = PQconnectdbParams(keys, values, 0);
    if (PQstatus(conn_) != CONNECTION_OK) {
      std::string why = PQerrorMessage(conn_);
      PQfinish(conn_);
      throw std::runtime_error("libpq: " + why);
    }
  }
  ~Libpq() { PQfinish(conn_); }
  Libpq(const Libpq&) = delete;
  Libpq& operator=(const Libpq&) = delete;

  // Runs one statement, reading every column of every row; the row count.
  // With `field`, the first row's column `column` (from 1) is kept there.
  int run(const std::string& sql, std::string* field = nullptr, int column = 1) {
    PGresult* r = PQexec(conn_, sql.c_str());
    const ExecStatusType status = PQresultStatus(r);
    if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
      std::string why = PQresultErrorMessage(r);
      PQclear(r);
      throw std::runtime_error("libpq: " + why);
    }
    const int rows = PQntuples(r), cols = PQnfields(r);
    for (int row = 0; row < rows; ++row)
      for (int col = 0; col < cols; ++col) {
        value_.assign(PQgetvalue(r, row, col), static_cast<size_t>(PQgetlength(r, row, col)));
        if (field && row == 0 && col == column - 1 && !PQgetisnull(r, row, col)) *field = value_;
      }
    PQclear(r);
    return rows;
  }
  // The first field of the first row as text ("" for none or NULL).
  std::string first(const std::string& sql) {
    std::string v;
    run(sql, &v);
    return v;
  }
  void begin() { run("BEGIN"); }
  void commit() { run("COMMIT"); }

 private:
  PGconn* conn_ = nullptr;
  std::string value_;  // the last value read, so that reading it is not optimised away
};

}  // namespace tivel::bench
