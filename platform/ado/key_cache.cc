// Modelled on a database's own schema cache: trust what was read until a
// statement that could change it runs, then read again. Only statements known
// to leave the schema alone keep it; anything else (DDL, several statements
// in one text, a text that opens with a comment) drops it, which costs at
// most one catalogue question per table again.
#include "platform/ado/key_cache.h"

#include <strings.h>

#include <cctype>
#include <unordered_map>
#include <vector>

#include "platform/ado/forwarding_backend.h"

namespace tivel::ado {
namespace {

class KeyCache final : public ForwardingBackend {
 public:
  using ForwardingBackend::ForwardingBackend;

  std::vector<std::string> primaryKey(const std::string& table) override {
    auto it = keys_.find(table);
    if (it == keys_.end()) it = keys_.emplace(table, inner().primaryKey(table)).first;
    return it->second;
  }
  void rollback() override {
    keys_.clear();
    inner().rollback();
  }

 private:
  void beforeStatement(const std::string& sql) override {
    if (!keys_.empty() && mayChangeSchema(sql)) keys_.clear();
  }

  std::unordered_map<std::string, std::vector<std::string>> keys_;  // by table name as asked
};

}  // namespace

bool mayChangeSchema(const std::string& sql) {
  size_t i = 0;
  while (i < sql.size() && std::isspace(static_cast<unsigned char>(sql[i]))) ++i;
  size_t start = i;
  while (i < sql.size() && std::isalpha(static_cast<unsigned char>(sql[i]))) ++i;
  const std::string word = sql.substr(start, i - start);
  bool known = false;
  for (const char* w :
       {"SELECT", "INSERT", "UPDATE", "DELETE", "VALUES", "LOCK", "SAVEPOINT", "RELEASE", "BEGIN", "COMMIT"})
    known = known || strcasecmp(word.c_str(), w) == 0;
  if (!known) return true;
  // A ";" with more than blanks after it starts another statement (or sits in
  // a quoted value: then the cache is dropped for nothing, which is harmless).
  size_t semi = sql.find(';', i);
  if (semi == std::string::npos) return false;
  for (size_t j = semi + 1; j < sql.size(); ++j)
    if (!std::isspace(static_cast<unsigned char>(sql[j]))) return true;
  return false;
}

std::unique_ptr<Backend> keepingKeys(std::unique_ptr<Backend> backend) {
  return std::make_unique<KeyCache>(std::move(backend));
}

}  // namespace tivel::ado
