// Every message the program shows goes through showMessage: a modal box with a text
// from the string tables and the application title as its caption. Tests replace the
// box with a handler that records the message and gives the operator's answer.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

#include "app/string_tables.h"

class QWidget;

namespace corvane {

enum class MessageStyle { error, warning, question };
enum class MessageAnswer { ok, yes, no };

inline constexpr char kApplicationTitle[] = "Corvane Manager";

// Shows loadText(textId) in the current language.
MessageAnswer showMessage(QWidget* parent, int textId, MessageStyle style);
inline MessageAnswer showMessage(QWidget* parent, TextId textId, MessageStyle style) {
    return showMessage(parent, static_cast<int>(textId), style);
}
// Shows an already built text (the removal question, errors naming a file).
MessageAnswer showMessageText(QWidget* parent, const QString& text, MessageStyle style);

// Fills the "%s" places of a table text, in order.
QString fillTextArguments(QString format, const QStringList& arguments);

using MessageHandler = std::function<MessageAnswer(const QString& text, MessageStyle style)>;
// Replaces the real message box (an empty handler restores it); returns the old one.
MessageHandler setMessageHandler(MessageHandler handler);

}  // namespace corvane
