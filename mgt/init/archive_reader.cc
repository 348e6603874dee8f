#include "mgt/init/archive_reader.h"

#include <chrono>
#include <fstream>

#include <nlohmann/json.hpp>

#include "mgt/init/archive_format.h"
#include "mgt/init/schema.h"
#include "platform/com/error.h"

namespace tivel::mgt {

ArchiveFigures walkArchive(const std::string& archive, const ArchiveVisitor& visitor) {
  using nlohmann::json;
  const auto started = std::chrono::steady_clock::now();
  std::ifstream in(archive, std::ios::binary);
  if (!in) com::raise(com::kInvalidArgument, "tivel restore", "cannot read " + archive);
  long lineNo = 0;
  auto fail = [&](const std::string& what) {
    com::raise(com::kInvalidArgument, "tivel restore",
               archive + ", line " + std::to_string(lineNo) + ": " + what + "; the archive is damaged or not one");
  };
  auto control = [&](const std::string& line) {
    json j = json::parse(line, nullptr, false);
    if (j.is_discarded() || !j.is_object()) fail("not a line of a backup archive");
    return j;
  };

  ArchiveFigures figures;
  std::string line;
  if (!std::getline(in, line)) fail("empty file");
  ++lineNo;
  json header = control(line);
  if (header.value("format", "") != "tivel-backup") fail("not a tivel backup archive");
  if (!header["version"].is_number_integer() || header["version"].get<int>() != kArchiveVersion)
    fail("archive format " + header["version"].dump() + " is not one this release reads (" +
         std::to_string(kArchiveVersion) + ")");

  bool inTable = false, ended = false;
  std::string table;
  size_t columns = 0;
  TableDigest digest;
  while (std::getline(in, line)) {
    ++lineNo;
    if (ended) fail("text after the end of the archive");
    if (!line.empty() && line[0] == '[') {
      if (!inTable) fail("a row outside a table");
      std::vector<com::Variant> values;
      try {
        values = decodeRow(line);
      } catch (const com::ComError& e) {
        fail(e.description());
      }
      if (values.size() != columns)
        fail("a row of " + std::to_string(values.size()) + " values in a table of " + std::to_string(columns) +
             " columns");
      digest.add(line);
      figures.values += static_cast<long>(values.size());
      if (visitor.row) visitor.row(line);
      continue;
    }
    json j = control(line);
    if (j.contains("table")) {
      if (inTable) fail("table " + table + " has no end");
      if (!j["database"].is_string() || !j["table"].is_string() || !j["columns"].is_array()) fail("a table line");
      std::vector<std::string> names;
      for (const json& c : j["columns"]) {
        if (!c.is_string()) fail("a column name that is not text");
        names.push_back(c.get<std::string>());
      }
      table = j["table"].get<std::string>();
      columns = names.size();
      digest = TableDigest();
      inTable = true;
      if (visitor.table) visitor.table(j["database"].get<std::string>(), table, names);
    } else if (j.contains("schema")) {
      if (inTable) fail("table " + table + " has no end");
      if (!j["database"].is_string() || !j["schema"].is_number_integer()) fail("a database line");
      if (j["schema"].get<int>() > kSchemaVersion)
        com::raise(com::kInvalidArgument, "tivel restore",
                   archive + ": its " + j["database"].get<std::string>() + " schema is version " + j["schema"].dump() +
                       ", newer than this release's (" + std::to_string(kSchemaVersion) +
                       "); restore it with the release that made it");
    } else if (j.contains("end")) {
      if (!inTable || j["end"] != table) fail("an end line of no table");
      if (!j["rows"].is_number_integer() || !j["sha256"].is_string()) fail("an end line");
      const long rows = j["rows"].get<long>();
      const std::string sum = digest.hex();
      if (rows != digest.rows())
        fail("table " + table + " holds " + std::to_string(digest.rows()) + " rows, its end says " +
             std::to_string(rows));
      if (sum != j["sha256"].get<std::string>()) fail("table " + table + "'s checksum differs");
      inTable = false;
      ++figures.tables;
      figures.rows += rows;
      if (visitor.tableEnd) visitor.tableEnd(rows, sum);
    } else if (j.contains("file")) {
      if (inTable) fail("a file inside a table");
      if (!j["file"].is_string() || !j["text"].is_string()) fail("a file line");
      if (visitor.file) visitor.file({j["file"].get<std::string>(), j["text"].get<std::string>()});
    } else if (j.contains("end-archive")) {
      if (inTable) fail("table " + table + " has no end");
      if (j.value("tables", -1L) != figures.tables || j.value("rows", -1L) != figures.rows)
        fail("the end counts other tables or rows than the archive holds");
      ended = true;
    } else {
      fail("a line of no known kind");
    }
  }
  if (!ended) fail("the archive ends early (no end line)");
  figures.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  return figures;
}

}  // namespace tivel::mgt
