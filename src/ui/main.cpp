#include <QApplication>

#include "app/settings_file.h"
#include "app/settings_path.h"
#include "app/single_instance.h"
#include "net/local_addresses.h"
#include "ui/command_line.h"
#include "ui/dlg_main.h"
#include "ui/main_window_commands.h"
#include "ui/state_icons.h"

int main(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    // --help and --version need neither a display nor the lock.
    int status = 0;
    if (corvane::parseProgramCommandLine(arguments, status) == corvane::CommandLineAction::exit) {
        return status;
    }
    // A second copy for the same user ends at once and silently; the kernel drops the
    // lock when this process ends, however it ends.
    const corvane::SingleInstanceLock instanceLock("QVN_CorvaneControl");
    if (!instanceLock.held()) {
        return 0;
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("corvane-control"));
    QGuiApplication::setDesktopFileName(QStringLiteral("corvane-control"));
    QApplication::setWindowIcon(corvane::applicationIcon());  // message boxes and dialogs too
    corvane::SettingsFile settings(corvane::settingsLocation());
    corvane::CDlgMain window(
        settings, corvane::DeviceOperations{},
        [](std::vector<corvane::LocalAddress>& list) { return corvane::listLocalAddresses(list); });
    corvane::installMainWindowCommands(window);
    window.exec();
    return 0;
}
