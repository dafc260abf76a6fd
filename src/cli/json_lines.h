// Where in a JSON text a value stands, so that an error in a file a person edits can
// name the line to look at: nlohmann-json parses without keeping positions.
#pragma once

#include <string>
#include <vector>

namespace corvane::cli {

// A value's place: object keys and array indices ("modules", "2", "ip").
using JsonPath = std::vector<std::string>;

// The 1-based line on which the value at `path` starts in `text`, a JSON text that has
// been parsed already; where `path` is not in it (a missing field), the line of the
// nearest value that encloses it.
int lineOfJsonPath(const std::string& text, const JsonPath& path);

// The 1-based line of the byte at `offset`.
int lineOfOffset(const std::string& text, std::size_t offset);

// "modules[2].ip", for a message.
std::string jsonPathText(const JsonPath& path);

}  // namespace corvane::cli
