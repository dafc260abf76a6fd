// The site file: written in one stable form that the shipped JSON Schema accepts and
// that reads back to the same file; a damaged or foreign file refused by the reader
// with its line and field, and by the schema too.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "cli/cli_session.h"
#include "cli/site_file_json.h"
#include "reports/address_formats.h"

namespace corvane::cli {
namespace {

namespace fs = std::filesystem;

// The build folder: this test's folder's parent; __FILE__ is relative to it or whole.
fs::path schemaPath() {
    const fs::path build = fs::canonical("/proc/self/exe").parent_path().parent_path();
    return build / fs::path(__FILE__).parent_path() / "../../data/corvane-site.schema.json";
}

// Whether python3-jsonschema finds each of `texts` valid against the shipped schema: one
// run of the validator for all of them.
std::vector<bool> schemaAccepts(const std::vector<std::string>& texts) {
    char pattern[] = "/tmp/corvane-site-XXXXXX";
    EXPECT_NE(mkdtemp(pattern), nullptr);
    const fs::path folder = pattern;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        std::ofstream(folder / std::to_string(i), std::ios::binary) << texts[i];
    }
    const std::string command =
        "python3 -c 'import json, sys, jsonschema\n"
        "schema = json.load(open(sys.argv[1]))\n"
        "jsonschema.Draft202012Validator.check_schema(schema)\n"
        "for i in range(int(sys.argv[3])):\n"
        "    try:\n"
        "        document = json.load(open(sys.argv[2] + \"/\" + str(i)))\n"
        "    except Exception:  # not JSON, or nested beyond its reader\n"
        "        print(0); continue\n"
        "    print(int(jsonschema.Draft202012Validator(schema).is_valid(document)))' '" +
        schemaPath().string() + "' " + folder.string() + " " + std::to_string(texts.size());
    std::vector<bool> verdicts;
    if (FILE* out = popen(command.c_str(), "r")) {
        for (int c = 0; (c = std::fgetc(out)) != EOF;) {
            if (c == '0' || c == '1') {
                verdicts.push_back(c == '1');
            }
        }
        EXPECT_EQ(pclose(out), 0) << command;
    }
    fs::remove_all(folder);
    EXPECT_EQ(verdicts.size(), texts.size()) << command;
    verdicts.resize(texts.size());
    return verdicts;
}

SiteSnapshot sampleSite() {
    SiteSnapshot site;
    site.takenAt = "2026-12-08T02:00:00Z";
    site.from = Ipv4Address::fromOctets(10, 77, 0, 1);
    SiteModule single;
    single.mac = {0x02, 0xC0, 0x7A, 0xDE, 0x00, 0x01};
    single.ip = Ipv4Address::fromOctets(10, 77, 64, 11);
    single.mask = Ipv4Address::fromOctets(255, 255, 0, 0);
    single.output = {false, true, 1, Ipv4Address::fromOctets(239, 10, 1, 1), 1234, true, {}, {}};
    SiteModule entries = single;
    entries.mac[5] = 0x03;
    entries.ip = Ipv4Address::fromOctets(10, 77, 64, 13);
    entries.output = {true,
                      true,
                      0,
                      {},
                      0,
                      false,
                      {{Ipv4Address::fromOctets(239, 10, 2, 1), 1234, true}},
                      {{Ipv4Address(), 5000}}};
    SiteModule silent = single;
    silent.mac[5] = 0x04;
    silent.answered = false;
    silent.output = {};
    site.modules = {single, entries, silent};
    return site;
}

constexpr char kSampleText[] = R"({
  "format": 1,
  "taken_at": "2026-12-08T02:00:00Z",
  "from": "10.77.0.1",
  "modules": [
    {
      "mac": "02:C0:7A:DE:00:01",
      "ip": "10.77.64.11",
      "mask": "255.255.0.0",
      "gateway": "0.0.0.0",
      "output": {
        "form": "single",
        "protocol": "rtp",
        "destination": "239.10.1.1:1234",
        "no_stuffing": true,
        "running": true
      }
    },
    {
      "mac": "02:C0:7A:DE:00:03",
      "ip": "10.77.64.13",
      "mask": "255.255.0.0",
      "gateway": "0.0.0.0",
      "output": {
        "form": "entries",
        "outputs": [
          {
            "destination": "239.10.2.1:1234",
            "running": true
          }
        ],
        "inputs": [
          {
            "source": "0.0.0.0:5000"
          }
        ]
      }
    },
    {
      "mac": "02:C0:7A:DE:00:04",
      "ip": "10.77.64.11",
      "mask": "255.255.0.0",
      "gateway": "0.0.0.0",
      "answered": false
    }
  ]
}
)";

TEST(SiteFile, OneStableFormTheSchemaAcceptsAndThatReadsBack) {
    const std::string text = siteFileText(sampleSite());
    EXPECT_EQ(text, kSampleText);
    EXPECT_EQ(schemaAccepts({text}), std::vector<bool>{true});
    EXPECT_EQ(siteFileText(parseSiteFile(text, "site.json")), text);
}

// `text` with the first `from` replaced by `to`.
std::string edited(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

TEST(SiteFile, DamagedOrForeignFilesNameLineAndField) {
    const std::string good = kSampleText;
    struct Row {
        std::string text;
        std::string error;
        bool schemaRefuses = true;  // rules beyond a schema: module addresses, masks, MACs twice
    };
    const Row rows[] = {
        {good.substr(0, 300), "site.json line 14: not valid JSON ("},
        {"", "site.json line 1: not valid JSON ("},
        {"[1, 2]", "site.json line 1: the document: not a site file"},
        {"{\"format\": 1, \"modules\": " + std::string(100000, '[') + std::string(100000, ']') +
             "}",
         "line 1: the document: no \"taken_at\""},
        {R"({"groups": {"a": 1}})", "line 1: the document: not a site file"},
        {edited(good, "\"format\": 1", "\"format\": 2"), "line 2: format: format 2 is not one"},
        {edited(good, "2026-12-08T02:00:00Z", "last night"),
         "line 3: taken_at: 'last night' is not a UTC time"},
        {edited(good, "\"ip\": \"10.77.64.13\"", "\"ip\": \"10.77.64.300\""),
         "site.json line 21: modules[1].ip: '10.77.64.300' is not an address a module may have"},
        {edited(good, "\"ip\": \"10.77.64.13\"", "\"ip\": \"10.77.64.255\""),
         "line 21: modules[1].ip: '10.77.64.255' is not an address a module may have", false},
        {edited(good, "\"mask\": \"255.255.0.0\"", "\"mask\": \"255.0.255.0\""),
         "line 9: modules[0].mask: '255.0.255.0' is not a network mask", false},
        {edited(good, "\"mac\": \"02:C0:7A:DE:00:03\"", "\"mac\": \"02:C0:7A:DE:00\""),
         "line 20: modules[1].mac: '02:C0:7A:DE:00' is not a MAC"},
        {edited(good, "\"mac\": \"02:C0:7A:DE:00:03\"", "\"mac\": \"02:c0:7a:de:00:01\""),
         "line 20: modules[1].mac: the file names this module twice", false},
        {edited(good, "\"protocol\": \"rtp\"", "\"protocol\": \"\\u001b[2J\""),
         "line 13: modules[0].output.protocol: '?[2J' is not a protocol"},
        {edited(good, "\"protocol\": \"rtp\"", "\"protocol\": \"tcp\""),
         "line 13: modules[0].output.protocol: 'tcp' is not a protocol"},
        {edited(good, "\"no_stuffing\": true", "\"no_stuffing\": \"yes\""),
         "line 15: modules[0].output.no_stuffing: is string, not boolean"},
        {edited(good, "\"destination\": \"239.10.1.1:1234\"", "\"destination\": \"239.10.1.1\""),
         "line 14: modules[0].output.destination: '239.10.1.1' is not a destination"},
        {edited(good, "\"running\": true\n      }",
                "\"running\": true,\n      \"tos\": 4\n      }"),
         "line 17: modules[0].output.tos: is not a field of a site file"},
        {edited(good, "\"gateway\": \"0.0.0.0\",\n      \"output\"", "\"output\""),
         "line 6: modules[0]: no \"gateway\""},
        {edited(good, "\"form\": \"entries\"", "\"form\": \"list\""),
         "line 25: modules[1].output.form: 'list' is not a form"},
        {edited(good, "\"source\": \"0.0.0.0:5000\"", "\"source\": \"0.0.0.0:70000\""),
         "line 34: modules[1].output.inputs[0].source: '0.0.0.0:70000' is not an address and "
         "port"},
        {edited(good, "\"answered\": false", "\"answered\": true"),
         "line 39: modules[2]: no \"output\""},
    };
    std::vector<std::string> texts;
    for (const Row& row : rows) {
        texts.push_back(row.text);
    }
    const std::vector<bool> verdicts = schemaAccepts(texts);
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const Row& row = rows[i];
        SCOPED_TRACE(row.error);
        try {
            parseSiteFile(row.text, "site.json");
            ADD_FAILURE() << "accepted";
        } catch (const CommandError& e) {
            EXPECT_EQ(e.status(), kExitUsage);
            EXPECT_NE(std::string(e.what()).find(row.error), std::string::npos) << e.what();
        }
        EXPECT_EQ(verdicts[i], !row.schemaRefuses);
    }
}

}  // namespace
}  // namespace corvane::cli
