// The explanatory text at the top of a wizard page.
#pragma once

#include <QRect>
#include <QString>

class QLabel;
class QWidget;

namespace corvane {

// A word-wrapped, top-left aligned label with the table text `textId` at `rect`. The
// texts show "<Next>" literally, so they are never taken for markup.
QLabel* makePageText(QWidget* page, const QString& objectName, const QRect& rect, int textId);

}  // namespace corvane
