// The real corvanectl against one shared rack of simulated modules: every command's
// output, exit status and the exact datagrams it sent (from the simulator's log); usage
// errors that send nothing; the progress line only on a terminal; and the settings file
// read, never written.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>
#include <set>
#include <tuple>

#include "lab/lab_test_support.h"
#include "lab/program_run.h"
#include "net/datagram_exchange.h"
#include "net/stream_settings_messages.h"
#include "reports/passport_file.h"

namespace corvane::lab {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

// Reads what a terminal's other side has written until `pid` has ended.
std::string readTerminal(int terminal, pid_t pid, int& status) {
    std::string text;
    char buffer[4096];
    for (bool ended = false; !ended;) {
        ended = waitpid(pid, &status, WNOHANG) == pid;
        pollfd ready{terminal, POLLIN, 0};
        while (poll(&ready, 1, ended ? 0 : 100) > 0) {
            const ssize_t n = read(terminal, buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            text.append(buffer, static_cast<std::size_t>(n));
        }
    }
    return text;
}

// Runs corvanectl with standard output and error in files, or standard error on a
// terminal of its own when `onTerminal`.
ProgramRun runCtl(const std::string& program, const fs::path& folder,
                  const std::vector<std::string>& arguments, bool onTerminal = false,
                  const fs::path& workingFolder = {}) {
    std::vector<std::string> argv = {program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> pointers = lab::spawnArguments(argv);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const fs::path out = folder / "out", err = folder / "err";
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int terminal = -1;
    int terminalSide = -1;  // held open here too, so reads never meet a hung-up terminal
    if (onTerminal) {
        terminal = posix_openpt(O_RDWR | O_NOCTTY);
        EXPECT_GE(terminal, 0);
        EXPECT_EQ(grantpt(terminal) | unlockpt(terminal), 0);
        terminalSide = open(ptsname(terminal), O_RDWR | O_NOCTTY);
        EXPECT_GE(terminalSide, 0);
        posix_spawn_file_actions_adddup2(&actions, terminalSide, 2);
    } else {
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
    }
    if (!workingFolder.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, workingFolder.c_str());
    }
    pid_t pid = -1;
    const int spawned =
        posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(spawned, 0) << argv[0];
    ProgramRun run;
    int status = 0;
    if (spawned == 0 && onTerminal) {
        run.err = readTerminal(terminal, pid, status);
    } else if (spawned == 0) {
        waitpid(pid, &status, 0);
        run.err = readWholeFile(err);
    }
    run.status = spawned == 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (onTerminal) {
        close(terminalSide);
        close(terminal);
    }
    run.out = readWholeFile(out);
    return run;
}

// A datagram as the test compares it: to which address and port, which bytes.
using Sent = std::tuple<std::string, int, Bytes>;
using Request = std::pair<std::string, Bytes>;  // sent to an address on both ports

std::string storedText(const std::string& dotted) {
    return std::to_string(static_cast<std::int32_t>(storedIpv4(dotted)));
}

class CorvanectlLab : public CorvanectlLabTest {
protected:
    std::string ip(std::uint32_t n) const { return moduleText(n); }
};

constexpr const char* kMac[] = {"",
                                "02:C0:7A:DE:00:01",
                                "02:C0:7A:DE:00:02",
                                "02:C0:7A:DE:00:03",
                                "02:C0:7A:DE:00:04",
                                "02:C0:7A:DE:00:05",
                                "02:C0:7A:DE:00:06",
                                "02:C0:7A:DE:00:07"};

TEST_F(CorvanectlLab, EveryCommandAgainstOneRack) {
    // Module n sits at module address 10 + n; 5 and 6 share one address, 7 is of class 5.
    const std::uint32_t at[] = {0, 11, 12, 13, 14, 21, 21, 30};
    const std::string rack = "mac=02:c0:7a:de:00:01 ip=" + ip(11) +
                             " protocol=1 mode=3 dest=239.10.1.1 port=1234 flags=0x0010\n"
                             "mac=02:c0:7a:de:00:02 ip=" +
                             ip(12) +
                             " protocol=2 mode=0 dest=239.10.1.2 port=5000\n"
                             "mac=02:c0:7a:de:00:03 ip=" +
                             ip(13) +
                             " out=0x1100,239.10.2.1,1234,0x0100 out=0x1000,239.10.2.2,1234,0x0200"
                             " in=0x2100,0.0.0.0,5000\n"
                             "mac=02:c0:7a:de:00:04 ip=" +
                             ip(14) +
                             " silent=1\n"
                             "mac=02:c0:7a:de:00:05 ip=" +
                             ip(21) +
                             " mask=255.255.0.0 gateway=10.77.0.2\n"
                             "mac=02:c0:7a:de:00:06 ip=" +
                             ip(21) +
                             "\n"
                             "mac=02:c0:7a:de:00:07 ip=" +
                             ip(30) + " class=5\n";
    ModsimProcess modsim;
    startModsim(modsim, {}, rack);

    // The operator's settings: modules 1 to 4 listed, the first adapter chosen.
    const fs::path settings = m_folder / "operator.ini";
    std::string list =
        "[Config]\nLocalIP=" + storedText(segment().programAddress) + "\n[List]\nTotal=4\n";
    for (int n = 1; n <= 4; ++n) {
        list += "IP" + std::to_string(n - 1) + "=" + storedText(ip(at[n])) + "\nMAC" +
                std::to_string(n - 1) + "=" + kMac[n] + "\n";
    }
    std::ofstream(settings) << list;
    const fs::path unchosen = m_folder / "unchosen.ini";
    std::ofstream(unchosen) << "[List]\nTotal=0\n";
    // A damaged list: rows 2 and 3 hold addresses no module may have.
    const fs::path damaged = m_folder / "damaged.ini";
    std::ofstream(damaged) << "[Config]\nLocalIP=" << storedText(segment().programAddress)
                           << "\n[List]\nTotal=3\nIP0=" << storedText(ip(11))
                           << "\nMAC0=" << kMac[1] << "\nIP1=" << storedText("224.0.0.1")
                           << "\nMAC1=" << kMac[2] << "\nIP2=0\nMAC2=" << kMac[3] << "\n";
    // Another user's link in a shared folder, aimed at a file of ours.
    const fs::path shared = m_folder / "shared";
    const fs::path planted = shared / "passport.txt";
    const fs::path victim = m_folder / "victim.txt";
    std::ofstream(victim) << "kept";
    ASSERT_EQ(mkdir(shared.c_str(), 01777) | chmod(shared.c_str(), 01777), 0);
    ASSERT_EQ(symlink(victim.c_str(), planted.c_str()), 0);
    // Only root can give the link away; a lab run as another user leaves that row out.
    const bool plantedByOther = lchown(planted.c_str(), 4242, 4242) == 0;
    struct stat before {};
    ASSERT_EQ(stat(settings.c_str(), &before), 0);

    const auto single = [&](std::uint32_t n, const char* protocol, const char* destination,
                            bool running, bool noStuffing) {
        return Json{{"ip", ip(at[n])},          {"answered", true},
                    {"running", running},       {"form", "single"},
                    {"protocol", protocol},     {"destination", destination},
                    {"no_stuffing", noStuffing}};
    };
    const Json m1 = single(1, "RTP", "239.10.1.1:1234", true, true);
    const Json m2 = single(2, "UDP", "239.10.1.2:5000", false, false);
    const Json m3 = {{"ip", ip(at[3])},
                     {"answered", true},
                     {"running", true},
                     {"form", "entries"},
                     {"outputs",
                      {{{"destination", "239.10.2.1:1234"}, {"running", true}},
                       {{"destination", "239.10.2.2:1234"}, {"running", false}}}},
                     {"inputs", {{{"source", "0.0.0.0:5000"}}}}};
    const Json m4 = {{"ip", ip(at[4])}, {"answered", false}};
    const auto listed = [&](std::size_t position, Json module) {
        module["position"] = position;
        module["mac"] = kMac[position];
        return module;
    };
    const auto found = [&](int n, const char* mask, const char* gateway, int deviceClass,
                           bool duplicate) {
        return Json{{"mac", kMac[n]},     {"ip", ip(at[n])},      {"mask", mask},
                    {"gateway", gateway}, {"class", deviceClass}, {"duplicate", duplicate}};
    };
    const std::string broadcast = "255.255.255.255";
    const Bytes statusRequest = concat({tagBytes("WiZnAsGt"), zeros(18)});
    const Bytes passportRequest = concat({tagBytes("WiZnGpAs"), zeros(18)});

    PassportData passport{};
    ASSERT_TRUE(getPassportData(local(), ipv4Of(ip(at[1])), passport));
    // The exchange ends at the first reply; the request on the other port may reach the
    // log later, and must be there before the first row counts what it sent.
    modsim.waitForLog([&](const LoggedDatagram& d) { return d.bytes == passportRequest; }, 2, 2000);
    const std::string passportFile =
        passportText(encodePassportBlock(makePassportBlock(ipv4Of(ip(at[1])), passport)));
    const fs::path saved = m_folder / "m1.txt";

    struct Row {
        const char* name;
        std::vector<std::string> arguments;  // --settings is added
        int status;
        std::vector<Request> sent;  // each on ports 9100 and 9101, from the first adapter
        std::optional<Json> json;
        std::string out;  // compared when there is no JSON
        std::string err;  // part of standard error
    };
    const std::string p = segment().programAddress;
    std::vector<Row> rows = {
        {"adapters",
         {"adapters", "--json"},
         0,
         {},
         Json{
             {{"address", p}, {"mask", "255.255.0.0"}, {"default", true}},
             {{"address", segment(1).programAddress}, {"mask", "255.255.0.0"}, {"default", false}}},
         "",
         ""},
        {"list as CSV",
         {"list", "--csv"},
         0,
         {},
         {},
         "position,mac,ip\n1," + std::string(kMac[1]) + "," + ip(11) + "\n2," + kMac[2] + "," +
             ip(12) + "\n3," + kMac[3] + "," + ip(13) + "\n4," + kMac[4] + "," + ip(14) + "\n",
         ""},
        {"search, sorted by MAC, shared addresses marked",
         {"search", "--json"},
         0,
         {{broadcast, concat({tagBytes("WiZnLiSt"), {0, 3}, zeros(16)})}},
         Json{found(1, "255.255.255.0", "0.0.0.0", 3, false),
              found(2, "255.255.255.0", "0.0.0.0", 3, false),
              found(3, "255.255.255.0", "0.0.0.0", 3, false),
              found(5, "255.255.0.0", "10.77.0.2", 3, true),
              found(6, "255.255.255.0", "0.0.0.0", 3, true)},
         "",
         ""},
        {"status in the order given, a repeated target asked once",
         {"status", ip(11), ip(13), ip(14), ip(11), "--json"},
         1,
         {{ip(11), statusRequest}, {ip(13), statusRequest}, {ip(14), statusRequest}},
         Json{m1, m3, m4, m1},
         "",
         ""},
        {"status by position, MAC and address; listed ones with their place",
         {"status", "3", kMac[1], ip(14), "--json"},
         1,
         {{ip(13), statusRequest}, {ip(11), statusRequest}, {ip(14), statusRequest}},
         Json{listed(3, m3), listed(1, m1), m4},
         "",
         ""},
        {"status of a damaged list: rows no module may have are reported, not asked",
         {"status", "--all", "--json", "--settings", damaged.string()},
         1,
         {{ip(11), statusRequest}},
         Json{listed(1, m1),
              {{"position", 2},
               {"mac", kMac[2]},
               {"ip", "224.0.0.1"},
               {"answered", false},
               {"invalid_address", true}},
              {{"position", 3},
               {"mac", kMac[3]},
               {"ip", "0.0.0.0"},
               {"answered", false},
               {"invalid_address", true}}},
         "",
         "position 2 of the device list (224.0.0.1) is not an address a module may have; "
         "nothing was sent to it"},
        {"status of the whole list",
         {"status", "--all", "--json"},
         1,
         {{ip(11), statusRequest},
          {ip(12), statusRequest},
          {ip(13), statusRequest},
          {ip(14), statusRequest}},
         Json{listed(1, m1), listed(2, m2), listed(3, m3), listed(4, m4)},
         "",
         ""},
        {"output start",
         {"output", "start", ip(12), "--destination", "239.9.9.9:5000", "--protocol", "UDP",
          "--no-stuffing"},
         0,
         {{ip(12), concat({tagBytes("TiBbaSiC"),
                           {0x02, 0x03, 0x13, 0x88, 0xEF, 0x09, 0x09, 0x09, 0x00, 0x10},
                           zeros(12)})}},
         {},
         "",
         ""},
        {"the module runs as started",
         {"status", ip(12), "--json"},
         0,
         {{ip(12), statusRequest}},
         Json{single(2, "UDP", "239.9.9.9:5000", true, true)},
         "",
         ""},
        {"output stop, the module named by its MAC in another form",
         {"output", "stop", "02-c0-7a-de-00-02"},
         0,
         {{ip(12), concat({tagBytes("TiBbaSiC"), zeros(22)})}},
         {},
         "",
         ""},
        {"passport to a file",
         {"passport", ip(11), "-o", saved.string()},
         0,
         {{ip(11), passportRequest}},
         {},
         saved.string() + "\n",
         ""},
        {"passport to standard output, the module named by its position",
         {"passport", "1", "-o", "-"},
         0,
         {{ip(11), passportRequest}},
         {},
         passportFile,
         ""},
        {"a socket that cannot be used: what failed and the system's reason",
         {"status", "10.99.1.1"},
         1,
         {},
         {},
         "IP         ANSWERED  RUNNING  PROTOCOL  DESTINATION  NO STUFFING  INPUTS\n"
         "10.99.1.1  no\n",
         "corvanectl: 10.99.1.1: cannot open the socket for port 9100 from " + p +
             ": Network is unreachable"},
        {"a send that fails: the system's reason",
         {"output", "stop", "10.99.1.1"},
         1,
         {},
         {},
         "",
         "could not send to 10.99.1.1 from " + p + ": Network is unreachable"},
        {"passport of a silent module",
         {"passport", ip(14), "-o", (m_folder / "no.txt").string()},
         1,
         {{ip(14), passportRequest}},
         {},
         "",
         "did not answer"},
        {"passport to a folder that does not exist",
         {"passport", ip(11), "-o", (m_folder / "none" / "x.txt").string()},
         1,
         {{ip(11), passportRequest}},
         {},
         "",
         "cannot write"},
        {"set-address",
         {"set-address", "02:c0:7a:de:00:07", "--ip", ip(31), "--mask", "255.255.0.0", "--gateway",
          "10.77.0.2"},
         0,
         {{broadcast, concat({tagBytes("TiBbsEtA"),
                              {0x02, 0xC0, 0x7A, 0xDE, 0x00, 0x07},
                              ipBytes(ip(31)),
                              ipBytes("255.255.0.0"),
                              ipBytes("10.77.0.2")})}},
         {},
         "",
         ""},
        {"the module moved",
         {"search", "--class", "5", "--csv"},
         0,
         {{broadcast, concat({tagBytes("WiZnLiSt"), {0, 5}, zeros(16)})}},
         {},
         "mac,ip,mask,gateway,class,note\n" + std::string(kMac[7]) + "," + ip(31) +
             ",255.255.0.0,10.77.0.2,5,\n",
         ""},
        // Usage errors: nothing sent, nothing on standard output, status 2.
        {"a target no module may have", {"status", "10.77.64.0"}, 2, {}, {}, "", "may have"},
        {"port 65536",
         {"output", "start", ip(12), "--destination", "239.1.1.1:65536", "--protocol", "udp"},
         2,
         {},
         {},
         "",
         "port 1-65535"},
        {"unknown protocol",
         {"output", "start", ip(12), "--destination", "239.1.1.1:1", "--protocol", "tcp"},
         2,
         {},
         {},
         "",
         "rtp+"},
        {"five MAC pairs",
         {"set-address", "02:c0:7a:de:00", "--ip", ip(31), "--mask", "255.255.0.0", "--gateway",
          "0.0.0.0"},
         2,
         {},
         {},
         "",
         "not a MAC"},
        {"an unknown option", {"--frobnicate", "list"}, 2, {}, {}, "", "frobnicate"},
        // Targets that name no module: refused by name, nothing sent, not even to the
        // targets beside them.
        {"a position past the list's end",
         {"status", ip(11), "5"},
         2,
         {},
         {},
         "",
         "'5' is no position in the device list (the device list has positions 1 to 4)"},
        {"position 0", {"passport", "0", "-o", "-"}, 2, {}, {}, "", "'0' is no position"},
        {"a MAC not in the list",
         {"output", "stop", "02:C0:7A:DE:00:09"},
         2,
         {},
         {},
         "",
         "'02:C0:7A:DE:00:09' is not a MAC in the device list"},
        {"neither position, MAC nor address",
         {"status", ip(11), "module3"},
         2,
         {},
         {},
         "",
         "'module3' is not a target"},
        {"a listed row no module may have",
         {"status", "2", "--settings", damaged.string()},
         2,
         {},
         {},
         "",
         "position 2 of the device list has the address 224.0.0.1"},
        {"a mask that is not contiguous",
         {"set-address", kMac[7], "--ip", ip(31), "--mask", "1.2.3.4", "--gateway", "0.0.0.0"},
         2,
         {},
         {},
         "",
         "'1.2.3.4' is not a network mask"},
        {"the broadcast MAC",
         {"set-address", "FF:FF:FF:FF:FF:FF", "--ip", ip(31), "--mask", "255.255.0.0", "--gateway",
          "0.0.0.0"},
         2,
         {},
         {},
         "",
         "is a broadcast or multicast MAC"},
        {"a multicast MAC",
         {"set-address", "01:00:5e:00:00:01", "--ip", ip(31), "--mask", "255.255.0.0", "--gateway",
          "0.0.0.0"},
         2,
         {},
         {},
         "",
         "'01:00:5e:00:00:01' is a broadcast or multicast MAC, which no module has"},
        {"no command: the short usage", {}, 2, {}, {}, "", "Commands:\n  adapters"},
        {"output without start or stop",
         {"output", "frob", "1"},
         2,
         {},
         {},
         "",
         "output takes one of: start, stop; 'frob' is none of them"},
        {"an unknown command, named, with the commands",
         {"frob", ip(11)},
         2,
         {},
         {},
         "",
         "'frob' is not a command"},
        {"--from not local",
         {"--from", "10.1.2.3", "status", ip(11)},
         2,
         {},
         {},
         "",
         "10.1.2.3 is not one of this computer's usable addresses (" + p},
        {"several adapters, none chosen",
         {"status", ip(11), "--settings", unchosen.string()},
         2,
         {},
         {},
         "",
         "several local addresses could send (" + p},
    };
    if (plantedByOther) {
        rows.push_back({"a link planted in a shared folder: refused before anything is sent",
                        {"passport", "1", "-o", planted.string()},
                        1,
                        {},
                        {},
                        "",
                        "will not write " + planted.string()});
    }

    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::size_t logged = modsim.log().size();
        std::vector<std::string> arguments = {"--settings", settings.string()};
        arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
        const ProgramRun run = runCtl(m_program, m_folder, arguments);
        EXPECT_EQ(run.status, row.status) << run.err;
        if (row.json) {
            EXPECT_EQ(Json::parse(run.out, nullptr, false), *row.json) << run.out;
        } else {
            EXPECT_EQ(run.out, row.out);
        }
        EXPECT_NE(run.err.find(row.err), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("Checking"), std::string::npos) << "standard error is no terminal";

        std::multiset<Sent> expected;
        for (const auto& [destination, bytes] : row.sent) {
            for (int port : {9100, 9101}) {
                expected.insert({destination, port, bytes});
            }
        }
        if (expected.empty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        const auto log = modsim.waitForLog([](const LoggedDatagram&) { return true; },
                                           logged + expected.size(), 2000);
        std::multiset<Sent> sent;
        for (std::size_t i = logged; i < log.size(); ++i) {
            EXPECT_EQ(log[i].source, p);
            EXPECT_EQ(log[i].sourcePort, log[i].destinationPort);
            sent.insert({log[i].destination, log[i].destinationPort, log[i].bytes});
        }
        EXPECT_EQ(sent, expected);
    }
    EXPECT_EQ(readWholeFile(saved), passportFile);
    EXPECT_EQ(readWholeFile(victim), "kept");
    EXPECT_FALSE(fs::exists(m_folder / "no.txt"));

    // The default name in the current folder.
    const fs::path here = m_folder / "here";
    fs::create_directory(here);
    const ProgramRun named = runCtl(
        m_program, m_folder, {"--settings", settings.string(), "passport", ip(11)}, false, here);
    EXPECT_EQ(named.status, 0) << named.err;
    const std::string name = named.out.substr(0, named.out.find('\n'));
    EXPECT_EQ(name.size(), std::string("passport_02C07ADE0001_20240131235959.txt").size());
    EXPECT_EQ(name.rfind("passport_02C07ADE0001_", 0), 0u) << name;
    EXPECT_EQ(readWholeFile(here / name), passportFile);

    // On a terminal, a sweep of more than a second shows its progress and erases it.
    const ProgramRun shown =
        runCtl(m_program, m_folder, {"--settings", settings.string(), "status", ip(14)}, true);
    EXPECT_EQ(shown.status, 1);
    EXPECT_NE(shown.err.find("\r\033[KChecking 0 of 1..."), std::string::npos) << shown.err;
    EXPECT_TRUE(shown.err.ends_with("\r\033[K")) << shown.err;

    // A hard limit on open files too low for every target at once: said, and the targets
    // are asked in turns.
    const ProgramRun limited = runCtl("/usr/bin/prlimit", m_folder,
                                      {"--nofile=40:40", m_program, "--settings", settings.string(),
                                       "status", ip(11), ip(12), ip(13), ip(21), ip(31)});
    EXPECT_EQ(limited.status, 0) << limited.err;
    EXPECT_NE(limited.err.find("the limit on open files (40) lets only 4 of 5 modules be asked "
                               "at once; the others wait their turn"),
              std::string::npos)
        << limited.err;

    // Read, never written.
    struct stat after {};
    ASSERT_EQ(stat(settings.c_str(), &after), 0);
    EXPECT_EQ(readWholeFile(settings), list);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(after.st_ino, before.st_ino);
}

// 1000 targets, 300 of them silent, under a soft limit of 256 open files: every one is
// in flight at once, so the command ends in one time-out, not in one per 64 targets.
TEST_F(CorvanectlLab, ManyTargetsEndInOneTimeOut) {
    constexpr std::size_t kTargets = 1000;
    constexpr std::size_t kAnswering = 700;
    std::vector<std::string> targets;
    std::uint32_t lastAnswering = 0;
    for (std::uint32_t n = 1; targets.size() < kTargets; ++n) {
        const std::string address = ip(n);
        if (address.ends_with(".0") || address.ends_with(".255")) {
            continue;  // no module may have these
        }
        targets.push_back(address);
        lastAnswering = targets.size() == kAnswering ? n : lastAnswering;
    }
    // The rack ends at the 700th target; the addresses after it are silent.
    ModsimProcess modsim;
    startModsim(
        modsim,
        {"--modules", std::to_string(lastAnswering), "--base-ip", ip(1), "--delay-spread", "200"},
        "");
    const fs::path settings = m_folder / "operator.ini";
    std::ofstream(settings) << "[Config]\nLocalIP=" << storedText(segment().programAddress)
                            << "\n[List]\nTotal=0\n";
    std::vector<std::string> arguments = {"--nofile=256:",   m_program, "--settings",
                                          settings.string(), "status",  "--json"};
    arguments.insert(arguments.end(), targets.begin(), targets.end());

    const auto started = std::chrono::steady_clock::now();
    const ProgramRun run = runCtl("/usr/bin/prlimit", m_folder, arguments);
    const auto took = std::chrono::steady_clock::now() - started;

    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.err, "") << "the soft limit is raised without a word";
    const Json rows = Json::parse(run.out, nullptr, false);
    ASSERT_EQ(rows.size(), kTargets) << run.out.substr(0, 200);
    for (std::size_t i = 0; i < kTargets; ++i) {
        EXPECT_EQ(rows[i]["ip"], targets[i]);
        EXPECT_EQ(rows[i]["answered"], i < kAnswering) << targets[i];
    }
    // One time-out is 3 s; 64 at a time would take five of them for the silent 300.
    EXPECT_LT(took, std::chrono::milliseconds(2 * kExchangeWaitMs))
        << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
}

}  // namespace
}  // namespace corvane::lab
