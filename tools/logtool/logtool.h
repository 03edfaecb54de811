// logtool: dumps, verifies and builds installation logs. The commands are functions so that
// tests can run them in-process; main() only hands them the command line and prints.
#pragma once

#include <string>
#include <vector>

constexpr int LOGTOOL_OK = 0;
constexpr int LOGTOOL_UNSOUND = 1;   // dump, verify: the log cannot be opened or read
constexpr int LOGTOOL_FAILED = 2;    // usage, a bad description, a refused record, a failed write

// args without the program name, e.g. {"dump", "--json", "x.log"}. Normal output goes to out,
// messages to err (UTF-8 both); the result is the exit code.
int LogtoolRun(const std::vector<std::string> &args, std::string *out, std::string *err);

// The header items, the name table and every record by name in chain order (text), or the
// build description with the banner and the records in the order they were added (json).
int LogtoolDump(const char *logPath, bool json, std::string *out, std::string *err);
// 0 when the log opens and every chain reads to its end with the counts the log states.
int LogtoolVerify(const char *logPath, std::string *out, std::string *err);
// Writes a committed log from a JSON description. The log appears at outPath complete or not
// at all (an existing file there is replaced only on success).
int LogtoolBuild(const std::string &description, const char *outPath, std::string *err);
