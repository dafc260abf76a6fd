#include "cli/output_file_check.h"

#include <sys/stat.h>
#include <unistd.h>

#include "cli/cli_session.h"

namespace corvane::cli {
namespace {

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool isPlantedLink(const std::string& path) {
    struct stat link {};
    if (path.empty() || ::lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) {
        return false;  // no link, or nothing there yet: the writer reports what fails
    }
    struct stat folder {};
    if (::stat(folderOf(path).c_str(), &folder) != 0) {
        return false;  // the link is there, so its folder is; the writer says why not
    }
    const bool shared = (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0;
    return shared && link.st_uid != ::geteuid() && link.st_uid != folder.st_uid;
}

void refusePlantedLink(const std::string& path) {
    if (isPlantedLink(path)) {
        throw CommandError(kExitFailure,
                           "will not write " + path +
                               ": it is a symbolic link that another user owns, in a shared "
                               "folder (sticky and writable for all); remove it or choose another "
                               "name");
    }
}

}  // namespace corvane::cli
