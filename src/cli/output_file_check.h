// The kernel's protected-symlinks rule for the files corvanectl writes: in a sticky,
// world-writable folder (/tmp), a symbolic link owned by someone who is neither this
// user nor the folder's owner may have been planted to make us replace another file.
// Writing through such a link is refused; everywhere else links are followed as before.
#pragma once

#include <string>

namespace corvane::cli {

// Whether `path` is such a link, judged as the kernel would (by the effective user).
bool isPlantedLink(const std::string& path);

// Throws CommandError (a file that cannot be written) for such a link.
void refusePlantedLink(const std::string& path);

}  // namespace corvane::cli
