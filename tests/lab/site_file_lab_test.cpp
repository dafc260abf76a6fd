// corvanectl backup, diff and apply against one rack of simulated modules: the file a
// backup writes (and the schema it keeps to), a change made behind the program's back,
// an edited file applied and read back with the exact datagrams, a dry run that only
// reads, refusals that send no settings, and a failed module replaced by a fresh one.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>

#include "lab/lab_test_support.h"
#include "lab/program_run.h"
#include "net/stream_settings_messages.h"

namespace corvane::lab {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

// What the simulator received, by kind: the tag and where it went.
using Received = std::multiset<std::pair<std::string, std::string>>;

class SiteFileLab : public CorvanectlLabTest {
protected:
    void SetUp() override {
        CorvanectlLabTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        m_settings = m_folder / "operator.ini";
        std::ofstream(m_settings) << "[Config]\nLocalIP=" << local().address.settingsInteger()
                                  << "\n[List]\nTotal=0\n";
    }

    // corvanectl with the lab's settings; the datagrams it sent stay in `m_sent`.
    ProgramRun ctl(ModsimProcess& modsim, std::vector<std::string> arguments) {
        const std::size_t logged = modsim.log().size();
        arguments.insert(arguments.begin(), {m_program, "--settings", m_settings.string()});
        const ProgramRun run = runProgram(arguments, m_folder);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the last ones logged
        const auto log = modsim.log();
        m_sent.assign(log.begin() + static_cast<std::ptrdiff_t>(logged), log.end());
        return run;
    }

    // The tags of `m_sent` and their destinations, each datagram once (both ports).
    Received received() const {
        Received kinds;
        for (const LoggedDatagram& d : m_sent) {
            if (d.destinationPort == 9100) {
                kinds.insert({std::string(d.bytes.begin(), d.bytes.begin() + 8), d.destination});
            }
        }
        return kinds;
    }

    // The datagrams of `m_sent` that change a module: settings, never reads.
    std::vector<LoggedDatagram> settingsSent() const {
        std::vector<LoggedDatagram> found;
        for (const LoggedDatagram& d : m_sent) {
            if (isFrom(d, "TiBb")) {
                found.push_back(d);
            }
        }
        return found;
    }

    // Runs apply on `file` with a terminal for standard input and error, answers its
    // question with `answer`, sends Ctrl-C 100 ms later when `interrupt`, and waits.
    void answerAndWait(const fs::path& file, const std::string& answer, bool interrupt,
                       int& status) {
        const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(terminal, 0);
        ASSERT_EQ(grantpt(terminal) | unlockpt(terminal), 0);
        const int side = open(ptsname(terminal), O_RDWR | O_NOCTTY);
        ASSERT_GE(side, 0);
        const std::vector<std::string> argv = {m_program, "--settings", m_settings.string(),
                                               "apply", file.string()};
        std::vector<char*> pointers = spawnArguments(argv);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, side, 0);
        posix_spawn_file_actions_addopen(&actions, 1, (m_folder / "out").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_adddup2(&actions, side, 2);
        pid_t pid = -1;
        const int spawned =
            posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, pointers.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ASSERT_EQ(spawned, 0);
        // The question comes once the site is read.
        std::string asked;
        char buffer[512];
        while (asked.find("[y/N]") == std::string::npos) {
            pollfd ready{terminal, POLLIN, 0};
            ASSERT_GT(poll(&ready, 1, 15000), 0) << asked;
            const ssize_t n = read(terminal, buffer, sizeof buffer);
            ASSERT_GT(n, 0);
            asked.append(buffer, static_cast<std::size_t>(n));
        }
        EXPECT_NE(asked.find("Send these changes to 3 modules? [y/N]"), std::string::npos) << asked;
        ASSERT_EQ(::write(terminal, answer.data(), answer.size()),
                  static_cast<ssize_t>(answer.size()));
        if (interrupt) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            ASSERT_EQ(kill(pid, SIGINT), 0);
        }
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        close(side);
        close(terminal);
    }

    fs::path write(const std::string& name, const std::string& text) const {
        std::ofstream(m_folder / name, std::ios::binary) << text;
        return m_folder / name;
    }

    fs::path m_settings;
    std::vector<LoggedDatagram> m_sent;
};

std::string edited(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

// The shipped schema's verdict on `file`, by python3-jsonschema.
bool schemaAccepts(const fs::path& file) {
    const fs::path build =
        fs::canonical("/proc/self/exe").parent_path().parent_path().parent_path();
    const fs::path schema =
        build / fs::path(__FILE__).parent_path() / "../../data/corvane-site.schema.json";
    const std::string command =
        "python3 -c 'import json, sys, jsonschema; "
        "jsonschema.validate(json.load(open(sys.argv[2])), "
        "json.load(open(sys.argv[1])), cls=jsonschema.Draft202012Validator)' '" +
        schema.string() + "' '" + file.string() + "'";
    return std::system(command.c_str()) == 0;
}

// The example service's command, as systemd would hand it to /bin/sh: continuation
// lines joined, "$$" and "%%" as the shell and the date command see them.
std::string serviceScript() {
    const fs::path build =
        fs::canonical("/proc/self/exe").parent_path().parent_path().parent_path();
    std::string unit = readWholeFile(build / fs::path(__FILE__).parent_path() /
                                     "../../data/corvane-site-backup.service");
    std::string joined;
    for (std::size_t at = 0; at < unit.size(); ++at) {
        if (unit[at] == '\\' && at + 1 < unit.size() && unit[at + 1] == '\n') {
            joined += ' ';
            ++at;
        } else {
            joined += unit[at];
        }
    }
    const std::string start = "\nExecStart=/bin/sh -c '";
    const std::size_t from = joined.find(start);
    EXPECT_NE(from, std::string::npos);
    if (from == std::string::npos) {
        return "exit 99";
    }
    std::string script = joined.substr(from + start.size());
    script = script.substr(0, script.find("'\n"));
    for (const std::string twice : {"$$", "%%"}) {
        for (std::size_t at = 0; (at = script.find(twice, at)) != std::string::npos; ++at) {
            script.erase(at, 1);
        }
    }
    return script;
}

TEST_F(SiteFileLab, BackupDiffApplyAndAReplacement) {
    const auto rack = [&](bool replaced) {
        return std::string(replaced ? "mac=02:c0:7a:de:00:09 ip=" + moduleText(40) + " mode=0\n"
                                    : "mac=02:c0:7a:de:00:01 ip=" + moduleText(11) +
                                          " protocol=1 mode=3 dest=239.10.1.1 port=1234\n") +
               "mac=02:c0:7a:de:00:02 ip=" + moduleText(12) +
               " protocol=2 mode=0 dest=239.10.1.2 port=5000\n"
               "mac=02:c0:7a:de:00:03 ip=" +
               moduleText(13) +
               " out=0x1100,239.10.2.1,1234,0x0100 in=0x2100,0.0.0.0,5000\n"
               "mac=02:c0:7a:de:00:05 ip=" +
               moduleText(21) + " mask=255.255.0.0\n";
    };
    ModsimProcess modsim;
    startModsim(modsim, {}, rack(false));

    // The backup: every module, sorted by MAC, the schema's form; a search and one read each.
    const fs::path site = m_folder / "site.json";
    ProgramRun run = ctl(modsim, {"backup", "-o", site.string()});
    ASSERT_EQ(run.status, 0) << run.err;
    const Json backup = Json::parse(readWholeFile(site), nullptr, false);
    const auto single = [](const char* protocol, const char* destination, bool running) {
        return Json{{"form", "single"},
                    {"protocol", protocol},
                    {"destination", destination},
                    {"no_stuffing", false},
                    {"running", running}};
    };
    const auto module = [&](const char* mac, std::uint32_t n, const char* mask, Json output) {
        return Json{{"mac", mac},
                    {"ip", moduleText(n)},
                    {"mask", mask},
                    {"gateway", "0.0.0.0"},
                    {"output", output}};
    };
    const std::string m24 = "255.255.255.0";
    const Json expected = {
        {"format", 1},
        {"taken_at", backup.value("taken_at", "")},
        {"from", segment().programAddress},
        {"modules",
         {module("02:C0:7A:DE:00:01", 11, m24.c_str(), single("rtp", "239.10.1.1:1234", true)),
          module("02:C0:7A:DE:00:02", 12, m24.c_str(), single("udp", "239.10.1.2:5000", false)),
          module("02:C0:7A:DE:00:03", 13, m24.c_str(),
                 {{"form", "entries"},
                  {"outputs", {{{"destination", "239.10.2.1:1234"}, {"running", true}}}},
                  {"inputs", {{{"source", "0.0.0.0:5000"}}}}}),
          module("02:C0:7A:DE:00:05", 21, "255.255.0.0", single("udp", "239.1.1.1:1234", false))}}};
    EXPECT_EQ(backup, expected) << readWholeFile(site);
    EXPECT_EQ(backup.value("taken_at", "").size(), std::string("2026-12-08T02:00:00Z").size());
    EXPECT_TRUE(schemaAccepts(site));
    const std::string broadcast = "255.255.255.255";
    const Received reads = {{"WiZnLiSt", broadcast},
                            {"WiZnAsGt", moduleText(11)},
                            {"WiZnAsGt", moduleText(12)},
                            {"WiZnAsGt", moduleText(13)},
                            {"WiZnAsGt", moduleText(21)}};
    EXPECT_EQ(received(), reads);

    // Module 2 started behind the program's back: diff names it, status 1, and only reads.
    StreamSettings start{};
    start.mode = kModeRunning;
    start.protocol = 2;
    start.destinationIp = storedIpv4("239.10.1.2");
    start.destinationPort = 5000;
    ASSERT_TRUE(setStreamSettings(local(), moduleIp(12), start));
    ASSERT_EQ(
        modsim.waitForLog([](const LoggedDatagram& d) { return isFrom(d, "TiBbaSiC"); }, 2, 2000)
            .size(),
        2u);
    run = ctl(modsim, {"diff", site.string()});
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.out.find("02:C0:7A:DE:00:02\n  running: false \u2192 true\n"
                           "1 module changed, 0 only in " +
                           site.string() + ", 0 only in the segment.\n"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(received(), reads);
    EXPECT_EQ(ctl(modsim, {"diff", site.string(), "--against", site.string()}).status, 0);

    // The file edited: module 1 to another destination without stuffing, module 5 to a
    // new address; module 2 is stopped again as the file has it.
    std::string text = readWholeFile(site);
    text = edited(text, "\"destination\": \"239.10.1.1:1234\",\n        \"no_stuffing\": false",
                  "\"destination\": \"239.20.1.1:6000\",\n        \"no_stuffing\": true");
    text = edited(text, "\"ip\": \"" + moduleText(21) + "\"", "\"ip\": \"" + moduleText(50) + "\"");
    const fs::path wanted = write("wanted.json", text);

    // --dry-run: the plan, status 1 as diff's, and nothing but reads.
    run = ctl(modsim, {"apply", "--dry-run", wanted.string()});
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.out.find("  destination: 239.10.1.1:1234 \u2192 239.20.1.1:6000\n"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(received(), reads);

    run = ctl(modsim, {"apply", "--yes", wanted.string()});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    for (const char* mac : {"02:C0:7A:DE:00:01", "02:C0:7A:DE:00:02", "02:C0:7A:DE:00:05"}) {
        EXPECT_NE(run.out.find(std::string(mac) + ": verified\n"), std::string::npos) << run.out;
    }
    EXPECT_EQ(run.out.find("NOT verified"), std::string::npos) << run.out;
    // Byte for byte the dialog's Start and Stop and the wizard's broadcast; module 3,
    // unchanged, was only read once, before the plan.
    const std::vector<std::pair<std::string, Bytes>> settings = {
        {broadcast, concat({tagBytes("TiBbsEtA"),
                            {0x02, 0xC0, 0x7A, 0xDE, 0x00, 0x05},
                            ipBytes(moduleText(50)),
                            ipBytes("255.255.0.0"),
                            ipBytes("0.0.0.0")})},
        {moduleText(11), concat({tagBytes("TiBbaSiC"),
                                 {0x01, 0x03, 0x17, 0x70, 0xEF, 0x14, 0x01, 0x01, 0x00, 0x10},
                                 zeros(12)})},
        {moduleText(12), concat({tagBytes("TiBbaSiC"), zeros(22)})},
    };
    std::multiset<std::tuple<std::string, int, Bytes>> sent, wantedSent;
    for (const LoggedDatagram& d : settingsSent()) {
        sent.insert({d.destination, d.destinationPort, d.bytes});
    }
    for (const auto& [destination, bytes] : settings) {
        for (int port : {9100, 9101}) {
            wantedSent.insert({destination, port, bytes});
        }
    }
    EXPECT_EQ(sent, wantedSent);
    EXPECT_EQ(received().count({"WiZnAsGt", moduleText(13)}), 1u);
    EXPECT_EQ(received().count({"WiZnAsGt", moduleText(50)}), 1u) << "read back at its new address";
    run = ctl(modsim, {"diff", wanted.string()});
    EXPECT_EQ(run.status, 0) << run.out;

    // Refusals: two modules one address, an address outside the local subnet, a damaged
    // file. No settings are sent, and a damaged file is not even read past.
    const std::vector<std::pair<std::string, std::string>> refused = {
        {edited(text, "\"ip\": \"" + moduleText(50) + "\"", "\"ip\": \"" + moduleText(13) + "\""),
         "02:C0:7A:DE:00:03 and 02:C0:7A:DE:00:05 would all have the address " + moduleText(13)},
        {edited(text, "\"ip\": \"" + moduleText(50) + "\"", "\"ip\": \"192.0.2.10\""),
         "would get 192.0.2.10, outside the subnet of the local address"},
        {edited(text, "\"running\": true", "\"running\": 1"),
         "line 16: modules[0].output.running: is number, not boolean"},
    };
    for (const auto& [file, error] : refused) {
        SCOPED_TRACE(error);
        run = ctl(modsim, {"apply", "--yes", write("refused.json", file).string()});
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find(error), std::string::npos) << run.err;
        EXPECT_TRUE(settingsSent().empty());
    }
    EXPECT_TRUE(m_sent.empty()) << "a damaged file: nothing sent at all";

    // Module 1 failed; its replacement (another MAC, another address, stopped) takes its
    // address and output from the first backup.
    modsim.stop();
    ModsimProcess fresh;
    startModsim(fresh, {}, rack(true));
    run = ctl(fresh, {"apply", "--yes", "--replace", "02:c0:7a:de:00:01=02-C0-7A-DE-00-09",
                      site.string()});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(
        run.out.find("02:C0:7A:DE:00:09 (at " + moduleText(40) + "), replacing 02:C0:7A:DE:00:01"),
        std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("still names 02:C0:7A:DE:00:01"), std::string::npos) << run.out;
    run = ctl(fresh, {"status", moduleText(11), "--json"});
    EXPECT_EQ(Json::parse(run.out, nullptr, false),
              Json::parse(R"([{"ip": ")" + moduleText(11) +
                          R"(", "answered": true, "running": true, "form": "single",
                 "protocol": "RTP", "destination": "239.10.1.1:1234", "no_stuffing": false}])"))
        << run.out;
}

// The example nightly service's command, run twice with a change between: each run is
// one commit of site.json in the repository the first run made.
TEST_F(SiteFileLab, NightlyBackupIntoGit) {
    ModsimProcess modsim;
    startModsim(modsim, {},
                "mac=02:c0:7a:de:00:01 ip=" + moduleText(11) +
                    " protocol=1 mode=3 dest=239.10.1.1 port=1234\n");
    const fs::path repository = m_folder / "corvane-site";
    fs::create_directory(repository);
    const std::string path = fs::path(m_program).parent_path().string() + ":" + std::getenv("PATH");
    const auto night = [&] {
        return runProgram({"/usr/bin/env", "PATH=" + path,
                           "CORVANE_SETTINGS=" + m_settings.string(), "ARGS=", "/bin/sh", "-c",
                           "cd \"$1\" && " + serviceScript(), "sh", repository.string()},
                          m_folder);
    };
    ProgramRun run = night();
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    StreamSettings stop{};
    ASSERT_TRUE(setStreamSettings(local(), moduleIp(11), stop));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    run = night();
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    run = runProgram({"/usr/bin/git", "-C", repository.string(), "log", "-p", "--format=%s"},
                     m_folder);
    EXPECT_EQ(run.out.rfind("Site backup ", 0), 0u) << run.out;
    EXPECT_NE(run.out.find("-        \"running\": true\n+        \"running\": false\n"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(readWholeFile(repository / "site.json").find("\"running\": true"), std::string::npos);
    const auto commits = runProgram(
        {"/usr/bin/git", "-C", repository.string(), "rev-list", "--count", "HEAD"}, m_folder);
    EXPECT_EQ(commits.out, "2\n");
}

// On a terminal apply asks first: "n" sends nothing. Ctrl-C after a "y": the module in
// hand is finished, the rest are not sent to, and the output says which; what was sent
// is read back.
TEST_F(SiteFileLab, InterruptedBetweenModules) {
    std::string rack;
    for (int n = 1; n <= 3; ++n) {
        rack += "mac=02:c0:7a:de:00:0" + std::to_string(n) + " ip=" + moduleText(10 + n) + "\n";
    }
    ModsimProcess modsim;
    startModsim(modsim, {}, rack);
    const fs::path site = m_folder / "site.json";
    ASSERT_EQ(ctl(modsim, {"backup", "-o", site.string()}).status, 0);
    std::string text = readWholeFile(site);
    for (int n = 1; n <= 3; ++n) {  // each module moves: one 200 ms broadcast each
        text = edited(text, "\"ip\": \"" + moduleText(10 + n) + "\"",
                      "\"ip\": \"" + moduleText(60 + n) + "\"");
    }
    const fs::path moved = write("moved.json", text);

    // "n": nothing sent. "y", then Ctrl-C while sending.
    const std::size_t before = modsim.log().size();
    int status = 0;
    answerAndWait(moved, "n\n", false, status);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto declined = modsim.log();
    EXPECT_EQ(std::count_if(declined.begin() + static_cast<std::ptrdiff_t>(before), declined.end(),
                            [](const LoggedDatagram& d) { return isFrom(d, "TiBb"); }),
              0)
        << "declined: no settings sent";
    const std::size_t logged = declined.size();
    answerAndWait(moved, "y\n", true, status);
    const std::string out = readWholeFile(m_folder / "out");

    ASSERT_TRUE(WIFEXITED(status)) << "ended by the signal, not between modules";
    EXPECT_EQ(WEXITSTATUS(status), 1) << out;
    const std::size_t at = out.find("Interrupted: sent to ");
    ASSERT_NE(at, std::string::npos) << out;
    const int sent = out[at + std::string("Interrupted: sent to ").size()] - '0';
    EXPECT_LT(sent, 3) << out;
    EXPECT_NE(out.find(std::to_string(sent) + " of 3 modules; not sent to: "), std::string::npos);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto log = modsim.log();
    const auto broadcasts =
        std::count_if(log.begin() + static_cast<std::ptrdiff_t>(logged), log.end(),
                      [](const LoggedDatagram& d) { return isFrom(d, "TiBbsEtA"); });
    EXPECT_EQ(broadcasts, 2 * sent) << "each on both ports";
    int verified = 0;
    for (std::size_t from = 0; (from = out.find(": verified\n", from)) != std::string::npos;
         ++from) {
        ++verified;
    }
    EXPECT_EQ(verified, sent) << "each module sent to is read back:\n" << out;
    EXPECT_EQ(out.find("NOT verified"), std::string::npos) << out;
}

}  // namespace
}  // namespace corvane::lab
