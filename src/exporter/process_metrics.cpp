#include "exporter/process_metrics.h"

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace corvane::exporter {
namespace {

std::optional<std::string> fileText(const char* path) {
    std::ifstream file(path);
    if (!file) {
        return std::nullopt;
    }
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// The fields of /proc/self/stat after the command name, which may hold blanks and
// parentheses of its own: field 3 (state) is the first word after its last ')'.
std::vector<std::string> statFields(const std::string& stat) {
    std::vector<std::string> fields;
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) {
        return fields;
    }
    std::istringstream words(stat.substr(close + 1));
    for (std::string word; words >> word;) {
        fields.push_back(word);
    }
    return fields;
}

std::optional<double> bootTimeSeconds() {
    const auto stat = fileText("/proc/stat");
    if (!stat) {
        return std::nullopt;
    }
    std::istringstream lines(*stat);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("btime ", 0) == 0) {
            return std::stod(line.substr(6));
        }
    }
    return std::nullopt;
}

std::optional<double> countOpenFds() {
    DIR* folder = ::opendir("/proc/self/fd");
    if (folder == nullptr) {
        return std::nullopt;
    }
    double count = 0;
    while (const dirent* entry = ::readdir(folder)) {
        if (entry->d_name[0] != '.') {
            ++count;
        }
    }
    ::closedir(folder);
    return count - 1;  // the descriptor of the listing itself
}

}  // namespace

std::optional<ProcessFigures> readProcessFigures() {
    const auto stat = fileText("/proc/self/stat");
    const auto boot = bootTimeSeconds();
    const auto fds = countOpenFds();
    if (!stat || !boot || !fds) {
        return std::nullopt;
    }
    // After the name: state is field 3, so field n is at index n - 3.
    const std::vector<std::string> fields = statFields(*stat);
    constexpr std::size_t kUtime = 14 - 3, kStime = 15 - 3, kStart = 22 - 3, kVsize = 23 - 3,
                          kRss = 24 - 3;
    if (fields.size() <= kRss) {
        return std::nullopt;
    }
    const double ticks = static_cast<double>(::sysconf(_SC_CLK_TCK));
    const double page = static_cast<double>(::sysconf(_SC_PAGESIZE));
    ProcessFigures figures;
    try {
        figures.cpuSeconds = (std::stod(fields[kUtime]) + std::stod(fields[kStime])) / ticks;
        figures.startTimeSeconds = *boot + std::stod(fields[kStart]) / ticks;
        figures.virtualBytes = std::stod(fields[kVsize]);
        figures.residentBytes = std::stod(fields[kRss]) * page;
    } catch (const std::exception&) {  // not numbers: a kernel this code does not know
        return std::nullopt;
    }
    figures.openFds = *fds;
    rlimit limit{};
    figures.maxFds = ::getrlimit(RLIMIT_NOFILE, &limit) == 0 ? static_cast<double>(limit.rlim_cur)
                                                              : 0;
    return figures;
}

void addProcessMetrics(MetricsText& text, const ProcessFigures& f) {
    text.add("process_cpu_seconds_total", MetricType::counter,
             "Total user and system CPU time spent in seconds.", f.cpuSeconds);
    text.add("process_resident_memory_bytes", MetricType::gauge, "Resident memory size in bytes.",
             f.residentBytes);
    text.add("process_virtual_memory_bytes", MetricType::gauge, "Virtual memory size in bytes.",
             f.virtualBytes);
    text.add("process_open_fds", MetricType::gauge, "Number of open file descriptors.",
             f.openFds);
    text.add("process_max_fds", MetricType::gauge, "Maximum number of open file descriptors.",
             f.maxFds);
    text.add("process_start_time_seconds", MetricType::gauge,
             "Start time of the process since unix epoch in seconds.", f.startTimeSeconds);
}

}  // namespace corvane::exporter
