#include "cli/report_output.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <ostream>
#include <string_view>

namespace corvane::cli {
namespace {

constexpr char kColumnGap[] = "  ";

// Width on a terminal: UTF-8 continuation bytes take no column of their own.
std::size_t displayWidth(const std::string& text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

// The length of the UTF-8 sequence at `at` and its code point, or 0 where the bytes
// there are not UTF-8.
std::size_t utf8Sequence(const std::string& text, std::size_t at, char32_t& point) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = 0;
    char32_t least = 0;  // shorter forms of a code point are not UTF-8
    if (lead < 0x80) {
        point = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, point = lead & 0x1F, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, point = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, point = lead & 0x07, least = 0x10000;
    } else {
        return 0;
    }
    if (at + length > text.size()) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        point = point << 6 | (next & 0x3F);
    }
    return point >= least && point <= 0x10FFFF ? length : 0;
}

// C0 and C1 controls and DEL: a terminal may take them as commands (ESC, and the C1
// CSI "\xc2\x9b", start control sequences).
bool isControl(char32_t point) {
    return point < 0x20 || (point >= 0x7F && point <= 0x9F);
}

// `text` with every control character and every byte that is not UTF-8 shown as '?',
// except the characters in `kept`.
std::string printable(const std::string& text, std::string_view kept = {}) {
    std::string shown;
    for (std::size_t at = 0; at < text.size();) {
        char32_t point = 0;
        const std::size_t length = utf8Sequence(text, at, point);
        if (length == 0 || (isControl(point) && kept.find(text[at]) == std::string_view::npos)) {
            shown += '?';
            at += std::max<std::size_t>(length, 1);
        } else {
            shown.append(text, at, length);
            at += length;
        }
    }
    return shown;
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

// Cells that a spreadsheet would take as the start of a formula.
bool looksLikeFormula(const std::string& cell) {
    return !cell.empty() &&
           std::string_view("=+-@\t\r").find(cell.front()) != std::string_view::npos;
}

std::string csvCell(const std::string& raw) {
    // Line breaks and tabs are data, quoted below; other controls never reach the file.
    const std::string cell = printable(raw, "\t\r\n");
    const bool formula = looksLikeFormula(cell);
    if (!formula && cell.find_first_of(",\"\r\n") == std::string::npos) {
        return cell;
    }
    // A leading apostrophe inside the quotes makes spreadsheets show a formula as text.
    std::string quoted = formula ? "\"'" : "\"";
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
    // The dump escapes C0 controls only; DEL and C1 controls (which can only stand in
    // strings of the valid UTF-8 it makes) get their escapes here.
    const std::string text = document.dump(2, ' ', false, Json::error_handler_t::replace);
    std::string escaped;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const auto byte = static_cast<unsigned char>(text[at]);
        const auto next = at + 1 < text.size() ? static_cast<unsigned char>(text[at + 1]) : 0;
        if (byte == 0x7F || (byte == 0xC2 && next >= 0x80 && next <= 0x9F)) {
            char code[8];
            std::snprintf(code, sizeof code, "\\u%04x", byte == 0x7F ? byte : next);
            escaped += code;
            at += byte == 0x7F ? 0 : 1;
        } else {
            escaped += text[at];
        }
    }
    out << escaped << '\n';
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
