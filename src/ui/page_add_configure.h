// Third page of the add-device wizard: new network settings for the module picked from the
// search, sent to it when the page is accepted with any of them changed.
#pragma once

#include <QWizardPage>
#include <cstdint>

#include "net/ipv4_address.h"

class QLabel;

namespace corvane {

class CAddDeviceSheet;
class CIpAddressEdit;

class CPageAddConfigure : public QWizardPage {
    Q_OBJECT

public:
    explicit CPageAddConfigure(CAddDeviceSheet& sheet);

    // The wizard calls this each time the page becomes the current one: the fields show
    // the candidate's current settings.
    void activate();

    int nextId() const override;
    // Accepts the page at once when the settings are unchanged. Otherwise it refuses
    // for now and sends them on a worker thread; once they went out, the wizard is moved
    // on, and when nothing could be sent at all, a message says so and the page stays.
    bool validatePage() override;

    bool sending() const { return m_sending; }

private:
    void createControls();
    void sendSettings(Ipv4Address ip, Ipv4Address mask, Ipv4Address gateway);

    CAddDeviceSheet& m_sheet;
    QLabel* m_intro = nullptr;
    CIpAddressEdit* m_ipAddress = nullptr;
    CIpAddressEdit* m_networkMask = nullptr;
    CIpAddressEdit* m_defaultGateway = nullptr;
    bool m_sending = false;
    bool m_sent = false;  // the settings went out: the next validation accepts
};

}  // namespace corvane
