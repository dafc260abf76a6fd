#include "ui/passport_command.h"

#include <QDir>
#include <QPointer>
#include <QWidget>
#include <memory>

#include "app/string_tables.h"
#include "reports/passport_file.h"
#include "ui/busy_wait.h"
#include "ui/message_box.h"
#include "ui/save_file_dialog.h"
#include "ui/site_session.h"
#include "ui/ui_text.h"

namespace corvane {
std::tm currentLocalTime() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) == nullptr) {
        // Without a time zone the name still gets a plausible, sortable time.
        gmtime_r(&now, &local);
    }
    return local;
}

PassportWriteOutcome writePassportFile(QWidget* parent, Ipv4Address ipAddress,
                                       const PassportData& data, const QString& filter,
                                       const std::tm& localTime) {
    const SaveFileRequest request{QString::fromStdString(defaultPassportFileName(data, localTime)),
                                  QStringLiteral("txt"), filter};
    const std::optional<QString> path = askSaveFileName(parent, request);
    if (!path) {
        return PassportWriteOutcome::savedOrCancelled;
    }
    const FileWriteResult result =
        savePassportFile(QFile::encodeName(*path).toStdString(), ipAddress, data);
    switch (result.status) {
        case FileWriteStatus::Saved:
            return PassportWriteOutcome::savedOrCancelled;
        case FileWriteStatus::CouldNotCreate:
            return PassportWriteOutcome::couldNotCreate;
        case FileWriteStatus::WriteFailed:
            break;
    }
    const QString text = fillTextArguments(
        uiText(ExtraText::fileWriteFailed),
        {QDir::toNativeSeparators(*path), QString::fromStdString(result.message())});
    showMessageText(parent, text, MessageStyle::error);
    return PassportWriteOutcome::writeFailed;
}

void runPassportCommand(SiteSession& session, QWidget& window, int row) {
    if (row < 0) {
        return;
    }
    struct Reading {
        bool answered = false;
        PassportData data{};
    };
    auto reading = std::make_shared<Reading>();
    const LocalAddress local = session.selectedLocalAddress();
    const Ipv4Address deviceIp = session.devices()[static_cast<std::size_t>(row)].ipAddress;
    const auto getPassportData = session.operations().getPassportData;
    const QPointer<QWidget> shown(&window);
    session.runBusy(
        [=] { reading->answered = getPassportData(local, deviceIp, reading->data); },
        [shown, deviceIp, reading] {
            if (!shown) {
                return;
            }
            if (!reading->answered) {
                showMessage(shown, TextId::notResponding, MessageStyle::error);
                return;
            }
            const QString filter = uiText(TextId::passportFileFilter);
            if (writePassportFile(shown, deviceIp, reading->data, filter, currentLocalTime()) ==
                PassportWriteOutcome::couldNotCreate) {
                showMessage(shown, TextId::fileSaveFailed, MessageStyle::error);
            }
        });
}

}  // namespace corvane
