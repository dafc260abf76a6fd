// Third page of the add-device wizard: new network settings for the module picked from the
// search, sent to it when the page is accepted with any of them changed.
#pragma once

#include <QWizardPage>

class QLabel;

namespace corvane {

class CAddDeviceWizard;
class CIpAddressEdit;

class CPageAddConfigure : public QWizardPage {
    Q_OBJECT

public:
    explicit CPageAddConfigure(CAddDeviceWizard& sheet);

    // The wizard calls this each time the page becomes the current one: the fields show
    // the candidate's current settings.
    void activate();

    int nextId() const override;
    bool validatePage() override;

private:
    void createControls();

    CAddDeviceWizard& m_sheet;
    QLabel* m_intro = nullptr;
    CIpAddressEdit* m_ipAddress = nullptr;
    CIpAddressEdit* m_networkMask = nullptr;
    CIpAddressEdit* m_defaultGateway = nullptr;
};

}  // namespace corvane
