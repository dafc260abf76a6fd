#include "net/open_file_limit.h"

#include <sys/resource.h>

#include <cerrno>
#include <cstring>

namespace corvane {

std::optional<std::uint64_t> raiseOpenFileLimit(std::uint64_t wanted, std::string& error) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        error = std::string("cannot read the limit on open files: ") + std::strerror(errno);
        return std::nullopt;
    }
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < wanted) {
        const rlim_t target = limit.rlim_max == RLIM_INFINITY || limit.rlim_max > wanted
                                  ? static_cast<rlim_t>(wanted)
                                  : limit.rlim_max;
        if (target > limit.rlim_cur) {
            rlimit raised = limit;
            raised.rlim_cur = target;
            if (::setrlimit(RLIMIT_NOFILE, &raised) != 0) {
                error =
                    std::string("cannot raise the limit on open files: ") + std::strerror(errno);
                return std::nullopt;
            }
            limit = raised;
        }
    }
    return limit.rlim_cur == RLIM_INFINITY ? UINT64_MAX
                                           : static_cast<std::uint64_t>(limit.rlim_cur);
}

}  // namespace corvane
