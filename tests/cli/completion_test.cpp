// The bash completion as bash runs it: COMP_WORDS and COMP_CWORD set as the shell sets
// them (split at ':' and '='), the function called, COMPREPLY compared. Targets come
// from the real corvanectl beside this test, reading the settings file named on the line.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

namespace corvane::cli {
namespace {

namespace fs = std::filesystem;

// The build folder: this test's folder's parent, where corvanectl is; __FILE__ is
// relative to it, or absolute.
fs::path buildFolder() {
    return fs::canonical("/proc/self/exe").parent_path().parent_path();
}

// A word as bash quotes it.
std::string shellWord(const std::string& word) {
    std::string text = "'";
    for (char c : word) {
        text += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return text + "'";
}

// COMPREPLY for `words`, the last one being completed.
std::set<std::string> complete(const std::vector<std::string>& words, const fs::path& folder) {
    const fs::path completion =
        buildFolder() / fs::path(__FILE__).parent_path() / "../../data/completion/corvanectl.bash";
    std::string script = "source " + shellWord(completion.string()) + " && COMP_WORDS=(";
    for (const std::string& word : words) {
        script += shellWord(word) + " ";
    }
    script += ") && COMP_CWORD=" + std::to_string(words.size() - 1) +
              " && _corvanectl && printf '%s\\n' \"${COMPREPLY[@]}\"";
    const fs::path out = folder / "reply";
    const std::string command =
        "bash --norc --noprofile -c " + shellWord(script) + " > " + shellWord(out.string());
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    std::ifstream in(out);
    std::set<std::string> reply;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) {
            reply.insert(line);
        }
    }
    return reply;
}

TEST(Completion, OffersWhatTheCommandLineTakes) {
    const fs::path program = buildFolder() / "corvanectl";
    ASSERT_TRUE(fs::exists(program)) << "build corvanectl beside the tests: " << program;
    char pattern[] = "/tmp/corvanectl-completion-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const fs::path folder = pattern;
    const std::string settings = (folder / "operator.ini").string();
    // Three rows, the third without a MAC; stored addresses as the program writes them.
    std::ofstream(settings) << "[List]\nTotal=3\nIP0=189681930\nMAC0=02:c0:7a:de:00:01\n"
                               "IP1=206459146\nMAC1=02:C0:7A:DE:00:02\nIP2=223236362\n";
    const std::string p = program.string();
    using Words = std::vector<std::string>;
    struct Row {
        const char* name;
        Words words;
        std::set<std::string> reply;
    };
    const Row rows[] = {
        {"commands, the hidden one left out",
         {p, ""},
         {"adapters", "list", "search", "status", "output", "passport", "set-address", "backup",
          "diff", "apply", "stream"}},
        {"a command begun", {p, "se"}, {"search", "set-address"}},
        {"output's own commands", {p, "output", ""}, {"start", "stop"}},
        {"a command's options",
         {p, "status", "--"},
         {"--settings", "--from", "--help", "--all", "--json", "--csv"}},
        {"stream's options",
         {p, "stream", "1", "--"},
         {"--settings", "--from", "--help", "--seconds", "--group", "--json", "--csv"}},
        {"stream's targets, after another",
         {p, "--settings", settings, "stream", "1", ""},
         {"1", "2", "3", "02:c0:7a:de:00:01", "02:C0:7A:DE:00:02"}},
        {"protocols", {p, "output", "start", "1", "--protocol", "r"}, {"rtp+", "rtp"}},
        {"targets from the settings file named",
         {p, "--settings", settings, "status", ""},
         {"1", "2", "3", "02:c0:7a:de:00:01", "02:C0:7A:DE:00:02"}},
        {"targets, the file named with '=' after the command",
         {p, "output", "stop", "--settings", "=", settings, "2"},
         {"2"}},
        {"a MAC split at its colons: the part after the last one",
         {p, "--settings", settings, "passport", "02", ":", "c0", ":", "7a", ":", "de", ":", "00",
          ":", "0"},
         {"01"}},
        {"set-address: MACs, no positions",
         {p, "--settings", settings, "set-address", ""},
         {"02:c0:7a:de:00:01", "02:C0:7A:DE:00:02"}},
        {"no settings file, no targets", {p, "--settings", "/nonexistent.ini", "status", ""}, {}},
        {"file names for -o", {p, "passport", "1", "-o", (folder / "oper").string()}, {settings}},
        {"file names for --settings", {p, "--settings", (folder / "op").string()}, {settings}},
        {"no list for an address's value", {p, "set-address", "x", "--ip", ""}, {}},
        {"the site file of apply", {p, "apply", (folder / "oper").string()}, {settings}},
        {"apply's options",
         {
             p,
             "apply",
             "--",
         },
         {"--settings", "--from", "--help", "--dry-run", "--yes", "--replace"}},
        {"backup's targets", {p, "--settings", settings, "backup", "3"}, {"3"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(complete(row.words, folder), row.reply);
    }
    fs::remove_all(folder);
}

}  // namespace
}  // namespace corvane::cli
