#include "ui/save_file_dialog.h"

#include <QFileDialog>
#include <QStringList>

namespace corvane {
namespace {

SaveFileHandler& currentHandler() {
    static SaveFileHandler handler;
    return handler;
}

}  // namespace

QString qtNameFilter(const QString& platformFilter) {
    const QStringList parts = platformFilter.split(QLatin1Char('|'));
    const QString label = parts.value(0).trimmed();
    const QString pattern = parts.value(1).trimmed();
    if (pattern.isEmpty() || label.endsWith(QStringLiteral("(%1)").arg(pattern))) {
        return label;
    }
    return QStringLiteral("%1 (%2)").arg(label, pattern);
}

std::optional<QString> askSaveFileName(QWidget* parent, const SaveFileRequest& request) {
    if (currentHandler()) {
        return currentHandler()(request);
    }
    // Qt's own dialog: it adds the default suffix before asking about overwriting,
    // which a desktop's native dialog does not promise.
    QFileDialog dialog(parent);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(qtNameFilter(request.filter));
    dialog.setDefaultSuffix(request.defaultSuffix);
    dialog.selectFile(request.initialName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().first();
}

SaveFileHandler setSaveFileHandler(SaveFileHandler handler) {
    SaveFileHandler previous = std::move(currentHandler());
    currentHandler() = std::move(handler);
    return previous;
}

}  // namespace corvane
