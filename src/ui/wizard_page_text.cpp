#include "ui/wizard_page_text.h"

#include <QLabel>

#include "app/string_tables.h"
#include "ui/ui_text.h"

namespace corvane {

QLabel* makePageText(QWidget* page, const QString& objectName, const QRect& rect, int textId) {
    auto* label = new QLabel(page);
    label->setObjectName(objectName);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setGeometry(rect);
    label->setText(uiText(textId));
    return label;
}

}  // namespace corvane
