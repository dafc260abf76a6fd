// How corvanectl prints a result: an aligned table for people, CSV with a header line
// for spreadsheets and inventories, or one JSON document for programs. Only results go
// to standard output; errors and progress go to standard error.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace CLI {
class App;
}

namespace corvane::cli {

// Keys keep the order in which a command sets them: the same fields in the same order on
// every run, which people reading the output and scripts diffing it both rely on.
using Json = nlohmann::ordered_json;

enum class OutputForm { table, csv, json };

struct Column {
    std::string title;  // table header: "NO STUFFING"
    std::string key;    // CSV header: "no_stuffing"
};

struct Table {
    std::vector<Column> columns;
    std::vector<std::vector<std::string>> rows;  // one cell per column
};

// Adds --json and --csv (either, not both) to a command.
void addOutputFormOptions(CLI::App& command, OutputForm& form);

// Columns two spaces apart, the last one not padded; control characters in a cell (C0,
// DEL and C1) and bytes that are not UTF-8 are shown as '?' so that a damaged settings
// file cannot drive the terminal.
void printTable(std::ostream& out, const Table& table);

// RFC 4180 quoting (cells with a comma, quote or line break are quoted, quotes doubled),
// lines ending in LF. A cell that a spreadsheet would take as a formula (starting with
// '=', '+', '-', '@', a tab or a carriage return) is quoted with an apostrophe first,
// so that it shows as text; control characters other than tab and line breaks, and
// bytes that are not UTF-8, are written as '?'.
void printCsv(std::ostream& out, const Table& table);

// Indented, ending in a newline. Bytes that are not UTF-8 (a damaged settings file)
// become U+FFFD instead of making the document invalid; every control character in a
// string, C1 and DEL included, is written as an escape.
void printJson(std::ostream& out, const Json& document);

// The table or CSV of `table`, or `document`, as `form` asks.
void printReport(std::ostream& out, OutputForm form, const Table& table, const Json& document);

std::string yesNo(bool value);

}  // namespace corvane::cli
