#include "ui/page_add_list.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <memory>

#include "app/string_tables.h"
#include "devices/shared_address.h"
#include "reports/address_formats.h"
#include "ui/add_device_sheet.h"
#include "ui/busy_wait.h"
#include "ui/dialog_units.h"
#include "ui/message_box.h"
#include "ui/ui_text.h"
#include "ui/wizard_page_text.h"

namespace corvane {
namespace {

constexpr int kListIntroText = 1106;
constexpr int kRefreshButton = 1101;
constexpr int kEnterDirectlyBox = 1102;
constexpr int kMacColumnTitle = 10005;
constexpr int kIpColumnTitle = 10006;
constexpr int kColumnWidthPx = 140;
constexpr int kIntroMaxBottom = 42;  // dialog units, just above the list view

}  // namespace

void filterAndSortFound(std::vector<DeviceHello>& found,
                        const std::vector<std::string>& listedMacs) {
    std::erase_if(found, [&listedMacs](const DeviceHello& hello) {
        const std::string mac = formatMacAddress(hello.mac);
        // A MAC never learned matches no listed device, whatever the list holds.
        return !mac.empty() &&
               std::find(listedMacs.begin(), listedMacs.end(), mac) != listedMacs.end();
    });
    // std::array of unsigned bytes compares octet by octet, first octet most significant.
    std::stable_sort(found.begin(), found.end(),
                     [](const DeviceHello& a, const DeviceHello& b) { return a.mac < b.mac; });
}

CPageAddList::CPageAddList(CAddDeviceSheet& sheet) : m_sheet(sheet) {
    setFixedSize(DialogUnits(sheet.font()).size(296, 146));
}

void CPageAddList::createControls() {
    const DialogUnits units(font());

    m_intro =
        makePageText(this, QStringLiteral("introText"), units.rect(8, 8, 220, 28), kListIntroText);
    // The Russian text wraps to one line more than the box holds with some fonts; let it
    // grow down to the list view rather than cut off its last line.
    const int needed = m_intro->heightForWidth(m_intro->width());
    if (needed > m_intro->height()) {
        m_intro->resize(m_intro->width(), std::min(needed, units.y(kIntroMaxBottom - 8)));
    }

    m_refresh = new QPushButton(uiText(kRefreshButton), this);
    m_refresh->setObjectName(QStringLiteral("refreshButton"));
    // Enter goes to the focused control as a plain key; it never clicks a button.
    m_refresh->setAutoDefault(false);
    m_refresh->setGeometry(units.rect(232, 24, 60, 14));
    connect(m_refresh, &QPushButton::clicked, this, &CPageAddList::search);

    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("deviceList"));
    m_list->setGeometry(units.rect(4, 44, 288, 76));
    m_list->setColumnCount(2);
    m_list->setHeaderLabels({uiText(kMacColumnTitle), uiText(kIpColumnTitle)});
    m_list->setRootIsDecorated(false);
    m_list->setItemsExpandable(false);
    m_list->setUniformRowHeights(true);
    m_list->setSortingEnabled(false);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setAllColumnsShowFocus(true);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->header()->setSectionsClickable(false);
    m_list->header()->setSectionsMovable(false);
    m_list->header()->setStretchLastSection(false);
    m_list->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_list->setColumnWidth(0, kColumnWidthPx);
    m_list->setColumnWidth(1, kColumnWidthPx);
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, &CPageAddList::onSelectionChanged);

    m_enterDirectlyBox = new QCheckBox(uiText(kEnterDirectlyBox), this);
    m_enterDirectlyBox->setObjectName(QStringLiteral("enterDirectlyBox"));
    m_enterDirectlyBox->setGeometry(units.rect(4, 128, 288, 12));
    connect(m_enterDirectlyBox, &QCheckBox::clicked, this, &CPageAddList::onEnterDirectlyClicked);
    // Built while the page is already on screen, so they must be shown explicitly.
    for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        child->show();
    }
}

void CPageAddList::activate() {
    if (m_intro == nullptr) {
        createControls();
    }
    m_sheet.setButtons(WizardButtons::none);
    if (!m_searchedOnce && m_startTimer == nullptr) {
        m_startTimer = new QTimer(this);
        m_startTimer->setSingleShot(true);
        connect(m_startTimer, &QTimer::timeout, this, &CPageAddList::onStartTimer);
        m_startTimer->start(kFirstSearchDelayMs);
    }
    m_enterDirectlyBox->setChecked(m_enterDirectly);
    applyButtonRule();
}

void CPageAddList::onStartTimer() {
    m_startTimer->deleteLater();
    m_startTimer = nullptr;
    if (!m_searchedOnce) {
        m_searchedOnce = true;
        search();
    }
}

void CPageAddList::search() {
    if (m_searching) {
        return;
    }
    struct Result {
        bool succeeded = false;
        std::vector<DeviceHello> found;
    };
    auto result = std::make_shared<Result>();
    const auto searchDevices = m_sheet.operations().searchDevices;
    const LocalAddress adapter = m_sheet.localAdapter;
    const std::uint16_t searchClass = m_sheet.searchClass;
    m_searching = true;
    runBusy(
        this, [=] { result->succeeded = searchDevices(adapter, searchClass, result->found); },
        [this, result] {
            m_searching = false;
            filterAndSortFound(result->found, m_sheet.listedMacs);
            m_found = std::move(result->found);
            fillList();
            m_selectedRow = -1;
            applyButtonRule();
            // What was collected before the failure stays listed.
            if (!result->succeeded) {
                showMessage(&m_sheet, TextId::searchFailed, MessageStyle::error);
            }
        });
}

void CPageAddList::fillList() {
    m_list->setUpdatesEnabled(false);
    m_list->clear();
    const QIcon warning = style()->standardIcon(QStyle::SP_MessageBoxWarning);
    QList<QTreeWidgetItem*> rows;
    rows.reserve(static_cast<qsizetype>(m_found.size()));
    for (std::size_t i = 0; i < m_found.size(); ++i) {
        const DeviceHello& hello = m_found[i];
        auto* row = new QTreeWidgetItem(QStringList{
            QString::fromStdString(formatMacAddress(hello.mac)),
            QString::fromStdString(Ipv4Address::fromNetworkOrder(hello.ipAddress).text())});
        // Selecting it stays allowed: the next page is where the address is changed.
        const QStringList others = otherUsersOfAddress(i);
        if (!others.isEmpty()) {
            row->setIcon(1, warning);  // by the address: the MAC column has no room to spare
            const QString tip = fillTextArguments(uiText(ExtraText::addressAlsoUsed),
                                                  {others.join(QStringLiteral(", "))});
            row->setToolTip(0, tip);
            row->setToolTip(1, tip);
        }
        rows.append(row);
    }
    m_list->addTopLevelItems(rows);
    m_list->setUpdatesEnabled(true);
}

QStringList CPageAddList::otherUsersOfAddress(std::size_t index) const {
    const DeviceHello& module = m_found[index];
    const std::string mac = formatMacAddress(module.mac);
    QStringList others;
    auto add = [&](const std::string& otherMac) {
        const QString text = QString::fromStdString(otherMac);
        if (otherMac != mac && !others.contains(text)) {
            others << text;
        }
    };
    for (std::size_t other : othersSharingAddress(m_found, index)) {
        add(formatMacAddress(m_found[other].mac));
    }
    // A listed device without a MAC may be this very module, added by its address.
    for (const auto& [address, listedMac] : m_sheet.listedDevices) {
        if (address == Ipv4Address::fromNetworkOrder(module.ipAddress) && !listedMac.empty()) {
            add(listedMac);
        }
    }
    return others;
}

void CPageAddList::onSelectionChanged() {
    const QList<QTreeWidgetItem*> selected = m_list->selectedItems();
    m_selectedRow = selected.isEmpty() ? -1 : m_list->indexOfTopLevelItem(selected.first());
    applyButtonRule();
}

void CPageAddList::onEnterDirectlyClicked(bool checked) {
    m_enterDirectly = checked;
    if (m_enterDirectly && m_selectedRow != -1) {
        // Clears the selection and the focused row; the selection notification then
        // resets m_selectedRow.
        m_list->selectionModel()->clear();
    }
    applyButtonRule();
}

void CPageAddList::applyButtonRule() {
    m_list->setEnabled(!m_enterDirectly);
    m_refresh->setEnabled(!m_enterDirectly);
    m_sheet.setButtons(m_enterDirectly || m_selectedRow != -1 ? WizardButtons::nextOnly
                                                              : WizardButtons::none);
}

bool CPageAddList::isComplete() const {
    return m_enterDirectly || m_selectedRow != -1;
}

int CPageAddList::nextId() const {
    // Never -1, so the wizard keeps showing Next (not Finish) on this page.
    return m_enterDirectly ? CAddDeviceSheet::kDirectPage : CAddDeviceSheet::kConfigurePage;
}

bool CPageAddList::validatePage() {
    if (m_enterDirectly) {
        return true;
    }
    if (m_selectedRow < 0 || m_selectedRow >= static_cast<int>(m_found.size())) {
        return false;
    }
    m_sheet.candidate = m_found[static_cast<std::size_t>(m_selectedRow)];
    return true;
}

}  // namespace corvane
