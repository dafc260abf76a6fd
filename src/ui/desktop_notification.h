// Desktop notifications through the freedesktop notification service on the session
// bus. Fire and forget: where no bus or no service is there, nothing is shown and
// nothing fails.
#pragma once

class QString;

namespace corvane {

void sendDesktopNotification(const QString& summary, const QString& body);

}  // namespace corvane
