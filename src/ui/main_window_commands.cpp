#include "ui/main_window_commands.h"

#include "ui/dlg_main.h"

namespace corvane {

void installMainWindowCommands(CDlgMain& window) {
    (void)window;
}

}  // namespace corvane
