// The system log read whole for an export: page after page in the log
// page's order (newest first, then by Log_no), each page starting after the
// last entry of the one before, so that a deep page costs what the first
// does and entries written while the export runs shift nothing.
#pragma once

#include <string>
#include <vector>

#include "mgt/console/console_mgt.h"

namespace tivel::mgt {

// The " where ..." condition of the system log's reads for the query's
// filters; fails (std::invalid_argument) for a time bound that is no day or
// minute or a text that holds a control character.
std::string logCondition(const ConsoleLogQuery& query);

// One entry as an export writes it ("" for a missing value).
struct ConsoleLogEntry {
  std::string time, module, text, type;
};

class LogExportReader {
 public:
  // Checks the filters at once (std::invalid_argument as above); `query`'s
  // page is ignored, its size (1 to 200) is the page's.
  explicit LogExportReader(const ConsoleLogQuery& query);
  // The next entries, at most the query's size; none after the last. A
  // failed statement fails the call.
  std::vector<ConsoleLogEntry> next();

 private:
  enum class Part { Start, Dated, Undated, Done };
  std::vector<ConsoleLogEntry> read(bool dated);

  std::string where_;
  int size_;
  Part part_ = Part::Start;
  bool undatedFirst_ = false;      // where this engine orders entries without a time
  bool after_ = false;             // a page of this part was read: the next starts after its last entry
  std::string lastTime_, lastNo_;  // the key of that entry
};

}  // namespace tivel::mgt
