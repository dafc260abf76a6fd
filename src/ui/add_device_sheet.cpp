#include "ui/add_device_sheet.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPushButton>
#include <algorithm>

#include "app/string_tables.h"
#include "reports/address_formats.h"
#include "ui/message_box.h"
#include "ui/ui_text.h"

namespace corvane {

CAddDeviceSheet::CAddDeviceSheet(QWidget* parent, DeviceOperations operations)
    : QWizard(parent), m_operations(std::move(operations)) {
    setWindowTitle(uiText(TextId::addWizardTitle));
    setWizardStyle(QWizard::ClassicStyle);
    // No button is a default button: Enter is an ordinary key here (see keyPressEvent).
    setOptions(QWizard::NoDefaultButton | QWizard::DisabledBackButtonOnLastPage);
}

void CAddDeviceSheet::finishButtons() {
    for (const WizardButton which : {BackButton, NextButton, FinishButton, CancelButton}) {
        if (auto* push = qobject_cast<QPushButton*>(button(which))) {
            push->setAutoDefault(false);
            push->setDefault(false);
        }
    }
    // Back goes to the page the current one names, not simply to the previous one.
    QAbstractButton* back = button(BackButton);
    disconnect(back, nullptr, this, nullptr);
    connect(back, &QAbstractButton::clicked, this, &CAddDeviceSheet::goBack);
}

bool CAddDeviceSheet::isListedAddress(Ipv4Address storedAddress) const {
    return std::find(listedAddresses.begin(), listedAddresses.end(), storedAddress) !=
           listedAddresses.end();
}

bool CAddDeviceSheet::acceptNewDeviceAddress(Ipv4Address storedAddress) {
    if (!isValidDeviceAddress(storedAddress)) {
        showMessage(this, TextId::invalidAddress, MessageStyle::error);
        return false;
    }
    if (isListedAddress(storedAddress)) {
        showMessage(this, TextId::addressInList, MessageStyle::warning);
        return false;
    }
    return true;
}

void CAddDeviceSheet::goBack() {
    int target = -1;
    if (currentId() == kDirectPage || currentId() == kConfigurePage) {
        target = kListPage;
    }
    if (target < 0 || !visitedIds().contains(target)) {
        return;
    }
    while (currentId() != target) {
        back();
    }
}

void CAddDeviceSheet::setButtons(WizardButtons buttons) {
    m_buttons = buttons;
    // Let QWizard recompute its own idea of the buttons first (it asks the page's
    // isComplete), then state ours on top so both always agree.
    if (QWizardPage* page = currentPage()) {
        emit page->completeChanged();
    }
    applyButtons();
}

void CAddDeviceSheet::applyButtons() {
    const bool back = m_buttons == WizardButtons::backNext;
    const bool next = m_buttons == WizardButtons::nextOnly || m_buttons == WizardButtons::backNext;
    const bool finish = m_buttons == WizardButtons::finishOnly;
    button(BackButton)->setEnabled(back);
    button(NextButton)->setEnabled(next);
    button(FinishButton)->setEnabled(finish);
}

void CAddDeviceSheet::keyPressEvent(QKeyEvent* event) {
    // Enter and Escape are ordinary keys for the focused control; reaching the wizard
    // they neither advance nor cancel it.
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
            event->accept();
            return;
        default:
            QWizard::keyPressEvent(event);
    }
}

void CAddDeviceSheet::showEvent(QShowEvent* event) {
    QWizard::showEvent(event);
    // The pages are laid out in dialog units of the wizard's font, so a larger desktop
    // font makes them larger than the size QWizard settles on at first; the window grows
    // to hold them rather than cut them off.
    const QSize needed = sizeHint();
    setMinimumSize(needed);
    resize(size().expandedTo(needed));
}

void CAddDeviceSheet::closeEvent(QCloseEvent* event) {
    // The close box and Alt+F4 do nothing: the wizard ends by Cancel or Finish only, so
    // it can never vanish after settings were sent without the device being added.
    if (!m_ending) {
        event->ignore();
        return;
    }
    QWizard::closeEvent(event);
}

void CAddDeviceSheet::done(int result) {
    m_ending = true;
    QWizard::done(result);
    m_ending = false;
}

}  // namespace corvane
