// Asking the operator where to save a file. Tests replace the dialog with a handler
// that gives the operator's answer.
#pragma once

#include <QString>
#include <functional>
#include <optional>

class QWidget;

namespace corvane {

struct SaveFileRequest {
    QString initialName;    // offered file name, without folder
    QString defaultSuffix;  // added to a name given without an extension ("txt")
    QString filter;         // in the platform notation "Label|pattern||"
};

// The chosen path, or nothing when the operator cancelled.
std::optional<QString> askSaveFileName(QWidget* parent, const SaveFileRequest& request);

using SaveFileHandler = std::function<std::optional<QString>(const SaveFileRequest&)>;
// Replaces the real dialog (an empty handler restores it); returns the old one.
SaveFileHandler setSaveFileHandler(SaveFileHandler handler);

// "Text files (*.txt)|*.txt||" as a Qt name filter: "Text files (*.txt)".
QString qtNameFilter(const QString& platformFilter);

}  // namespace corvane
