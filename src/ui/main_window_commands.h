// Connects the main window's Add, IP Output and Passport commands to the windows
// they open.
#pragma once

namespace corvane {

class CDlgMain;

void installMainWindowCommands(CDlgMain& window);

}  // namespace corvane
