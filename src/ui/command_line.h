// The program's command line: --help and --version answer on standard output and end
// the process before any window or lock; an unknown option is a usage error. Qt's own
// options (-platform, -style, -display, ...) are accepted and left to QApplication.
#pragma once

#include <QStringList>

namespace corvane {

inline constexpr int kUsageErrorStatus = 2;

enum class CommandLineAction { run, exit };

// Parses the arguments; for anything but `run`, `status` is the process's exit status
// and what there was to say has been printed.
CommandLineAction parseProgramCommandLine(const QStringList& arguments, int& status);

}  // namespace corvane
