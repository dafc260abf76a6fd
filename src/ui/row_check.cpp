#include "ui/row_check.h"

#include <QPointer>
#include <QWidget>
#include <utility>

#include "app/string_tables.h"
#include "ui/message_box.h"
#include "ui/site_session.h"

namespace corvane {

void checkRowReporting(SiteSession& session, QWidget& parent, int row,
                       std::function<void(bool answered)> then) {
    const QPointer<QWidget> shown(&parent);
    session.checkRow(row, [shown, then = std::move(then)](bool answered) {
        if (!shown) {
            return;
        }
        if (!answered) {
            showMessage(shown, TextId::notResponding, MessageStyle::error);
        }
        if (then) {
            then(answered);
        }
    });
}

}  // namespace corvane
