#include "ui/page_add_direct.h"

#include <QLabel>

#include "app/string_tables.h"
#include "ui/add_device_sheet.h"
#include "ui/dialog_units.h"
#include "ui/ip_address_edit.h"
#include "ui/ui_text.h"
#include "ui/wizard_page_text.h"

namespace corvane {
namespace {

constexpr int kDirectIntroText = 1107;
constexpr int kAddressLabel = 1108;

}  // namespace

CPageAddDirect::CPageAddDirect(CAddDeviceSheet& sheet) : m_sheet(sheet) {
    setFixedSize(DialogUnits(sheet.font()).size(296, 146));
}

void CPageAddDirect::createControls() {
    const DialogUnits units(font());

    m_intro = makePageText(this, QStringLiteral("introText"), units.rect(8, 8, 284, 20),
                           kDirectIntroText);

    m_addressLabel = new QLabel(this);
    m_addressLabel->setObjectName(QStringLiteral("addressLabel"));
    m_addressLabel->setTextFormat(Qt::PlainText);
    m_addressLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_addressLabel->setGeometry(units.rect(12, 44, 108, 12));
    m_addressLabel->setText(uiText(kAddressLabel));

    m_address = new CIpAddressEdit(this);
    m_address->setObjectName(QStringLiteral("addressEdit"));
    m_address->setGeometry(units.rect(124, 44, 100, 12));
    // Built while the page is already on screen, so they must be shown explicitly.
    for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        child->show();
    }
}

void CPageAddDirect::activate() {
    // The field keeps whatever it held when the page was last left.
    if (m_intro == nullptr) {
        createControls();
    }
    m_sheet.setButtons(WizardButtons::backNext);
}

int CPageAddDirect::nextId() const {
    return CAddDeviceSheet::kFinishPage;
}

bool CPageAddDirect::validatePage() {
    // An incomplete address is refused without a message.
    if (m_address->filledParts() < CIpAddressEdit::kParts || m_address->address() == 0) {
        return false;
    }
    const auto address = Ipv4Address::fromHostOrder(m_address->address());
    if (!m_sheet.acceptNewDeviceAddress(address)) {
        return false;
    }
    // A typed address comes with nothing else learned about the module. Starting from a
    // blank record matters when a row was taken earlier and the operator came back: that
    // row's MAC would otherwise be saved with this address, pairing it with another module
    // and hiding that module from later searches.
    m_sheet.candidate = DeviceHello{};
    m_sheet.candidate.ipAddress = address.networkOrder();
    m_sheet.deviceAdded = true;
    return true;
}

}  // namespace corvane
