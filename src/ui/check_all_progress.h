// The small window that Check All shows when it takes longer than about a second:
// "k of n" and a Cancel button that stops after the module being checked.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace corvane {

class CheckAllProgress : public QDialog {
    Q_OBJECT

public:
    explicit CheckAllProgress(QWidget* parent);
    void setProgress(int current, int total);
    QPushButton* cancelButton() const { return m_cancelButton; }

signals:
    // Cancel pressed, or the window closed: no further module is checked.
    void cancelRequested();

private slots:
    void cancel();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QLabel* m_label;
    QPushButton* m_cancelButton;
    bool m_cancelled = false;
};

}  // namespace corvane
