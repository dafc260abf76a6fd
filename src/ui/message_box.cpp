#include "ui/message_box.h"

#include <QMessageBox>

#include "app/string_tables.h"
#include "ui/ui_text.h"

namespace corvane {
namespace {

MessageHandler& currentHandler() {
    static MessageHandler handler;
    return handler;
}

QMessageBox::Icon iconOf(MessageStyle style) {
    switch (style) {
        case MessageStyle::error:
            return QMessageBox::Critical;
        case MessageStyle::warning:
            return QMessageBox::Warning;
        case MessageStyle::question:
            return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

MessageAnswer showMessage(QWidget* parent, int textId, MessageStyle style) {
    return showMessageText(parent, uiText(textId), style);
}

MessageAnswer showMessageText(QWidget* parent, const QString& text, MessageStyle style) {
    if (currentHandler()) {
        return currentHandler()(text, style);
    }
    QMessageBox box(iconOf(style), QString::fromLatin1(kApplicationTitle), text,
                    QMessageBox::NoButton, parent);
    if (style == MessageStyle::question) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? MessageAnswer::yes : MessageAnswer::no;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return MessageAnswer::ok;
}

QString fillTextArguments(QString format, const QStringList& arguments) {
    qsizetype from = 0;
    for (const QString& argument : arguments) {
        const qsizetype place = format.indexOf(QStringLiteral("%s"), from);
        if (place < 0) {
            break;
        }
        format.replace(place, 2, argument);
        from = place + argument.size();
    }
    return format;
}

MessageHandler setMessageHandler(MessageHandler handler) {
    MessageHandler previous = std::move(currentHandler());
    currentHandler() = std::move(handler);
    return previous;
}

}  // namespace corvane
