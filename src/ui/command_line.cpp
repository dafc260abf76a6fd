#include "ui/command_line.h"

#include <QCommandLineParser>
#include <cstdio>

namespace corvane {
namespace {

// QApplication's own options, each with whether it takes a value; accepted here so that
// `corvane-control -platform offscreen` keeps working, and not shown in the help.
constexpr struct {
    const char* name;
    bool takesValue;
} kToolkitOptions[] = {
    {"platform", true},        {"platformpluginpath", true},
    {"platformtheme", true},   {"plugin", true},
    {"qwindowgeometry", true}, {"qwindowtitle", true},
    {"qwindowicon", true},     {"style", true},
    {"stylesheet", true},      {"display", true},
    {"geometry", true},        {"session", true},
    {"widgetcount", false},    {"reverse", false},
    {"nograb", false},         {"dograb", false},
    {"sync", false},
};

// Without a QCoreApplication yet, Qt cannot name the program in its usage line.
QString usage(const QCommandLineParser& parser) {
    QString text = parser.helpText();
    text.replace(QLatin1String("<executable_name>"), QLatin1String("corvane-control"));
    return text;
}

void print(std::FILE* stream, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
}

}  // namespace

CommandLineAction parseProgramCommandLine(const QStringList& arguments, int& status) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QStringLiteral(
        "Finds broadcast head-end modules on the local Ethernet segment, keeps a list of them,\n"
        "checks which of them answer and whether their IP output runs, starts, stops and\n"
        "configures that output, and saves a module's passport to a text file.\n"
        "\n"
        "Settings: corvane-control.ini beside the program, or, where that folder cannot be\n"
        "written, $XDG_CONFIG_HOME/corvane-control/corvane-control.ini (default ~/.config)."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    for (const auto& toolkit : kToolkitOptions) {
        QCommandLineOption option(QString::fromLatin1(toolkit.name));
        if (toolkit.takesValue) {
            option.setValueName(QStringLiteral("value"));
        }
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    if (!parser.parse(arguments)) {
        print(stderr, parser.errorText() + QLatin1Char('\n') + usage(parser));
        status = kUsageErrorStatus;
        return CommandLineAction::exit;
    }
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        print(stdout, usage(parser));
        status = 0;
        return CommandLineAction::exit;
    }
    if (parser.isSet(version)) {
        print(stdout, QStringLiteral("corvane-control %1\n").arg(QLatin1String(CORVANE_VERSION)));
        status = 0;
        return CommandLineAction::exit;
    }
    return CommandLineAction::run;
}

}  // namespace corvane
