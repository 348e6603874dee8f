// Statement, configuration and log helpers shared by every management class.
#pragma once

#include <string>
#include <string_view>

namespace tivel::mgt {

// Creates and opens this thread's shared connection from the configuration;
// false on any failure, whose description then goes to *why when given.
bool OpenDatabase(std::string* why = nullptr);
// The connection string the configuration file describes (modes 1 to 3;
// any other mode gives ""). A "mode" that is not a number fails "Type mismatch".
std::string GetConnectionString();
// A value of an INI file: "" for a missing file, section or key; cut at the
// first NUL, trailing blanks removed, at most 254 characters.
std::string ReadIniString(const std::string& path, const std::string& section, const std::string& key);
// The text up to (not including) its first NUL.
std::string TrimAtNull(std::string_view s);
// The text with every single quote doubled.
std::string QuoteSql(std::string_view s);
// True when exactly one row of table has column = value. The value goes into
// the statement between quotes as given: callers pass it through QuoteSql.
bool RowExists(const std::string& table, const std::string& column, const std::string& value);
// Appends "message   SysTivel<date time>\r\n" to log/logYYYYMMDD.txt beside the
// component directory, creating the log directory when missing. Throws when
// the file cannot be written.
void WriteFileLog(const std::string& message);

}  // namespace tivel::mgt
