#include "ui/dlg_main.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>
#include <QResizeEvent>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <atomic>
#include <memory>
#include <utility>

#include "app/string_tables.h"
#include "devices/shared_address.h"
#include "reports/address_formats.h"
#include "ui/check_all_progress.h"
#include "ui/dialog_units.h"
#include "ui/language.h"
#include "ui/main_window_watch.h"
#include "ui/message_box.h"
#include "ui/resize_rules.h"
#include "ui/row_check.h"
#include "ui/state_icons.h"
#include "ui/ui_text.h"

namespace corvane {
namespace {

enum ControlId : int {
    kDeviceTable = 1000,
    kCloseButton = 1001,
    kAddButton = 1002,
    kRemoveButton = 1003,
    kLanguageList = 1004,
    kPassportButton = 1005,
    kIpOutputButton = 1006,
    kCheckButton = 1007,
    kCheckAllButton = 1008,
    kWatchBox = 1011,  // Watch, the one control added after the others were numbered
    kSetupButton = 1009,
    kRemoteButton = 1010,
    kLocalAddressList = 1046,
};

constexpr char kMainTitle[] = "Corvane Control";
constexpr int kCheckAllProgressDelayMs = 1000;
constexpr int kColumnCount = 5;
constexpr int kColumnWidths[kColumnCount] = {40, 128, 128, 128, 128};

struct ControlPlacement {
    int id;
    int left, top, width, height;
    int resizeFlags;
};

// Positions in dialog units, in tab order.
constexpr ControlPlacement kPlacements[] = {
    {kDeviceTable, 8, 8, 444, 196, kWiden | kMakeTaller},
    {kLanguageList, 460, 8, 72, 12, kMoveRight},
    {kLocalAddressList, 460, 28, 72, 12, kMoveRight},
    {kCheckButton, 460, 52, 72, 14, kMoveRight},
    {kCheckAllButton, 460, 68, 72, 14, kMoveRight},
    {kIpOutputButton, 460, 88, 72, 14, kMoveRight},
    {kWatchBox, 460, 108, 72, 12, kMoveRight},
    {kSetupButton, 460, 105, 72, 14, kMoveRight},
    {kRemoteButton, 460, 105, 72, 14, kMoveRight},
    {kAddButton, 460, 129, 72, 14, kMoveRight},
    {kRemoveButton, 460, 145, 72, 14, kMoveRight},
    {kPassportButton, 460, 161, 72, 14, kMoveRight},
    {kCloseButton, 460, 188, 72, 14, kMoveRight | kMoveDown},
};

constexpr int kCaptionedButtons[] = {kIpOutputButton, kAddButton,   kRemoveButton,  kCloseButton,
                                     kPassportButton, kCheckButton, kCheckAllButton};

// A MAC text is shown as stored, however malformed; only a damaged file's absurdly
// long one is cut for the table, whose layout would otherwise stall the window.
QString shownMacText(const std::string& mac) {
    constexpr std::size_t kLongestShown = 64;
    if (mac.size() <= kLongestShown) {
        return QString::fromStdString(mac);
    }
    return QString::fromStdString(mac.substr(0, kLongestShown)) + QChar(0x2026);
}

}  // namespace

CDlgMain::CDlgMain(SettingsFile& settings, DeviceOperations operations, AddressLister listAddresses,
                   QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      m_session(new SiteSession(settings, std::move(operations), this)) {
    setObjectName(QStringLiteral("mainWindow"));
    for (StateIcon state :
         {StateIcon::running, StateIcon::notQueried, StateIcon::silent, StateIcon::stopped}) {
        m_stateIcons[static_cast<std::size_t>(state)] = stateIcon(state);
    }
    chooseLanguage();
    createControls();
    applyCaptions();
    setWindowTitle(QString::fromLatin1(kMainTitle));
    setWindowIcon(applicationIcon());
    restorePlacement();
    refreshView(-1);
    openLocalAddresses(listAddresses);
    m_watch = new MainWindowWatch(*m_session, *this);
    connectControls();
    updateCommands();
    if (m_session->storedWatch()) {
        // Restored, not chosen: nothing to write back.
        const QSignalBlocker quiet(m_watchBox);
        m_watchBox->setChecked(true);
        m_watch->setActive(true);
    }
    qApp->installEventFilter(this);
}

CDlgMain::~CDlgMain() {
    qApp->removeEventFilter(this);
}

void CDlgMain::chooseLanguage() {
    const bool russian = m_session->storedLanguageRussian(systemPrefersRussian());
    applyLanguage(russian);
    m_languageList = new QComboBox(this);
    m_languageList->addItems({QStringLiteral("English"), QStringLiteral("Russian")});
    m_languageList->setCurrentIndex(russian ? 1 : 0);
}

void CDlgMain::createTable() {
    m_table = new QTreeWidget(this);
    m_table->setRootIsDecorated(false);
    m_table->setItemsExpandable(false);
    m_table->setUniformRowHeights(true);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSortingEnabled(false);
    m_table->header()->setSectionsClickable(false);
    m_table->header()->setStretchLastSection(false);
    m_table->setColumnCount(kColumnCount);
    m_table->setIconSize(QSize(16, 16));
    for (int column = 0; column < kColumnCount; ++column) {
        m_table->setColumnWidth(column, kColumnWidths[column]);
    }
}

void CDlgMain::createControls() {
    createTable();
    m_localAddressList = new QComboBox(this);
    m_watchBox = new QCheckBox(this);
    m_controls = {{kDeviceTable, m_table},
                  {kLanguageList, m_languageList},
                  {kLocalAddressList, m_localAddressList},
                  {kWatchBox, m_watchBox}};
    for (int id : {kCheckButton, kCheckAllButton, kIpOutputButton, kSetupButton, kRemoteButton,
                   kAddButton, kRemoveButton, kPassportButton, kCloseButton}) {
        auto* button = new QPushButton(this);
        button->setAutoDefault(false);
        m_controls[id] = button;
    }
    // Setup and Remote control have no command in this program; they stay hidden.
    m_controls[kSetupButton]->hide();
    m_controls[kRemoteButton]->hide();
    static_cast<QPushButton*>(m_controls[kSetupButton])->setText(uiText(kSetupButton));
    static_cast<QPushButton*>(m_controls[kRemoteButton])->setText(uiText(kRemoteButton));
    placeControls();
}

void CDlgMain::placeControls() {
    const DialogUnits units(font());
    QWidget* previous = nullptr;
    for (const ControlPlacement& placement : kPlacements) {
        QWidget* widget = m_controls.at(placement.id);
        widget->setObjectName(QStringLiteral("control%1").arg(placement.id));
        QRect rect = units.rect(placement.left, placement.top, placement.width, placement.height);
        if (qobject_cast<QComboBox*>(widget) != nullptr) {
            rect.setHeight(widget->sizeHint().height());
        }
        widget->setGeometry(rect);
        if (previous != nullptr) {
            setTabOrder(previous, widget);
        }
        previous = widget;
    }
    resize(units.size(539, 209));
    m_lastClientSize = size();
    // The smallest outer size is 440 x 230 units; the frame is not known yet, so the
    // client minimum leaves room for a usual caption and border.
    setMinimumSize(units.size(440, 230) - units.size(6, 21));
}

void CDlgMain::connectControls() {
    auto button = [this](int id) { return static_cast<QPushButton*>(m_controls[id]); };
    connect(m_table, &QTreeWidget::itemSelectionChanged, this, &CDlgMain::updateCommands);
    connect(button(kCheckButton), &QPushButton::clicked, this, &CDlgMain::checkSelected);
    connect(button(kCheckAllButton), &QPushButton::clicked, this, &CDlgMain::checkAll);
    connect(button(kIpOutputButton), &QPushButton::clicked, this, &CDlgMain::ipOutput);
    connect(button(kAddButton), &QPushButton::clicked, this, &CDlgMain::addDevice);
    connect(button(kRemoveButton), &QPushButton::clicked, this, &CDlgMain::removeSelected);
    connect(button(kPassportButton), &QPushButton::clicked, this, &CDlgMain::passport);
    connect(button(kCloseButton), &QPushButton::clicked, this, &QWidget::close);
    connect(m_languageList, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &CDlgMain::onLanguageChanged);
    connect(m_localAddressList, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &CDlgMain::onLocalAddressChanged);
    connect(m_watchBox, &QCheckBox::toggled, this, &CDlgMain::onWatchToggled);
    connect(m_watch, &MainWindowWatch::sweepEnded, this, &CDlgMain::onWatchSweepEnded);
    connect(m_session, &SiteSession::rowRead, this, [this](int row) { refreshRow(row); });
    connect(m_session, &SiteSession::listChanged, this, &CDlgMain::refreshView);
}

void CDlgMain::applyCaptions() {
    for (int id : kCaptionedButtons) {
        static_cast<QPushButton*>(m_controls.at(id))->setText(uiText(id));
    }
    QStringList titles;
    for (int column = 0; column < kColumnCount; ++column) {
        titles << uiText(static_cast<int>(TextId::firstColumn) + column);
    }
    m_table->setHeaderLabels(titles);
    m_yesText = uiText(TextId::yes);
    m_noText = uiText(TextId::no);
    m_watchBox->setText(uiText(ExtraText::watch));
}

void CDlgMain::restorePlacement() {
    if (const std::optional<QRect> placement = m_session->storedPlacement()) {
        setGeometry(*placement);
    }
}

void CDlgMain::openLocalAddresses(const AddressLister& listAddresses) {
    const bool any = m_session->openLocalAddresses(listAddresses);
    const QSignalBlocker blocker(m_localAddressList);
    m_localAddressList->clear();
    if (!any) {
        showMessage(this, TextId::noAdapter, MessageStyle::error);
        return;
    }
    for (const LocalAddress& local : m_session->localAddresses()) {
        m_localAddressList->addItem(QString::fromStdString(local.address.text()));
    }
    m_localAddressList->setCurrentIndex(m_session->selectedLocalIndex());
}

void CDlgMain::refreshView(int row) {
    m_table->setUpdatesEnabled(false);
    m_table->clear();
    const DeviceList& devices = m_session->devices();
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(devices.size()));
    for (int i = 0; i < static_cast<int>(devices.size()); ++i) {
        auto* item = new QTreeWidgetItem;
        fillRow(*item, i);
        items.append(item);
    }
    m_table->addTopLevelItems(items);
    if (row >= 0 && row < m_table->topLevelItemCount()) {
        QTreeWidgetItem* item = m_table->topLevelItem(row);
        m_table->setCurrentItem(item);
        item->setSelected(true);
        m_table->scrollToItem(item);
    }
    updateCommands();
    m_table->setUpdatesEnabled(true);
}

void CDlgMain::fillRow(QTreeWidgetItem& item, int row) const {
    const DeviceRecord& record = m_session->devices()[static_cast<std::size_t>(row)];
    const bool active = isOutputActive(record);
    StateIcon state = StateIcon::notQueried;
    if (record.responded) {
        state = active ? StateIcon::running : StateIcon::stopped;
    } else if (record.queried) {
        state = StateIcon::silent;
    }
    item.setIcon(0, m_stateIcons[static_cast<std::size_t>(state)]);
    item.setData(0, Qt::UserRole, static_cast<int>(state));
    item.setText(0, QString::number(row + 1));
    item.setText(1, shownMacText(record.macAddress));
    item.setText(2, QString::fromStdString(record.ipAddress.text()));
    item.setText(3, record.queried ? (record.responded ? m_yesText : m_noText) : QString());
    QString output;
    if (record.responded && active) {
        output = QStringLiteral("%1:%2")
                     .arg(QString::fromStdString(
                         Ipv4Address::fromNetworkOrder(record.liveStatus.destinationIp).text()))
                     .arg(record.liveStatus.destinationPort);
    }
    item.setText(4, output);
    const QString tip = rowToolTip(row);
    for (int column = 0; column < kColumnCount; ++column) {
        item.setToolTip(column, tip);
    }
}

QString CDlgMain::rowToolTip(int row) const {
    QStringList lines;
    const DeviceList& devices = m_session->devices();
    const DeviceRecord& record = devices[static_cast<std::size_t>(row)];
    if (m_showDuplicates) {
        QStringList others;
        for (std::size_t other : othersSharingAddress(devices, static_cast<std::size_t>(row))) {
            others << (devices[other].macAddress.empty() ? QStringLiteral("#%1").arg(other + 1)
                                                         : shownMacText(devices[other].macAddress));
        }
        if (!others.isEmpty()) {
            lines << fillTextArguments(uiText(ExtraText::addressAlsoUsed),
                                       {others.join(QStringLiteral(", "))});
        }
    }
    if (m_watch != nullptr && m_watch->active()) {
        lines << m_watch->lastAnswerText(record.ipAddress);
    }
    return lines.join(QLatin1Char('\n'));
}

void CDlgMain::refreshRow(int row) {
    if (QTreeWidgetItem* item = m_table->topLevelItem(row)) {
        fillRow(*item, row);
    }
}

void CDlgMain::refreshRows() {
    for (int row = 0; row < m_table->topLevelItemCount(); ++row) {
        fillRow(*m_table->topLevelItem(row), row);
    }
}

void CDlgMain::updateCommands() {
    const bool local = m_session->hasLocalAddress();
    const bool row = selectedRow() != -1;
    const bool listed = !m_session->devices().empty();
    m_localAddressList->setEnabled(local);
    m_controls[kCheckButton]->setEnabled(local && row);
    m_controls[kCheckAllButton]->setEnabled(local && listed);
    m_watchBox->setEnabled(local && listed);
    m_controls[kIpOutputButton]->setEnabled(local && row);
    m_controls[kAddButton]->setEnabled(local && m_session->canAddDevice());
    m_controls[kRemoveButton]->setEnabled(row);
    m_controls[kPassportButton]->setEnabled(local && row);
}

int CDlgMain::selectedRow() const {
    const QList<QTreeWidgetItem*> selected = m_table->selectedItems();
    return selected.isEmpty() ? -1 : m_table->indexOfTopLevelItem(selected.first());
}

QWidget* CDlgMain::control(int id) const {
    const auto found = m_controls.find(id);
    return found == m_controls.end() ? nullptr : found->second;
}

void CDlgMain::checkSelected() {
    if (deferWhileWatching(&CDlgMain::checkSelected)) {
        return;
    }
    const int row = selectedRow();
    if (row < 0 || !m_session->hasLocalAddress() || m_session->isBusy()) {
        return;
    }
    checkRowReporting(*m_session, *this, row, [this, row](bool) { refreshView(row); });
}

void CDlgMain::checkAll() {
    if (deferWhileWatching(&CDlgMain::checkAll)) {
        return;
    }
    if (!m_session->hasLocalAddress() || m_session->devices().empty() || m_session->isBusy()) {
        return;
    }
    SiteSession::SweepCall call;
    const int total = static_cast<int>(m_session->devices().size());
    for (int row = 0; row < total; ++row) {
        call.rows.push_back(row);
    }
    // The progress window appears after a second; it is modal above the blocked main
    // window, so its Cancel button is the one control that takes input meanwhile.
    auto* progress = new CheckAllProgress(this);
    progress->setWindowModality(Qt::ApplicationModal);
    progress->setProgress(0, total);
    connect(progress, &CheckAllProgress::cancelRequested, this,
            [stop = call.stop] { *stop = true; });
    auto* showProgress = new QTimer(progress);
    showProgress->setSingleShot(true);
    connect(showProgress, &QTimer::timeout, progress, &QWidget::show);
    showProgress->start(kCheckAllProgressDelayMs);

    const QPointer<CheckAllProgress> shownProgress(progress);
    auto finished = std::make_shared<int>(0);  // touched on this thread only
    call.onReading = [=](int, bool) {
        if (shownProgress) {
            shownProgress->setProgress(++*finished, total);
        }
    };
    call.onEnd = [this, progress] {
        delete progress;
        m_showDuplicates = true;
        refreshView(-1);
    };
    m_session->sweep(std::move(call));
}

void CDlgMain::removeSelected() {
    if (deferWhileWatching(&CDlgMain::removeSelected)) {
        return;
    }
    const int row = selectedRow();
    if (row < 0 || m_session->isBusy()) {
        return;
    }
    const std::string address =
        m_session->devices()[static_cast<std::size_t>(row)].ipAddress.text();
    const QString question =
        fillTextArguments(uiText(TextId::removeQuestion), {QString::fromStdString(address)});
    if (showMessageText(this, question, MessageStyle::question) != MessageAnswer::yes) {
        return;
    }
    m_session->removeDevice(row);
}

void CDlgMain::runCommand(const Command& command, int row) {
    if (command && !m_session->isBusy() && m_session->hasLocalAddress()) {
        command(*m_session, *this, row);
    }
}

void CDlgMain::addDevice() {
    if (deferWhileWatching(&CDlgMain::addDevice)) {
        return;
    }
    if (m_session->canAddDevice()) {
        runCommand(m_commands.add, selectedRow());
    }
}

void CDlgMain::ipOutput() {
    if (deferWhileWatching(&CDlgMain::ipOutput)) {
        return;
    }
    if (selectedRow() >= 0) {
        runCommand(m_commands.ipOutput, selectedRow());
    }
}

void CDlgMain::passport() {
    if (deferWhileWatching(&CDlgMain::passport)) {
        return;
    }
    if (selectedRow() >= 0) {
        runCommand(m_commands.passport, selectedRow());
    }
}

bool CDlgMain::deferWhileWatching(void (CDlgMain::*command)()) {
    return m_session->deferWhileSweeping([this, command] { (this->*command)(); });
}

void CDlgMain::onWatchSweepEnded() {
    m_showDuplicates = true;
    refreshRows();
}

void CDlgMain::onWatchToggled(bool ticked) {
    m_session->rememberWatch(ticked);
    m_watch->setActive(ticked);
    refreshRows();
}

void CDlgMain::onLanguageChanged(int index) {
    const bool russian = index == 1;
    applyLanguage(russian);
    applyCaptions();
    m_session->rememberLanguage(russian);
}

void CDlgMain::onLocalAddressChanged(int index) {
    m_session->chooseLocalAddress(index);
    updateCommands();
}

bool CDlgMain::eventFilter(QObject* watched, QEvent* event) {
    // An application filter sees each event once per receiver: the viewport's double
    // click arrives here exactly once.
    if (event->type() == QEvent::MouseButtonDblClick && watched == m_table->viewport()) {
        if (m_session->hasLocalAddress()) {
            // Let the table select the row under the pointer first.
            QTimer::singleShot(0, this, &CDlgMain::ipOutput);
        }
        return false;
    }
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType() ||
        static_cast<QWidget*>(watched)->window() != this) {
        return false;
    }
    // A key goes first to one control and then, unhandled, up through its parents;
    // application filters see every step, but the operator's key must act once. A
    // later step is the same event object arriving at an ancestor of the last receiver.
    auto* key = static_cast<QKeyEvent*>(event);
    auto* receiver = static_cast<QWidget*>(watched);
    const bool propagated = key == m_lastKeyEvent && m_lastKeyReceiver != nullptr &&
                            receiver->isAncestorOf(m_lastKeyReceiver);
    m_lastKeyEvent = key;
    m_lastKeyReceiver = receiver;
    if (propagated) {
        return key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter ||
               key->key() == Qt::Key_Escape;
    }
    switch (key->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
            return true;  // never closes the window, never presses a button
        case Qt::Key_Insert:
            if (m_controls[kAddButton]->isEnabled()) {
                addDevice();
            }
            return false;
        case Qt::Key_Delete:
            removeSelected();
            return false;
        default:
            return false;
    }
}

void CDlgMain::keyPressEvent(QKeyEvent* event) {
    // QDialog would close on Escape and press a default button on Enter.
    if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return ||
        event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CDlgMain::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    const QSize size = event->size();
    if (size.width() <= 1 || size.height() <= 1) {
        return;  // minimized: the controls stay where they are
    }
    const int widthChange = size.width() - m_lastClientSize.width();
    const int heightChange = size.height() - m_lastClientSize.height();
    for (const ControlPlacement& placement : kPlacements) {
        QWidget* widget = m_controls.at(placement.id);
        widget->setGeometry(
            applyResizeRule(widget->geometry(), placement.resizeFlags, widthChange, heightChange));
    }
    update();
    m_lastClientSize = size;
}

void CDlgMain::closeEvent(QCloseEvent* event) {
    if (m_session->isBusy()) {
        event->ignore();
        return;
    }
    savePlacement();
    QDialog::closeEvent(event);
}

void CDlgMain::savePlacement() {
    // The normal placement: a maximized window reports the size it will restore to, and
    // a minimized one keeps the geometry it had before. Left and top are the client
    // area's, so a stored placement brings back exactly this window.
    m_session->rememberPlacement(isMaximized() ? normalGeometry() : geometry());
}

}  // namespace corvane
