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
#include "devices/device_list_storage.h"
#include "reports/address_formats.h"
#include "ui/busy_wait.h"
#include "ui/check_all_progress.h"
#include "ui/dialog_units.h"
#include "ui/language.h"
#include "ui/message_box.h"
#include "ui/resize_rules.h"
#include "ui/state_icons.h"

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
    kWatchBox = 1011,  // beyond the original window: Watch
    kSetupButton = 1009,
    kRemoteButton = 1010,
    kLocalAddressList = 1046,
};

enum TextId : int {
    kTextYes = 10007,
    kTextNo = 10008,
    kTextFirstColumn = 10020,
    kTextRemoveQuestion = 10101,
    kTextNotResponding = 10102,
    kTextNoAdapter = 10115,
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

QString text(int id) {
    return QString::fromStdString(loadText(id));
}

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
      m_settings(settings),
      m_operations(std::move(operations)) {
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
    loadDeviceList(m_settings, m_devices);
    refreshView(-1);
    openLocalAddresses(listAddresses);
    m_watch = new MainWindowWatch(*this);
    connect(m_watch, &MainWindowWatch::sweepEnded, this, &CDlgMain::onWatchSweepEnded);
    updateCommands();
    if (m_settings.readInt("Config", "Watch", 0) != 0) {
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
    const int fallback = systemPrefersRussian() ? 1 : 0;
    const bool russian = m_settings.readInt("Layout", "Language", fallback) != 0;
    applyLanguage(russian);
    m_languageList = new QComboBox(this);
    m_languageList->addItems({QStringLiteral("English"), QStringLiteral("Russian")});
    m_languageList->setCurrentIndex(russian ? 1 : 0);
}

void CDlgMain::createControls() {
    const DialogUnits units(font());
    m_table = new QTreeWidget(this);
    m_table->setRootIsDecorated(false);
    m_table->setItemsExpandable(false);
    m_table->setUniformRowHeights(true);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSortingEnabled(false);
    m_table->header()->setSectionsClickable(false);
    m_table->header()->setStretchLastSection(false);
    m_table->setColumnCount(5);
    m_table->setIconSize(QSize(16, 16));
    for (int column = 0; column < 5; ++column) {
        m_table->setColumnWidth(column, kColumnWidths[column]);
    }
    connect(m_table, &QTreeWidget::itemSelectionChanged, this, &CDlgMain::updateCommands);

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
    static_cast<QPushButton*>(m_controls[kSetupButton])->setText(text(kSetupButton));
    static_cast<QPushButton*>(m_controls[kRemoteButton])->setText(text(kRemoteButton));

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

    auto button = [this](int id) { return static_cast<QPushButton*>(m_controls[id]); };
    connect(button(kCheckButton), &QPushButton::clicked, this, &CDlgMain::checkSelected);
    connect(button(kCheckAllButton), &QPushButton::clicked, this, &CDlgMain::checkAll);
    connect(button(kIpOutputButton), &QPushButton::clicked, this, &CDlgMain::ipOutput);
    connect(button(kAddButton), &QPushButton::clicked, this, &CDlgMain::addDevice);
    connect(button(kRemoveButton), &QPushButton::clicked, this, &CDlgMain::removeSelected);
    connect(button(kPassportButton), &QPushButton::clicked, this, &CDlgMain::passport);
    connect(button(kCloseButton), &QPushButton::clicked, this, &QWidget::close);
    connect(m_languageList, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &CDlgMain::onLanguageChanged);
    connect(m_watchBox, &QCheckBox::toggled, this, &CDlgMain::onWatchToggled);
}

void CDlgMain::applyCaptions() {
    for (int id : kCaptionedButtons) {
        static_cast<QPushButton*>(m_controls.at(id))->setText(text(id));
    }
    QStringList titles;
    for (int column = 0; column < 5; ++column) {
        titles << text(kTextFirstColumn + column);
    }
    m_table->setHeaderLabels(titles);
    m_yesText = text(kTextYes);
    m_noText = text(kTextNo);
    m_watchBox->setText(QString::fromStdString(loadText(static_cast<int>(ExtraText::watch))));
}

void CDlgMain::restorePlacement() {
    const int left = m_settings.readInt("Layout", "Left", -1);
    const int top = m_settings.readInt("Layout", "Top", -1);
    const int width = m_settings.readInt("Layout", "Width", -1);
    const int height = m_settings.readInt("Layout", "Height", -1);
    if (left == -1 || top == -1 || width == -1 || height == -1) {
        return;
    }
    setGeometry(left, top, width, height);
}

void CDlgMain::openLocalAddresses(const AddressLister& listAddresses) {
    listAddresses(m_localAddresses);
    m_localIp = static_cast<std::uint32_t>(m_settings.readInt("Config", "LocalIP", 0));
    const QSignalBlocker blocker(m_localAddressList);
    m_localAddressList->clear();
    if (m_localAddresses.empty()) {
        showMessage(this, kTextNoAdapter, MessageStyle::error);
        m_selectedLocalIndex = -1;
    } else {
        for (const LocalAddress& local : m_localAddresses) {
            m_localAddressList->addItem(QString::fromStdString(formatIpAddress(local.address)));
        }
        m_selectedLocalIndex = -1;
        for (std::size_t i = 0; i < m_localAddresses.size(); ++i) {
            if (m_localAddresses[i].address == m_localIp) {
                m_selectedLocalIndex = static_cast<int>(i);
            }
        }
        if (m_selectedLocalIndex == -1) {
            m_selectedLocalIndex = 0;
            m_localIp = m_localAddresses[0].address;
            m_settings.writeInt("Config", "LocalIP", static_cast<std::int32_t>(m_localIp));
        }
        m_localAddressList->setCurrentIndex(m_selectedLocalIndex);
    }
    connect(m_localAddressList, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &CDlgMain::onLocalAddressChanged, Qt::UniqueConnection);
}

void CDlgMain::refreshView(int row) {
    m_table->setUpdatesEnabled(false);
    m_table->clear();
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(m_devices.size()));
    for (int i = 0; i < static_cast<int>(m_devices.size()); ++i) {
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
    const DeviceRecord& record = m_devices[static_cast<std::size_t>(row)];
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
    item.setText(2, QString::fromStdString(formatIpAddress(record.ipAddress)));
    item.setText(3, record.queried ? (record.responded ? m_yesText : m_noText) : QString());
    QString output;
    if (record.responded && active) {
        output = QStringLiteral("%1:%2")
                     .arg(QString::fromStdString(formatIpAddress(record.liveStatus.destinationIp)))
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
    const DeviceRecord& record = m_devices[static_cast<std::size_t>(row)];
    if (m_showDuplicates) {
        QStringList others;
        for (std::size_t other = 0; other < m_devices.size(); ++other) {
            if (static_cast<int>(other) != row && m_devices[other].ipAddress == record.ipAddress) {
                others << (m_devices[other].macAddress.empty()
                               ? QStringLiteral("#%1").arg(other + 1)
                               : shownMacText(m_devices[other].macAddress));
            }
        }
        if (!others.isEmpty()) {
            lines << fillTextArguments(
                QString::fromStdString(loadText(static_cast<int>(ExtraText::addressAlsoUsed))),
                {others.join(QStringLiteral(", "))});
        }
    }
    if (m_watch != nullptr && m_watch->active()) {
        lines << m_watch->lastAnswerText(record.ipAddress);
    }
    return lines.join(QLatin1Char('\n'));
}

void CDlgMain::refreshRows() {
    for (int row = 0; row < m_table->topLevelItemCount(); ++row) {
        fillRow(*m_table->topLevelItem(row), row);
    }
}

void CDlgMain::updateCommands() {
    const bool local = m_selectedLocalIndex != -1;
    const bool row = selectedRow() != -1;
    m_localAddressList->setEnabled(local);
    m_controls[kCheckButton]->setEnabled(local && row);
    m_controls[kCheckAllButton]->setEnabled(local && !m_devices.empty());
    m_watchBox->setEnabled(local && !m_devices.empty());
    m_controls[kIpOutputButton]->setEnabled(local && row);
    m_controls[kAddButton]->setEnabled(local && m_devices.size() < MAX_DEVICES);
    m_controls[kRemoveButton]->setEnabled(row);
    m_controls[kPassportButton]->setEnabled(local && row);
}

int CDlgMain::selectedRow() const {
    const QList<QTreeWidgetItem*> selected = m_table->selectedItems();
    return selected.isEmpty() ? -1 : m_table->indexOfTopLevelItem(selected.first());
}

LocalAddress CDlgMain::selectedLocalAddress() const {
    if (m_selectedLocalIndex < 0) {
        return {};
    }
    return m_localAddresses[static_cast<std::size_t>(m_selectedLocalIndex)];
}

QWidget* CDlgMain::control(int id) const {
    const auto found = m_controls.find(id);
    return found == m_controls.end() ? nullptr : found->second;
}

void CDlgMain::runBusy(std::function<void()> work, std::function<void()> done) {
    m_busy = true;
    corvane::runBusy(this, std::move(work), [this, done = std::move(done)] {
        m_busy = false;
        done();
    });
}

void CDlgMain::checkRow(int row, bool reportSilence, std::function<void(bool answered)> then) {
    struct Reading {
        bool answered = false;
        StreamSettings reported{};
    };
    auto reading = std::make_shared<Reading>();
    const LocalAddress local = selectedLocalAddress();
    const std::uint32_t deviceIp = m_devices[static_cast<std::size_t>(row)].ipAddress;
    const auto getStreamSettings = m_operations.getStreamSettings;
    runBusy([=] { reading->answered = getStreamSettings(local, deviceIp, reading->reported); },
            [this, row, deviceIp, reportSilence, reading, then = std::move(then)] {
                applyStatusRead(m_devices[static_cast<std::size_t>(row)], reading->answered,
                                reading->reported);
                if (!reading->answered && reportSilence) {
                    showMessage(this, kTextNotResponding, MessageStyle::error);
                }
                if (then) {
                    then(reading->answered);
                }
            });
}

void CDlgMain::checkSelected() {
    if (deferWhileWatching(&CDlgMain::checkSelected)) {
        return;
    }
    const int row = selectedRow();
    if (row < 0 || m_selectedLocalIndex < 0 || m_busy) {
        return;
    }
    checkRow(row, true, [this, row](bool) { refreshView(row); });
}

void CDlgMain::checkAll() {
    if (deferWhileWatching(&CDlgMain::checkAll)) {
        return;
    }
    if (m_selectedLocalIndex < 0 || m_devices.empty() || m_busy) {
        return;
    }
    std::vector<std::uint32_t> targets;
    for (const DeviceRecord& record : m_devices) {
        targets.push_back(record.ipAddress);
    }
    const int total = static_cast<int>(targets.size());
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    // The progress window appears after a second; it is modal above the blocked main
    // window, so its Cancel button is the one control that takes input meanwhile.
    auto* progress = new CheckAllProgress(this);
    progress->setWindowModality(Qt::ApplicationModal);
    progress->setProgress(0, total);
    connect(progress, &CheckAllProgress::cancelRequested, this, [cancelled] { *cancelled = true; });
    auto* showProgress = new QTimer(progress);
    showProgress->setSingleShot(true);
    connect(showProgress, &QTimer::timeout, progress, &QWidget::show);
    showProgress->start(kCheckAllProgressDelayMs);

    // Every module of the list at once, so that the whole command waits for one
    // time-out however many are silent.
    SweepOptions options;
    options.maxInFlight = std::max(options.maxInFlight, targets.size());
    const LocalAddress local = selectedLocalAddress();
    const auto sweep = m_operations.sweepStatus;
    const QPointer<CDlgMain> window(this);
    const QPointer<CheckAllProgress> shownProgress(progress);
    auto finished = std::make_shared<int>(0);  // touched on this thread only
    runBusy(
        [=] {
            sweep(
                local, targets, options,
                [=](std::size_t index, const StatusReading& reading) {
                    const bool answered = reading.outcome == StatusOutcome::answered;
                    const StreamSettings reported = reading.settings;
                    // Applied on the window's thread, as each answer comes.
                    QMetaObject::invokeMethod(
                        window,
                        [=] {
                            window->applyStatusToRow(static_cast<int>(index), answered, reported);
                            if (shownProgress) {
                                shownProgress->setProgress(++*finished, total);
                            }
                        },
                        Qt::QueuedConnection);
                },
                cancelled.get());
        },
        [this, progress] {
            delete progress;
            m_showDuplicates = true;
            refreshView(-1);
        });
}

void CDlgMain::applyStatusToRow(int row, bool answered, const StreamSettings& reported) {
    if (row < 0 || row >= static_cast<int>(m_devices.size())) {
        return;
    }
    applyStatusRead(m_devices[static_cast<std::size_t>(row)], answered, reported);
    m_watch->noteRead(m_devices[static_cast<std::size_t>(row)].ipAddress, answered);
    if (QTreeWidgetItem* item = m_table->topLevelItem(row)) {
        fillRow(*item, row);
    }
}

void CDlgMain::removeSelected() {
    if (deferWhileWatching(&CDlgMain::removeSelected)) {
        return;
    }
    const int row = selectedRow();
    if (row < 0 || m_busy) {
        return;
    }
    const std::string address = formatIpAddress(m_devices[static_cast<std::size_t>(row)].ipAddress);
    const QString question = fillTextArguments(
        QString::fromStdString(loadText(kTextRemoveQuestion)), {QString::fromStdString(address)});
    if (showMessageText(this, question, MessageStyle::question) != MessageAnswer::yes) {
        return;
    }
    m_devices.erase(m_devices.begin() + row);
    saveDeviceList(m_settings, m_devices);
    refreshView(-1);
}

void CDlgMain::addDevice() {
    if (deferWhileWatching(&CDlgMain::addDevice)) {
        return;
    }
    if (m_addCommand && !m_busy && m_selectedLocalIndex >= 0 && m_devices.size() < MAX_DEVICES) {
        m_addCommand(*this);
    }
}

void CDlgMain::ipOutput() {
    if (deferWhileWatching(&CDlgMain::ipOutput)) {
        return;
    }
    if (m_ipOutputCommand && !m_busy && m_selectedLocalIndex >= 0 && selectedRow() >= 0) {
        m_ipOutputCommand(*this);
    }
}

void CDlgMain::passport() {
    if (deferWhileWatching(&CDlgMain::passport)) {
        return;
    }
    if (m_passportCommand && !m_busy && m_selectedLocalIndex >= 0 && selectedRow() >= 0) {
        m_passportCommand(*this);
    }
}

bool CDlgMain::deferWhileWatching(void (CDlgMain::*command)()) {
    if (!m_watch->sweeping() || m_busy) {
        return false;
    }
    // Input stays blocked, under the wait cursor, until the sweep ends (one time-out at
    // most); a command the operator started meanwhile replaces an earlier one.
    if (!m_deferredCommand) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        m_deferredBlocker = std::make_unique<InputBlocker>();
    }
    m_deferredCommand = [this, command] { (this->*command)(); };
    return true;
}

void CDlgMain::onWatchSweepEnded() {
    m_showDuplicates = true;
    refreshRows();
    if (m_deferredCommand) {
        const std::function<void()> command = std::exchange(m_deferredCommand, nullptr);
        m_deferredBlocker.reset();
        QApplication::restoreOverrideCursor();
        command();
    }
}

void CDlgMain::onWatchToggled(bool ticked) {
    m_settings.writeInt("Config", "Watch", ticked ? 1 : 0);
    m_watch->setActive(ticked);
    refreshRows();
}

void CDlgMain::onLanguageChanged(int index) {
    const bool russian = index == 1;
    applyLanguage(russian);
    applyCaptions();
    m_settings.writeInt("Layout", "Language", russian ? 1 : 0);
}

void CDlgMain::onLocalAddressChanged(int index) {
    if (index < 0 || index >= static_cast<int>(m_localAddresses.size())) {
        return;
    }
    m_selectedLocalIndex = index;
    m_localIp = m_localAddresses[static_cast<std::size_t>(index)].address;
    m_settings.writeInt("Config", "LocalIP", static_cast<std::int32_t>(m_localIp));
    updateCommands();
}

bool CDlgMain::eventFilter(QObject* watched, QEvent* event) {
    // An application filter sees each event once per receiver: the viewport's double
    // click arrives here exactly once.
    if (event->type() == QEvent::MouseButtonDblClick && watched == m_table->viewport()) {
        if (m_selectedLocalIndex != -1) {
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
    if (m_busy) {
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
    const QRect placement = isMaximized() ? normalGeometry() : geometry();
    SettingsBatch batch;
    batch.writeInt("Layout", "Left", placement.left());
    batch.writeInt("Layout", "Top", placement.top());
    batch.writeInt("Layout", "Width", placement.width());
    batch.writeInt("Layout", "Height", placement.height());
    m_settings.write(batch);
}

}  // namespace corvane
