#include "ui/check_all_progress.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/string_tables.h"
#include "ui/ui_text.h"

namespace corvane {

CheckAllProgress::CheckAllProgress(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint),
      m_label(new QLabel(this)),
      m_cancelButton(new QPushButton(this)) {
    setObjectName(QStringLiteral("checkAllProgress"));
    setWindowTitle(QStringLiteral("Corvane Control"));
    m_cancelButton->setText(uiText(ExtraText::cancel));
    m_cancelButton->setObjectName(QStringLiteral("cancelButton"));
    m_label->setMinimumWidth(fontMetrics().averageCharWidth() * 36);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_cancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_label);
    layout->addLayout(buttons);

    connect(m_cancelButton, &QPushButton::clicked, this, &CheckAllProgress::cancel);
}

void CheckAllProgress::cancel() {
    if (!m_cancelled) {
        m_cancelled = true;
        m_cancelButton->setEnabled(false);
        emit cancelRequested();
    }
}

void CheckAllProgress::setProgress(int current, int total) {
    const std::string format = loadText(static_cast<int>(ExtraText::checkAllProgress));
    m_label->setText(QString::asprintf(format.c_str(), current, total));
}

void CheckAllProgress::closeEvent(QCloseEvent* event) {
    // Closing the progress window means the same as Cancel.
    cancel();
    event->ignore();
}

}  // namespace corvane
