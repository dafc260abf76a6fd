// Last page of the add-device wizard: the module is taken; Finish hands it to the main
// window. Neither Back nor Cancel is offered any more, since settings may have been sent.
#pragma once

#include <QWizardPage>

class QLabel;

namespace corvane {

class CAddDeviceSheet;

class CPageAddFinish : public QWizardPage {
    Q_OBJECT

public:
    explicit CPageAddFinish(CAddDeviceSheet& sheet);

    // The wizard calls this when the page becomes the current one.
    void activate();

    int nextId() const override;

private:
    CAddDeviceSheet& m_sheet;
    QLabel* m_text = nullptr;
};

}  // namespace corvane
