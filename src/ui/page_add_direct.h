// Second page of the add-device wizard: the address of a module that did not answer the
// search, typed in by the operator. Nothing is sent to the module from here.
#pragma once

#include <QWizardPage>

class QLabel;

namespace corvane {

class CAddDeviceSheet;
class CIpAddressEdit;

class CPageAddDirect : public QWizardPage {
    Q_OBJECT

public:
    explicit CPageAddDirect(CAddDeviceSheet& sheet);

    // The wizard calls this each time the page becomes the current one.
    void activate();

    int nextId() const override;
    bool validatePage() override;

private:
    void createControls();

    CAddDeviceSheet& m_sheet;
    QLabel* m_intro = nullptr;
    QLabel* m_addressLabel = nullptr;
    CIpAddressEdit* m_address = nullptr;
};

}  // namespace corvane
