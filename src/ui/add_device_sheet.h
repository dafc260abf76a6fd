// What the add-device wizard's pages share: the fields the opener fills and reads, the
// operations, the buttons each page offers, and the wizard's rules for Enter, Escape, the
// close box and Back. The pages see only this; the wizard (add_device_wizard.h) adds
// the pages themselves.
#pragma once

#include <QWizard>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "net/wire_types.h"
#include "ui/device_operations.h"

class QCloseEvent;
class QKeyEvent;
class QShowEvent;

namespace corvane {

// Which of Back, Next and Finish a page offers. Cancel is left alone (the finish page
// disables it itself).
enum class WizardButtons { none, nextOnly, backNext, finishOnly };

class CAddDeviceSheet : public QWizard {
    Q_OBJECT

public:
    enum PageId : int { kListPage = 0, kDirectPage = 1, kConfigurePage = 2, kFinishPage = 3 };

    explicit CAddDeviceSheet(QWidget* parent = nullptr,
                             DeviceOperations operations = DeviceOperations{});

    // Filled by the opener.
    LocalAddress localAdapter{};               // every datagram goes out from here
    std::uint16_t searchClass = 0;             // the device class the search asks for
    std::vector<Ipv4Address> listedAddresses;  // devices already listed
    std::vector<std::string> listedMacs;       // non-empty MAC texts of listed devices
    // Every listed device's address and MAC text, to point out a found module whose
    // address a listed module with another MAC already has.
    std::vector<std::pair<Ipv4Address, std::string>> listedDevices;

    // Read by the opener when the wizard has closed.
    bool deviceAdded = false;
    DeviceHello candidate{};  // the module being added, all zero until one is chosen

    const DeviceOperations& operations() const { return m_operations; }
    void setOperations(DeviceOperations operations) { m_operations = std::move(operations); }

    // Called by the pages: sets the enabled state of Back, Next and Finish.
    void setButtons(WizardButtons buttons);
    WizardButtons buttons() const { return m_buttons; }

    bool isListedAddress(Ipv4Address storedAddress) const;
    // Whether a module may be added with this address; when not, says why (an address
    // no module may take, or one already in the device list).
    bool acceptNewDeviceAddress(Ipv4Address storedAddress);

    void done(int result) override;

protected:
    // Once the pages are set: no default button, and Back to the page the current one names.
    void finishButtons();
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void goBack();
    void applyButtons();

    DeviceOperations m_operations;
    WizardButtons m_buttons = WizardButtons::none;
    bool m_ending = false;
};

}  // namespace corvane
