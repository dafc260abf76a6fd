// The example nightly backup: its service and timer as systemd reads them, sandboxed as
// the exporter's service is. (The lab test runs the service's command.)
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace corvane::cli {
namespace {

namespace fs = std::filesystem;

fs::path dataFolder() {
    const fs::path build = fs::canonical("/proc/self/exe").parent_path().parent_path();
    return build / fs::path(__FILE__).parent_path() / "../../data";
}

TEST(SiteBackupUnit, SystemdFindsNothingToSayAndTheSandboxIsOn) {
    if (std::system("command -v systemd-analyze >/dev/null") != 0) {
        GTEST_SKIP() << "systemd-analyze is missing";
    }
    const fs::path service = dataFolder() / "corvane-site-backup.service";
    const fs::path timer = dataFolder() / "corvane-site-backup.timer";
    const std::string command =
        "systemd-analyze verify --man=no '" + service.string() + "' '" + timer.string() + "' 2>&1";
    std::string said;
    int status = -1;
    if (FILE* out = popen(command.c_str(), "r")) {
        for (int c = 0; (c = std::fgetc(out)) != EOF;) {
            said += static_cast<char>(c);
        }
        status = pclose(out);
    }
    EXPECT_EQ(status, 0) << said;
    EXPECT_EQ(said, "");
    std::ifstream in(service);
    std::ostringstream text;
    text << in.rdbuf();
    for (const char* line :
         {"\nDynamicUser=yes\n", "\nProtectSystem=strict\n", "\nNoNewPrivileges=yes\n",
          "\nStateDirectory=corvane-site\n", "\nRestrictAddressFamilies=AF_INET AF_NETLINK\n"}) {
        EXPECT_NE(text.str().find(line), std::string::npos) << line;
    }
}

}  // namespace
}  // namespace corvane::cli
