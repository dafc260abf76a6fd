// The four state marks of the device table and the application icon, drawn at run
// time so they stay sharp at any scale. Each mark has a dark rim and a light core so
// it reads on light and dark palettes alike.
#pragma once

#include <QIcon>

namespace corvane {

enum class StateIcon { running = 0, notQueried = 1, silent = 2, stopped = 3 };

QIcon stateIcon(StateIcon state);
QIcon applicationIcon();

}  // namespace corvane
