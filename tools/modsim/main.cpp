// corvane-modsim: simulated modules for the network lab, the benchmarks and demos.
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "module_config.h"
#include "network_guard.h"
#include "simulator.h"

namespace {

using namespace corvane::modsim;

constexpr const char* kHelp = R"(Usage: corvane-modsim [OPTIONS]

Simulates many networked modules in one process, answering on UDP ports 9100 and
9101 (bound to 0.0.0.0). Run it on the modules side of the network lab
(tests/lab/lab-run): it refuses to start where any interface other than the
loopback, veth, bridge or dummy links is present, so it never answers on, or
floods, a real network.

Modules come from a configuration file, from --module lines and from a rack:
  --config FILE          one module per line (format below)
  --module "FIELDS"      one more module, FIELDS as in a configuration line
  --modules N            a rack of N modules, numbered 1..N
  --base-ip A.B.C.D      address of rack module 1; module i gets base + i - 1
  --mask A.B.C.D         rack modules' network mask (default 255.255.0.0)
  --gateway A.B.C.D      rack modules' default gateway (default 0.0.0.0)
  --mac-prefix XX:XX:..  first octets of the rack MACs; the module number fills
                         the rest, big-endian (default 02:c0:7a)
  --ports 9100|9101|both ports the rack answers on (default both)
  --class N              rack device class (default 3)
  --delay MS             rack reply delay
  --delay-spread MS      module i of N answers after delay + i*MS/N, so a large
                         rack does not answer in one burst
  --set "I FIELDS"       override fields of rack module I (1-based)

Process-wide:
  --flood N              send N junk datagrams a second (random length 0..1500,
                         random bytes), alternately to ports 9100 and 9101
  --flood-target A.B.C.D where the junk goes (the program side's address)
  --flood-source A.B.C.D source address of the junk (default: the kernel's choice)
  --seed N               seed of the junk generator (default 1)
  --log FILE             one JSON line per received datagram, flushed at once:
                         {"t": ms, "src": "a.b.c.d", "sport": n, "dst": "a.b.c.d",
                          "dport": n, "len": n, "hex": "..."}
                         t is CLOCK_MONOTONIC in ms; dst is the address the
                         datagram was sent to (255.255.255.255 for a broadcast)
  --streams on|off       whether running outputs send their transport streams
                         (default off: a large rack would flood the lab)
  --stream-log FILE      one JSON line per output stream when it stops (or the
                         simulator ends): {"module": "a.b.c.d", "dest":
                         "a.b.c.d:port", "datagrams": n, "dropped": n,
                         "rtp_gaps": n, "cc_breaks": n}; the last two are what a
                         receiver that saw every sent datagram must count
  --ready-file FILE      written once the sockets are bound ("READY" is also
                         printed on standard output)
  --help                 this text

Configuration line: whitespace-separated key=value fields; '#' starts a comment.
  mac=02:00:00:00:00:01 ip=A.B.C.D   required
  mask= gateway=         network settings reported in the search reply
  class=N                device class; a search for another class is not answered
  any-class=1            answer a search for any class
  ports=9100|9101|both   ports answered on (default both)
  Single-form status (also what a settings request changes):
  protocol=N mode=N port=N dest=A.B.C.D flags=WORD (the wire flag word)
  aux1=N auxaddr=A.B.C.D aux2=N auxb1=N byte27=N auxb2=N auxb3=N
  Entry-list status (any of these switches the module to the list form):
  out=CONTROL,IP,PORT,TXPARAMS[,AUXWORD]  an output entry, e.g. out=0x1100,239.1.1.1,1234,0x0200
  in=CONTROL,IP,PORT                      an input entry, e.g. in=0x2100,0.0.0.0,5000
  entry=HEX                               16 raw bytes (32 hex digits)
  hello-length=N         search reply length (default 30; the extra bytes are filler)
  passport-length=N      passport reply length (default 418); its bytes are
                         "WiZnPaSs", the MAC, then a sequence derived from the MAC
  delay=MS               reply delay
  Faults: silent=1 (never replies), wrong-tag=1 (one tag letter in the other case),
  short=N (replies cut to N bytes), duplicate=1 (every reply sent twice),
  stray-from=IP:PORT (each reply is preceded by a decoy, bytes after the tag 0xEE,
  sent from that address and port; IP 0.0.0.0 keeps the module's own address)

Streams (with --streams on): every running output (the single form with mode=3; each out= entry
with control 0x11xx) sends a transport stream to its destination from the
module's address, as RTP (protocol 0 or 1; payload type 33) or bare UDP
(protocol 2), seven 188-byte packets a datagram: PAT and PMT every 100 ms, one
programme (PMT PID 0x100, video 0x101 with the PCR, audio 0x102), null packets
filling up to the rate; none with the no-stuffing flag (flags bit 0x0010, or
TXPARAMS bit 12). Multicast leaves through the lab link. A settings request
that starts or stops the output starts or stops its stream.
  stream-rate=BITS       bits per second of the whole stream (default 2000000,
                         at least 1400000)
  stream-drop=N          leave out N datagrams a second, evenly spread
  stream-fault=F         none; silent (nothing sent while the status says it
                         runs); stuffing (only null packets: an empty input);
                         no-pat (the PAT is never sent); burst (the datagrams of
                         each 200 ms leave at once)

Behaviour: a search ("WiZnLiSt", broadcast) is answered with "WiZnHeLo" to the
requester's address and port, from the module's address and the same port; "TiBbsEtA"
moves the module with that MAC to new settings; "WiZnAsGt", "WiZnGpAs" and
"TiBbaSiC" are acted on only by the module whose address they were sent to.

A rack for the lab: make the module subnet local on the modules side
(ip route add local 10.77.64.0/18 dev lo), then
  corvane-modsim --modules 128 --base-ip 10.77.64.1 --delay-spread 500 --log log.jsonl
)";

volatile std::sig_atomic_t g_stop = 0;

void onSignal(int) {
    g_stop = 1;
}

struct Options {
    std::vector<SimModule> modules;
    RackOptions rack;
    std::vector<std::string> rackOverrides;
    FloodOptions flood;
    std::string logPath;
    std::string streamLogPath;
    bool streams = false;
    std::string readyFile;
};

bool fail(const std::string& message) {
    std::fprintf(stderr, "corvane-modsim: %s\n", message.c_str());
    return false;
}

bool parseIntOption(const std::string& name, const std::string& value, unsigned long maximum,
                    unsigned long& out) {
    auto number = parseNumber(value, maximum);
    if (!number) {
        return fail(name + ": expected a number up to " + std::to_string(maximum));
    }
    out = *number;
    return true;
}

bool parseIpOption(const std::string& name, const std::string& value, std::uint32_t& out) {
    auto ip = parseIpv4(value);
    if (!ip) {
        return fail(name + ": expected an IPv4 address");
    }
    out = *ip;
    return true;
}

// Each group of options answers nothing for a name that is not its own.
std::optional<bool> applySourceOption(const std::string& name, const std::string& value,
                                      Options& options) {
    if (name == "--config") {
        if (auto error = readModuleFile(value, options.modules))
            return fail(*error);
    } else if (name == "--module") {
        SimModule module;
        if (auto error = parseModuleLine(value, module))
            return fail("--module: " + *error);
        options.modules.push_back(module);
    } else if (name == "--set") {
        options.rackOverrides.push_back(value);
    } else if (name == "--log") {
        options.logPath = value;
    } else if (name == "--stream-log") {
        options.streamLogPath = value;
    } else if (name == "--streams") {
        if (value != "on" && value != "off")
            return fail(name + ": expected on or off");
        options.streams = value == "on";
    } else if (name == "--ready-file") {
        options.readyFile = value;
    } else {
        return std::nullopt;
    }
    return true;
}

std::optional<bool> applyRackOption(const std::string& name, const std::string& value,
                                    RackOptions& rack) {
    unsigned long number = 0;
    if (name == "--modules") {
        if (!parseIntOption(name, value, 65535, number))
            return false;
        rack.count = static_cast<int>(number);
    } else if (name == "--base-ip" || name == "--mask" || name == "--gateway") {
        return parseIpOption(name, value,
                             name == "--base-ip" ? rack.baseIp
                             : name == "--mask"  ? rack.mask
                                                 : rack.gateway);
    } else if (name == "--mac-prefix") {
        auto bytes = parseMacBytes(value);
        if (!bytes || bytes->size() > 5)
            return fail(name + ": expected up to five octets");
        rack.macPrefix = *bytes;
    } else if (name == "--ports") {
        if (value != "9100" && value != "9101" && value != "both")
            return fail(name + ": expected 9100, 9101 or both");
        rack.ports = value;
    } else if (name == "--class") {
        if (!parseIntOption(name, value, 0xFFFF, number))
            return false;
        rack.deviceClass = static_cast<std::uint16_t>(number);
    } else if (name == "--delay" || name == "--delay-spread") {
        if (!parseIntOption(name, value, 600000, number))
            return false;
        (name == "--delay" ? rack.delayMs : rack.delaySpreadMs) = static_cast<int>(number);
    } else {
        return std::nullopt;
    }
    return true;
}

std::optional<bool> applyFloodOption(const std::string& name, const std::string& value,
                                     FloodOptions& flood) {
    unsigned long number = 0;
    if (name == "--flood") {
        if (!parseIntOption(name, value, 1000000, number))
            return false;
        flood.ratePerSecond = static_cast<int>(number);
    } else if (name == "--flood-target") {
        return parseIpOption(name, value, flood.targetIp);
    } else if (name == "--flood-source") {
        return parseIpOption(name, value, flood.sourceIp);
    } else if (name == "--seed") {
        if (!parseIntOption(name, value, 0xFFFFFFFF, number))
            return false;
        flood.seed = static_cast<std::uint32_t>(number);
    } else {
        return std::nullopt;
    }
    return true;
}

bool applyOption(const std::string& name, const std::string& value, Options& options) {
    if (auto applied = applySourceOption(name, value, options))
        return *applied;
    if (auto applied = applyRackOption(name, value, options.rack))
        return *applied;
    if (auto applied = applyFloodOption(name, value, options.flood))
        return *applied;
    return fail("unknown option " + name + " (see --help)");
}

bool applyRackOverrides(Options& options, std::vector<SimModule>& rack) {
    for (const std::string& text : options.rackOverrides) {
        const std::size_t space = text.find(' ');
        auto index = parseNumber(text.substr(0, space), rack.size());
        if (!index || *index == 0) {
            return fail("--set \"" + text + "\": expected a rack module number 1.." +
                        std::to_string(rack.size()) + " and fields");
        }
        const std::string fields = space == std::string::npos ? "" : text.substr(space + 1);
        if (auto error = applyFields(rack[*index - 1], fields)) {
            return fail("--set \"" + text + "\": " + *error);
        }
    }
    return true;
}

bool parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--help" || name == "-h") {
            std::fputs(kHelp, stdout);
            std::exit(0);
        }
        if (i + 1 >= argc) {
            return fail(name + ": missing value (see --help)");
        }
        if (!applyOption(name, argv[++i], options)) {
            return false;
        }
    }
    if (options.rack.count > 0 && options.rack.baseIp == 0) {
        return fail("--modules needs --base-ip");
    }
    std::vector<SimModule> rack = makeRack(options.rack);
    if (!applyRackOverrides(options, rack)) {
        return false;
    }
    options.modules.insert(options.modules.end(), rack.begin(), rack.end());
    if (options.flood.ratePerSecond > 0 && options.flood.targetIp == 0) {
        return fail("--flood needs --flood-target");
    }
    return true;
}

bool writeReadyFile(const std::string& path) {
    const std::string temporary = path + ".tmp";
    {
        std::ofstream file(temporary, std::ios::trunc);
        file << "READY " << getpid() << "\n";
        if (!file.flush()) {
            return fail(temporary + ": cannot be written");
        }
    }
    // Renamed into place so that a reader never sees a half-written file.
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        return fail(path + ": " + std::strerror(errno));
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, options)) {
        return 2;
    }
    // Signals stay blocked except while the simulator waits, so a stop request is
    // never lost between checking the flag and going to sleep.
    sigset_t blocked;
    sigset_t waitMask;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGINT);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    if (sigprocmask(SIG_BLOCK, &blocked, &waitMask) != 0 ||
        sigaction(SIGTERM, &action, nullptr) != 0 || sigaction(SIGINT, &action, nullptr) != 0) {
        fail(std::string("signals: ") + std::strerror(errno));
        return 1;
    }
    sigdelset(&waitMask, SIGTERM);
    sigdelset(&waitMask, SIGINT);

    std::string offending;
    if (!onlyLabInterfaces(offending)) {
        fail("refusing to run outside a network lab: interface " + offending +
             " is not a lab link (start it through tests/lab/lab-run)");
        return 3;
    }
    Simulator simulator(std::move(options.modules), options.flood);
    simulator.sendStreams(options.streams);
    std::string error;
    if (!simulator.open(options.logPath, options.streamLogPath, error)) {
        fail(error);
        return 1;
    }
    if (!options.readyFile.empty() && !writeReadyFile(options.readyFile)) {
        return 1;
    }
    std::puts("READY");
    std::fflush(stdout);
    simulator.run(g_stop, waitMask);
    return 0;
}
