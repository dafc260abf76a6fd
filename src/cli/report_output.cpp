#include "cli/report_output.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <ostream>

namespace corvane::cli {
namespace {

constexpr char kColumnGap[] = "  ";

// Width on a terminal: UTF-8 continuation bytes take no column of their own.
std::size_t displayWidth(const std::string& text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

std::string printable(std::string text) {
    for (char& c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            c = '?';
        }
    }
    return text;
}

void printRow(std::ostream& out, const std::vector<std::string>& cells,
              const std::vector<std::size_t>& widths) {
    std::string line;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        line += cells[i];
        if (i + 1 < cells.size()) {
            line.append(widths[i] - displayWidth(cells[i]), ' ').append(kColumnGap);
        }
    }
    // Empty trailing cells would leave blanks at the end of the line.
    line.erase(line.find_last_not_of(' ') + 1);
    out << line << '\n';
}

std::string csvCell(const std::string& cell) {
    if (cell.find_first_of(",\"\r\n") == std::string::npos) {
        return cell;
    }
    std::string quoted = "\"";
    for (char c : cell) {
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    return quoted + "\"";
}

void printCsvLine(std::ostream& out, const std::vector<std::string>& cells) {
    for (std::size_t i = 0; i < cells.size(); ++i) {
        out << (i == 0 ? "" : ",") << csvCell(cells[i]);
    }
    out << '\n';
}

}  // namespace

void addOutputFormOptions(CLI::App& command, OutputForm& form) {
    auto* json = command.add_flag_callback(
        "--json", [&form] { form = OutputForm::json; }, "Print one JSON document");
    auto* csv = command.add_flag_callback(
        "--csv", [&form] { form = OutputForm::csv; }, "Print CSV with a header line");
    json->excludes(csv);
}

void printTable(std::ostream& out, const Table& table) {
    std::vector<std::string> header;
    std::vector<std::size_t> widths;
    for (const Column& column : table.columns) {
        header.push_back(column.title);
        widths.push_back(displayWidth(column.title));
    }
    std::vector<std::vector<std::string>> rows;
    for (const auto& row : table.rows) {
        auto& cells = rows.emplace_back();
        for (std::size_t i = 0; i < row.size() && i < widths.size(); ++i) {
            cells.push_back(printable(row[i]));
            widths[i] = std::max(widths[i], displayWidth(cells.back()));
        }
    }
    printRow(out, header, widths);
    for (const auto& cells : rows) {
        printRow(out, cells, widths);
    }
}

void printCsv(std::ostream& out, const Table& table) {
    std::vector<std::string> header;
    for (const Column& column : table.columns) {
        header.push_back(column.key);
    }
    printCsvLine(out, header);
    for (std::vector<std::string> cells : table.rows) {
        cells.resize(header.size());  // every line has every field, empty ones too
        printCsvLine(out, cells);
    }
}

void printJson(std::ostream& out, const Json& document) {
    out << document.dump(2, ' ', false, Json::error_handler_t::replace) << '\n';
}

void printReport(std::ostream& out, OutputForm form, const Table& table, const Json& document) {
    switch (form) {
        case OutputForm::table:
            printTable(out, table);
            break;
        case OutputForm::csv:
            printCsv(out, table);
            break;
        case OutputForm::json:
            printJson(out, document);
            break;
    }
}

std::string yesNo(bool value) {
    return value ? "yes" : "no";
}

}  // namespace corvane::cli
