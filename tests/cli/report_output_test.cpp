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
         "3,\x1b[2J,short\n"
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

}  // namespace
}  // namespace corvane::cli
