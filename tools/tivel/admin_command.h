// What the administration commands (tivel user, group, org) share: the
// --root and --json options, the components on the root, refusals with the
// component's result code, and output as a table or one JSON document.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "mgt/admin/admin_mgt.h"
#include "mgt/um/um_mgt.h"
#include "records/record.h"

namespace tivel::tool::admin {

// The options every administration command takes.
struct Common {
  std::string root;
  bool json = false;
};

// Adds --root and --json to a command.
void addCommon(CLI::App* cmd, Common& common);

// The components an administration command works through, made on the root.
struct Components {
  std::shared_ptr<mgt::UmMgt> um;
  std::shared_ptr<mgt::AdminMgt> admin;
};

// Points the process at the root and runs body with fresh components; a
// call error ends the command with status 1 and its description.
void run(const std::string& command, const Common& common, const std::function<void(Components&)>& body);

// Ends the command with status 1: "tivel COMMAND: CODE TEXT" on stderr.
[[noreturn]] void refuse(const std::string& command, const std::string& code);
// Ends the command with status 1 and the message on stderr.
[[noreturn]] void fail(const std::string& command, const std::string& message);
// Refuses with the code unless it is "0".
void check(const std::string& command, const std::string& code);

// What a management result code means ("" for one not known here).
std::string codeText(const std::string& code);

// The records of a cCollection, in order; none for Nothing.
std::vector<records::RecordPtr> recordsOf(const com::Variant& list);
// A field as text ("" for Null and Empty).
std::string text(const records::Record& rec, const std::string& field);
// The named fields of a record as a JSON object of strings.
nlohmann::json toJson(const records::Record& rec, const std::vector<std::string>& fields);

// Prints rows under a header, columns aligned (wide characters count twice).
void printTable(const std::vector<std::string>& header, const std::vector<std::vector<std::string>>& rows);
// Prints one JSON document on stdout.
void printJson(const nlohmann::json& doc);

// The user with that account, or the command refused with codes::kUpdateUsrNotFound ("no such user").
records::RecordPtr userOf(Components& c, const std::string& command, const std::string& account);
// A new password from the terminal (asked twice, no echo) or the first line
// of stdin; an empty one, or two that differ, refuse the command.
std::string newPassword(const std::string& command, const std::string& account, bool fromStdin);
// One system-log line for an administrator's change, as the console writes them.
void logChange(Components& c, const std::string& text);

}  // namespace tivel::tool::admin
