// The three forms of a result: aligned table, CSV and JSON.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/report_output.h"

namespace corvane::cli {
namespace {

TEST(ReportOutput, TableCsvAndJsonOfTheSameRows) {
    const Table table{{{"#", "position"}, {"MAC", "mac"}, {"NOTE", "note"}},
                      {{"1", "02:C0:7A:DE:00:01", ""},
                       {"12", "Ä,\"x\"", "a\nb"},
                       {"3", "\x1b[2J", "short"},
                       {"4"}}};
    struct Row {
        OutputForm form;
        Json document;
        std::string expected;
    };
    const Row rows[] = {
        // Widths count characters, not bytes; control characters never reach the terminal;
        // no blanks end a line.
        {OutputForm::table,
         {},
         "#   MAC                NOTE\n"
         "1   02:C0:7A:DE:00:01\n"
         "12  Ä,\"x\"              a?b\n"
         "3   ?[2J               short\n"
         "4\n"},
        // Quoted where needed, every line with every field.
        {OutputForm::csv,
         {},
         "position,mac,note\n"
         "1,02:C0:7A:DE:00:01,\n"
         "12,\"Ä,\"\"x\"\"\",\"a\nb\"\n"
         "3,?[2J,short\n"
         "4,,\n"},
        // Keys in the order set; bytes that are not UTF-8 replaced, not thrown at.
        {OutputForm::json,
         Json::array({Json{{"mac",
                            "\xff"
                            "A"},
                           {"class", 3},
                           {"duplicate", false}}}),
         "[\n  {\n    \"mac\": \"\xef\xbf\xbd"
         "A\",\n    \"class\": 3,\n"
         "    \"duplicate\": false\n  }\n]\n"},
    };
    for (const Row& row : rows) {
        std::ostringstream out;
        printReport(out, row.form, table, row.document);
        EXPECT_EQ(out.str(), row.expected);
    }
}

// What a damaged settings file can put in a cell must neither drive a terminal nor run
// as a spreadsheet formula: each cell of one row, in each form.
TEST(ReportOutput, ControlsEscapedAndFormulasShownAsText) {
    struct Row {
        const char* name;
        std::string cell;
        std::string table;  // the line under the header
        std::string csv;    // the line under the header
        std::string json;   // the string as dumped
    };
    const Row rows[] = {
        {"C1 CSI",
         "a\xc2\x9b"
         "2Jb",
         "a?2Jb", "a?2Jb", "\"a\\u009b2Jb\""},
        {"ESC and BEL", "\x1b]0;x\x07", "?]0;x?", "?]0;x?", "\"\\u001b]0;x\\u0007\""},
        {"DEL", "a\x7f", "a?", "a?", "\"a\\u007f\""},
        {"a lone C1 byte, not UTF-8", "a\x9b", "a?", "a?", "\"a\xef\xbf\xbd\""},
        {"printable text beyond C1 kept", "\xc2\xa0\xc3\x84", "\xc2\xa0\xc3\x84",
         "\xc2\xa0\xc3\x84", "\"\xc2\xa0\xc3\x84\""},
        {"formula", "=HYPERLINK(\"x\")", "=HYPERLINK(\"x\")", "\"'=HYPERLINK(\"\"x\"\")\"",
         "\"=HYPERLINK(\\\"x\\\")\""},
        {"plus", "+1", "+1", "\"'+1\"", "\"+1\""},
        {"minus", "-1", "-1", "\"'-1\"", "\"-1\""},
        {"at", "@SUM(A1)", "@SUM(A1)", "\"'@SUM(A1)\"", "\"@SUM(A1)\""},
        {"tab first", "\t=1", "?=1", "\"'\t=1\"", "\"\\t=1\""},
        {"CR first", "\r=1", "?=1", "\"'\r=1\"", "\"\\r=1\""},
        {"a formula sign inside is data", "a=1", "a=1", "a=1", "\"a=1\""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Table table{{{"MAC", "mac"}}, {{row.cell}}};
        std::ostringstream shown, csv, json;
        printTable(shown, table);
        printCsv(csv, table);
        printJson(json, Json::array({row.cell}));
        EXPECT_EQ(shown.str(), "MAC\n" + row.table + "\n");
        EXPECT_EQ(csv.str(), "mac\n" + row.csv + "\n");
        EXPECT_EQ(json.str(), "[\n  " + row.json + "\n]\n");
    }
}

}  // namespace
}  // namespace corvane::cli
