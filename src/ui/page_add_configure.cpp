#include "ui/page_add_configure.h"

#include <QLabel>
#include <memory>

#include "app/string_tables.h"
#include "ui/add_device_sheet.h"
#include "ui/busy_wait.h"
#include "ui/dialog_units.h"
#include "ui/ip_address_edit.h"
#include "ui/message_box.h"
#include "ui/ui_text.h"
#include "ui/wizard_page_text.h"

namespace corvane {
namespace {

constexpr int kConfigureIntroText = 1109;
constexpr int kIpAddressLabel = 1110;
constexpr int kNetworkMaskLabel = 1111;
constexpr int kDefaultGatewayLabel = 1112;

bool allPartsFilled(const CIpAddressEdit* field) {
    return field->filledParts() == CIpAddressEdit::kParts;
}

}  // namespace

CPageAddConfigure::CPageAddConfigure(CAddDeviceSheet& sheet) : m_sheet(sheet) {
    setFixedSize(DialogUnits(sheet.font()).size(296, 146));
}

void CPageAddConfigure::createControls() {
    const DialogUnits units(font());

    m_intro = makePageText(this, QStringLiteral("introText"), units.rect(8, 8, 280, 28),
                           kConfigureIntroText);

    struct Row {
        int labelId;
        int top;
        const char* name;
        CIpAddressEdit** field;
    };
    const Row rows[] = {{kIpAddressLabel, 44, "ipAddress", &m_ipAddress},
                        {kNetworkMaskLabel, 60, "networkMask", &m_networkMask},
                        {kDefaultGatewayLabel, 76, "defaultGateway", &m_defaultGateway}};
    for (const Row& row : rows) {
        auto* label = new QLabel(uiText(row.labelId), this);
        label->setObjectName(QLatin1String(row.name) + QLatin1String("Label"));
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        label->setGeometry(units.rect(12, row.top, 108, 12));

        auto* field = new CIpAddressEdit(this);
        field->setObjectName(QLatin1String(row.name) + QLatin1String("Edit"));
        field->setGeometry(units.rect(124, row.top, 100, 12));
        *row.field = field;
    }
    // Built while the page is already on screen, so they must be shown explicitly.
    for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        child->show();
    }
}

void CPageAddConfigure::activate() {
    if (m_intro == nullptr) {
        createControls();
    }
    const DeviceHello& candidate = m_sheet.candidate;
    m_ipAddress->setAddress(Ipv4Address::fromNetworkOrder(candidate.ipAddress).hostOrder());
    m_networkMask->setAddress(Ipv4Address::fromNetworkOrder(candidate.networkMask).hostOrder());
    m_defaultGateway->setAddress(
        Ipv4Address::fromNetworkOrder(candidate.defaultGateway).hostOrder());
    m_sheet.setButtons(WizardButtons::backNext);
}

int CPageAddConfigure::nextId() const {
    return CAddDeviceSheet::kFinishPage;
}

bool CPageAddConfigure::validatePage() {
    if (m_sent) {
        m_sent = false;
        m_sheet.deviceAdded = true;
        return true;
    }
    // Incomplete fields are refused without a message; a mask or gateway of 0.0.0.0 is
    // a legitimate setting, an address of 0.0.0.0 is not.
    if (m_sending || !allPartsFilled(m_ipAddress) || !allPartsFilled(m_networkMask) ||
        !allPartsFilled(m_defaultGateway) || m_ipAddress->address() == 0) {
        return false;
    }
    const auto ip = Ipv4Address::fromHostOrder(m_ipAddress->address());
    const auto mask = Ipv4Address::fromHostOrder(m_networkMask->address());
    const auto gateway = Ipv4Address::fromHostOrder(m_defaultGateway->address());
    if (!m_sheet.acceptNewDeviceAddress(ip)) {
        return false;
    }
    const DeviceHello& candidate = m_sheet.candidate;
    if (ip == Ipv4Address::fromNetworkOrder(candidate.ipAddress) &&
        mask == Ipv4Address::fromNetworkOrder(candidate.networkMask) &&
        gateway == Ipv4Address::fromNetworkOrder(candidate.defaultGateway)) {
        m_sheet.deviceAdded = true;
        return true;
    }
    sendSettings(ip, mask, gateway);
    return false;
}

void CPageAddConfigure::sendSettings(Ipv4Address ip, Ipv4Address mask, Ipv4Address gateway) {
    auto sent = std::make_shared<bool>(false);
    const auto setNetworkSettings = m_sheet.operations().setNetworkSettings;
    const LocalAddress adapter = m_sheet.localAdapter;
    const MacAddress mac = m_sheet.candidate.mac;
    m_sending = true;
    runBusy(
        this, [=] { *sent = setNetworkSettings(adapter, mac, ip, mask, gateway); },
        [this, sent, ip, mask, gateway] {
            m_sending = false;
            if (!*sent) {
                // Nothing went out; the candidate keeps its settings, so Next tries again.
                showMessage(&m_sheet, TextId::sendFailed, MessageStyle::error);
                return;
            }
            // The module does not confirm new settings; the device is added and later
            // status checks tell whether it took them.
            m_sheet.candidate.ipAddress = ip.networkOrder();
            m_sheet.candidate.networkMask = mask.networkOrder();
            m_sheet.candidate.defaultGateway = gateway.networkOrder();
            m_sent = true;
            m_sheet.next();
        });
}

}  // namespace corvane
