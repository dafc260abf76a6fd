#include <QAbstractButton>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QWindow>
#include <QtTest>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <future>
#include <memory>
#include <string_view>
#include <vector>

#include "net/fake_search_system.h"
#include "net/protocol_messages.h"
#include "packed_value.h"
#include "reports/address_formats.h"
#include "ui/add_device_wizard.h"
#include "ui/ip_address_edit.h"
#include "ui/language.h"
#include "ui/message_box.h"
#include "ui/page_add_configure.h"
#include "ui/page_add_list.h"
#include "ui/window_input.h"

using namespace corvane;

namespace {

struct Message {
    QString text;
    MessageStyle style;
};

// The segment under the wizard's real search and settings broadcast, on a scripted clock
// (tests/net/fake_search_system.h): the modules answer each search on socket A, and
// nothing is sent or awaited for real. The operations run on a worker thread; the tests
// look at the scripted system only once the wizard is idle again.
struct ScriptedSegment {
    test::FakeSearchSystem system;
    std::atomic<int> searches{0};
    std::atomic<int> settingsSends{0};
    // No search of the core fails after collecting; the page keeps what such a search
    // found all the same, which this stand-in shows.
    bool failAfterCollecting = false;

    void answerWith(const std::vector<DeviceHello>& modules) {
        system.replies[0].clear();
        for (std::size_t i = 0; i < modules.size(); ++i) {
            system.replies[0].push_back(
                {static_cast<int>(10 * (i + 1)), test::helloBytes(modules[i]), 0});
        }
    }
    // Neither socket can be made (the adapter has gone): the search fails at once.
    void breakSockets(bool broken) {
        system.openError =
            broken ? std::array<int, 2>{EADDRNOTAVAIL, EADDRNOTAVAIL} : std::array<int, 2>{};
    }
    // The datagrams sent with tag `tag`, each (local address, bytes).
    std::vector<test::FakeSearchSystem::Sent> sentWithTag(std::string_view tag) const {
        std::vector<test::FakeSearchSystem::Sent> found;
        for (const auto& sent : system.sent) {
            if (sent.bytes.size() >= tag.size() &&
                std::equal(tag.begin(), tag.end(), sent.bytes.begin())) {
                found.push_back(sent);
            }
        }
        return found;
    }

    DeviceOperations operations(const std::shared_ptr<ScriptedSegment>& self) {
        DeviceOperations ops;
        ops.searchDevices = [self](const LocalAddress& adapter, std::uint16_t deviceClass,
                                   std::vector<DeviceHello>& found) {
            ++self->searches;
            const bool searched = searchDevicesOver(self->system, adapter, deviceClass, found);
            return searched && !self->failAfterCollecting;
        };
        ops.setNetworkSettings = [self](const LocalAddress& adapter, const MacAddress& mac,
                                        Ipv4Address ip, Ipv4Address mask, Ipv4Address gateway) {
            ++self->settingsSends;
            return setNetworkSettingsOver(self->system, adapter, mac, ip, mask, gateway);
        };
        return ops;
    }
};

Ipv4Address ip(const char* dotted) {
    const QStringList parts = QString::fromLatin1(dotted).split(QLatin1Char('.'));
    return Ipv4Address::fromOctets(static_cast<std::uint8_t>(parts.value(0).toUInt()),
                                   static_cast<std::uint8_t>(parts.value(1).toUInt()),
                                   static_cast<std::uint8_t>(parts.value(2).toUInt()),
                                   static_cast<std::uint8_t>(parts.value(3).toUInt()));
}

DeviceHello module(MacAddress mac, const char* address, const char* mask = "255.255.255.0",
                   const char* gateway = "192.168.0.1") {
    DeviceHello hello;
    hello.tag = {'W', 'i', 'Z', 'n', 'H', 'e', 'L', 'o'};
    hello.mac = mac;
    hello.ipAddress = ip(address).networkOrder();
    hello.networkMask = ip(mask).networkOrder();
    hello.defaultGateway = ip(gateway).networkOrder();
    hello.deviceClass = {0, 3};
    return hello;
}

// The offscreen platform warns each time a window's size limits change; only noise here.
QtMessageHandler g_testlibHandler = nullptr;
void dropSizeHintNoise(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (text.contains(QLatin1String("does not support propagateSizeHints"))) {
        return;
    }
    g_testlibHandler(type, context, text);
}

// A click that the window system delivers while the caller's thread goes on (the
// search's worker thread): press and release reach the wizard during the search.
void clickFromAnotherThread(QWidget* target) {
    QMetaObject::invokeMethod(
        target,
        [target] {
            testing::sendMouse(target, testing::centreOf(target), QEvent::MouseButtonPress);
            testing::sendMouse(target, testing::centreOf(target), QEvent::MouseButtonRelease);
        },
        Qt::QueuedConnection);
}

const LocalAddress kAdapter{ip("192.168.0.2"), ip("255.255.255.0"), 0};

// One wizard as the main window sets it up: two devices already listed.
struct Harness {
    std::shared_ptr<ScriptedSegment> network = std::make_shared<ScriptedSegment>();
    std::unique_ptr<CAddDeviceWizard> wizard;

    explicit Harness(const std::vector<DeviceHello>& modules, bool searchSucceeds = true) {
        network->answerWith(modules);
        network->breakSockets(!searchSucceeds);
        wizard = std::make_unique<CAddDeviceWizard>(nullptr, network->operations(network));
        wizard->localAdapter = kAdapter;
        wizard->searchClass = 3;
        wizard->listedAddresses = {ip("192.168.0.20"), ip("192.168.0.21")};
        wizard->listedMacs = {"11:22:33:44:55:66"};
    }

    int searches() const { return network->searches; }
    // The network settings broadcasts that went out (read once idle).
    std::vector<test::FakeSearchSystem::Sent> sent() const {
        return network->sentWithTag(kNetworkSettingsTag);
    }

    // Shows the wizard and waits for the automatic first search to be shown.
    bool start() {
        wizard->show();
        return QTest::qWaitFor([this] { return searches() == 1; }, 2000) && idle();
    }
    // No search and no settings send under way.
    bool idle() {
        return QTest::qWaitFor(
            [this] {
                return !wizard->listPage()->searching() &&
                       (wizard->configurePage() == nullptr || !wizard->configurePage()->sending());
            },
            2000);
    }

    QTreeWidget* list() const { return wizard->findChild<QTreeWidget*>("deviceList"); }
    QCheckBox* enterDirectlyBox() const {
        return wizard->findChild<QCheckBox*>("enterDirectlyBox");
    }
    QPushButton* refresh() const { return wizard->findChild<QPushButton*>("refreshButton"); }
    CIpAddressEdit* field(const char* name) const {
        return wizard->findChild<CIpAddressEdit*>(name);
    }

    void click(QWizard::WizardButton which) {
        QTest::mouseClick(wizard->button(which), Qt::LeftButton);
        QVERIFY(idle());
    }
    void clickRefresh() {
        QTest::mouseClick(refresh(), Qt::LeftButton);
        QVERIFY(idle());
    }
    void clickRow(int row) {
        QTreeWidget* view = list();
        const QRect rect = view->visualItemRect(view->topLevelItem(row));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rect.center());
    }
    void clickEnterDirectly() {
        QCheckBox* box = enterDirectlyBox();
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
    }

    QStringList rows() const {
        QStringList texts;
        QTreeWidget* view = list();
        for (int i = 0; i < view->topLevelItemCount(); ++i) {
            texts << view->topLevelItem(i)->text(0) + QLatin1Char('|') +
                         view->topLevelItem(i)->text(1);
        }
        return texts;
    }

    // "B N F C": each button as 1 (enabled), 0 (disabled) or - (not shown).
    QString buttonStates() const {
        QString states;
        for (const auto which : {QWizard::BackButton, QWizard::NextButton, QWizard::FinishButton,
                                 QWizard::CancelButton}) {
            const QAbstractButton* b = wizard->button(which);
            states += !b->isVisible()  ? QLatin1Char('-')
                      : b->isEnabled() ? QLatin1Char('1')
                                       : QLatin1Char('0');
        }
        return states;
    }
};

// Types a dotted address octet by octet; fewer parts leave the rest blank.
void typeAddress(CIpAddressEdit* field, const QString& dotted) {
    field->clear();
    const QStringList parts = dotted.split(QLatin1Char('.'), Qt::SkipEmptyParts);
    for (int i = 0; i < parts.size(); ++i) {
        auto* octet = field->findChild<QLineEdit*>(QStringLiteral("octet%1").arg(i));
        QTest::keyClicks(octet, parts[i]);
    }
}

QString fieldText(const CIpAddressEdit* field) {
    return QString::fromStdString(Ipv4Address::fromHostOrder(field->address()).text());
}

const MacAddress kMacA0 = {0xA0, 0x00, 0x00, 0x00, 0x00, 0x01};
const MacAddress kMac0A = {0x0A, 0x00, 0x00, 0x00, 0x00, 0x02};
const MacAddress kMac001A = {0x00, 0x1A, 0x00, 0x00, 0x00, 0x03};
const MacAddress kMacListed = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
const MacAddress kMacZero = {};

std::vector<DeviceHello> threeModules() {
    return {module(kMacA0, "192.168.0.30"), module(kMac0A, "192.168.0.31"),
            module(kMac001A, "192.168.0.32")};
}

}  // namespace

Q_DECLARE_METATYPE(MessageStyle)

class AddDeviceWizardTest : public QObject {
    Q_OBJECT

private:
    QList<Message> m_messages;

    int messageCount() const { return static_cast<int>(m_messages.size()); }

private slots:
    void initTestCase() { g_testlibHandler = qInstallMessageHandler(dropSizeHintNoise); }

    void init() {
        applyLanguage(false);
        m_messages.clear();
        setMessageHandler([this](const QString& text, MessageStyle style) {
            m_messages.append({text, style});
            return MessageAnswer::ok;
        });
    }
    void cleanup() {
        setMessageHandler({});
        applyLanguage(false);
    }

    void firstSearchListsNewModulesInMacOrder() {
        Harness h({module(kMacA0, "192.168.0.30"), module(kMacListed, "192.168.0.20"),
                   module(kMac0A, "10.1.2.3"), module(kMacZero, "192.168.0.99"),
                   module(kMac001A, "172.16.0.254")});
        QCOMPARE(h.searches(), 0);  // nothing is searched before the wizard shows
        QVERIFY(h.start());

        // The search request for class 3 went out from the adapter on both sockets.
        const Request request = buildSearchRequest(3);
        const auto searches = h.network->sentWithTag(kSearchRequestTag);
        QCOMPARE(searches.size(), std::size_t{2});
        for (const auto& sent : searches) {
            QCOMPARE(sent.local, kAdapter.address);
            QVERIFY(
                std::equal(request.begin(), request.end(), sent.bytes.begin(), sent.bytes.end()));
        }
        // The listed MAC is dropped; the all-zero MAC has an empty text and sorts first.
        QCOMPARE(h.rows(), QStringList({QStringLiteral("|192.168.0.99"),
                                        QStringLiteral("00:1A:00:00:00:03|172.16.0.254"),
                                        QStringLiteral("0A:00:00:00:00:02|10.1.2.3"),
                                        QStringLiteral("A0:00:00:00:00:01|192.168.0.30")}));
        QCOMPARE(h.list()->headerItem()->text(0), QStringLiteral("MAC"));
        QCOMPARE(h.list()->headerItem()->text(1), QStringLiteral("IP"));
        QCOMPARE(h.list()->columnWidth(0), 140);
        QCOMPARE(h.list()->columnWidth(1), 140);
        QCOMPARE(h.wizard->windowTitle(), QStringLiteral("Add device"));
        QCOMPARE(h.buttonStates(), QStringLiteral("00-1"));  // no row selected yet
        QCOMPARE(messageCount(), 0);
    }

    void searchOutcome_data() {
        QTest::addColumn<int>("moduleCount");
        QTest::addColumn<bool>("succeeds");
        QTest::addColumn<int>("expectedRows");
        QTest::addColumn<bool>("expectError");

        QTest::newRow("nothing found") << 0 << true << 0 << false;
        QTest::newRow("failure, nothing found") << 0 << false << 0 << true;
        QTest::newRow("failure keeps the rows found") << 3 << false << 3 << true;
    }
    void searchOutcome() {
        QFETCH(int, moduleCount);
        QFETCH(bool, succeeds);
        QFETCH(int, expectedRows);
        QFETCH(bool, expectError);

        std::vector<DeviceHello> modules = threeModules();
        modules.resize(static_cast<std::size_t>(moduleCount));
        // Sockets that cannot be made fail a search before it finds anything.
        const bool afterCollecting = !succeeds && moduleCount > 0;
        Harness h(modules, succeeds || afterCollecting);
        h.network->failAfterCollecting = afterCollecting;
        QVERIFY(h.start());

        QCOMPARE(h.list()->topLevelItemCount(), expectedRows);
        QCOMPARE(h.buttonStates(), QStringLiteral("00-1"));
        if (expectError) {
            QCOMPARE(messageCount(), 1);
            QCOMPARE(
                m_messages[0].text,
                QStringLiteral("Ethernet adapter on this computer is not functioning properly!"));
            QCOMPARE(m_messages[0].style, MessageStyle::error);
        } else {
            QCOMPARE(messageCount(), 0);
        }
        // The page stays usable: Refresh searches again and the rows can be picked.
        h.network->breakSockets(false);
        h.network->failAfterCollecting = false;
        h.network->answerWith(threeModules());
        h.clickRefresh();
        QCOMPARE(h.searches(), 2);
        QCOMPARE(h.list()->topLevelItemCount(), 3);
        QCOMPARE(messageCount(), expectError ? 1 : 0);
    }

    void firstSearchRunsOncePerWizard() {
        Harness h(threeModules());
        QVERIFY(h.start());
        h.clickRow(1);
        h.click(QWizard::NextButton);
        QCOMPARE(h.wizard->currentId(), int{CAddDeviceWizard::kConfigurePage});
        h.click(QWizard::BackButton);
        QCOMPARE(h.wizard->currentId(), int{CAddDeviceWizard::kListPage});
        QTest::qWait(100);  // ten times the first search's delay

        QCOMPARE(h.searches(), 1);
        QCOMPARE(h.rows().size(), 3);
        QCOMPARE(h.wizard->listPage()->selectedRow(), 1);
        QVERIFY(h.list()->topLevelItem(1)->isSelected());
        QCOMPARE(h.buttonStates(), QStringLiteral("01-1"));

        // Refresh searches again and starts with no row selected.
        h.clickRefresh();
        QCOMPARE(h.searches(), 2);
        QCOMPARE(h.wizard->listPage()->selectedRow(), -1);
        QCOMPARE(h.buttonStates(), QStringLiteral("00-1"));
    }

    // Clicks that arrive while a search runs are discarded, not queued for afterwards,
    // and leave nothing half-pressed behind.
    void inputDuringSearchIsDiscarded() {
        Harness h(threeModules());
        QWidget* cancel = h.wizard->button(QWizard::CancelButton);
        // At the search's first wait: the click, then a call queued behind it on the
        // wizard's thread, which the search waits for: the click has been delivered while
        // the search still runs.
        auto delivered = std::make_shared<std::promise<void>>();
        h.network->system.onWait = [cancel, delivered, first = true]() mutable {
            if (!std::exchange(first, false)) {
                return;
            }
            clickFromAnotherThread(cancel);
            QMetaObject::invokeMethod(
                cancel, [delivered] { delivered->set_value(); }, Qt::QueuedConnection);
            delivered->get_future().wait();
        };
        QVERIFY(h.start());
        QTest::qWait(50);
        QVERIFY(h.wizard->isVisible());
        QCOMPARE(h.rows().size(), 3);
        QVERIFY(!static_cast<QAbstractButton*>(cancel)->isDown());

        h.network->system.onWait = nullptr;
        testing::personClick(cancel);  // the same click outside a search does cancel
        QTRY_VERIFY(!h.wizard->isVisible());
    }

    void checkBoxRule() {
        Harness h(threeModules());
        QVERIFY(h.start());
        h.clickRow(2);
        QCOMPARE(h.buttonStates(), QStringLiteral("01-1"));

        h.clickEnterDirectly();
        QVERIFY(h.enterDirectlyBox()->isChecked());
        QVERIFY(h.list()->selectedItems().isEmpty());
        QVERIFY(!h.list()->currentIndex().isValid());
        QCOMPARE(h.wizard->listPage()->selectedRow(), -1);
        QVERIFY(!h.list()->isEnabled());
        QVERIFY(!h.refresh()->isEnabled());
        QCOMPARE(h.buttonStates(), QStringLiteral("01-1"));

        h.clickEnterDirectly();
        QVERIFY(!h.enterDirectlyBox()->isChecked());
        QVERIFY(h.list()->isEnabled());
        QVERIFY(h.refresh()->isEnabled());
        QCOMPARE(h.buttonStates(), QStringLiteral("00-1"));

        h.clickRow(0);
        QCOMPARE(h.buttonStates(), QStringLiteral("01-1"));
    }

    void navigation_data() {
        QTest::addColumn<bool>("enterDirectly");
        QTest::addColumn<int>("middlePage");

        QTest::newRow("typed address") << true << int{CAddDeviceWizard::kDirectPage};
        QTest::newRow("module from the list") << false << int{CAddDeviceWizard::kConfigurePage};
    }
    void navigation() {
        QFETCH(bool, enterDirectly);
        QFETCH(int, middlePage);

        Harness h(threeModules());
        QVERIFY(h.start());
        auto chooseAndGoOn = [&] {
            if (enterDirectly) {
                h.clickEnterDirectly();
            } else {
                h.clickRow(0);
            }
            h.click(QWizard::NextButton);
        };
        chooseAndGoOn();
        QCOMPARE(h.wizard->currentId(), middlePage);
        QCOMPARE(h.buttonStates(), QStringLiteral("11-1"));

        h.click(QWizard::BackButton);
        QCOMPARE(h.wizard->currentId(), int{CAddDeviceWizard::kListPage});
        QCOMPARE(h.enterDirectlyBox()->isChecked(), enterDirectly);
        QCOMPARE(h.buttonStates(), QStringLiteral("01-1"));

        h.click(QWizard::NextButton);
        QCOMPARE(h.wizard->currentId(), middlePage);
        if (enterDirectly) {
            typeAddress(h.field("addressEdit"), QStringLiteral("192.168.0.77"));
        }
        h.click(QWizard::NextButton);
        QCOMPARE(h.wizard->currentId(), int{CAddDeviceWizard::kFinishPage});
        QVERIFY(h.wizard->deviceAdded);
        // Finish alone: Back and Cancel disabled, Next gone.
        QCOMPARE(h.buttonStates(), QStringLiteral("0-10"));
        QCOMPARE(h.wizard->findChild<QLabel*>("finishText")->text(),
                 QStringLiteral("Device succesfully added to list!"));

        h.click(QWizard::BackButton);
        h.click(QWizard::CancelButton);
        QCOMPARE(h.wizard->currentId(), int{CAddDeviceWizard::kFinishPage});
        QVERIFY(h.wizard->isVisible());
        h.click(QWizard::FinishButton);
        QVERIFY(!h.wizard->isVisible());
        QCOMPARE(h.wizard->result(), int{QDialog::Accepted});
        QVERIFY(h.wizard->deviceAdded);
        QCOMPARE(h.searches(), 1);
    }

    void cancelLeavesNothingAdded_data() {
        QTest::addColumn<int>("page");
        QTest::newRow("list") << int{CAddDeviceWizard::kListPage};
        QTest::newRow("direct") << int{CAddDeviceWizard::kDirectPage};
        QTest::newRow("configure") << int{CAddDeviceWizard::kConfigurePage};
    }
    void cancelLeavesNothingAdded() {
        QFETCH(int, page);
        Harness h(threeModules());
        QVERIFY(h.start());
        h.clickRow(0);
        if (page == CAddDeviceWizard::kDirectPage) {
            h.clickEnterDirectly();
            h.click(QWizard::NextButton);
            typeAddress(h.field("addressEdit"), QStringLiteral("192.168.0.77"));
        } else if (page == CAddDeviceWizard::kConfigurePage) {
            h.click(QWizard::NextButton);
            typeAddress(h.field("ipAddressEdit"), QStringLiteral("192.168.0.78"));
        }
        QCOMPARE(h.wizard->currentId(), page);
        h.click(QWizard::CancelButton);
        QVERIFY(!h.wizard->isVisible());
        QCOMPARE(h.wizard->result(), int{QDialog::Rejected});
        QVERIFY(!h.wizard->deviceAdded);
        QVERIFY(h.sent().empty());
    }

    void enterEscapeAndCloseDoNothing_data() {
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("key");

        const int list = CAddDeviceWizard::kListPage;
        const int direct = CAddDeviceWizard::kDirectPage;
        const int finish = CAddDeviceWizard::kFinishPage;
        for (const int key : {int{Qt::Key_Return}, int{Qt::Key_Enter}, int{Qt::Key_Escape}}) {
            const QByteArray k = QByteArray::number(key, 16);
            QTest::newRow("list view " + k) << list << QStringLiteral("deviceList") << key;
            QTest::newRow("check box " + k) << list << QStringLiteral("enterDirectlyBox") << key;
            QTest::newRow("refresh " + k) << list << QStringLiteral("refreshButton") << key;
            QTest::newRow("next button " + k) << list << QStringLiteral("next") << key;
            QTest::newRow("address field " + k) << direct << QStringLiteral("octet3") << key;
            QTest::newRow("finish button " + k) << finish << QStringLiteral("finish") << key;
        }
    }
    void enterEscapeAndCloseDoNothing() {
        QFETCH(int, page);
        QFETCH(QString, focus);
        QFETCH(int, key);

        Harness h(threeModules());
        QVERIFY(h.start());
        h.clickRow(0);  // Next is enabled, so a default button would be pressed
        if (page != CAddDeviceWizard::kListPage) {
            h.clickEnterDirectly();
            h.click(QWizard::NextButton);
            typeAddress(h.field("addressEdit"), QStringLiteral("192.168.0.77"));
        }
        if (page == CAddDeviceWizard::kFinishPage) {
            h.click(QWizard::NextButton);
        }
        QCOMPARE(h.wizard->currentId(), page);

        QWidget* target = focus == QLatin1String("next") ? h.wizard->button(QWizard::NextButton)
                          : focus == QLatin1String("finish")
                              ? h.wizard->button(QWizard::FinishButton)
                              : h.wizard->findChild<QWidget*>(focus);
        QVERIFY(target != nullptr);
        QTest::keyClick(target, static_cast<Qt::Key>(key));
        QCOMPARE(h.searches(), 1);  // not even the focused Refresh button is pressed

        QVERIFY(h.wizard->isVisible());
        QCOMPARE(h.wizard->currentId(), page);
        QCOMPARE(h.wizard->result(), 0);
        QCOMPARE(h.wizard->deviceAdded, page == CAddDeviceWizard::kFinishPage);

        // The close box: both through the widget and as the desktop asks the window.
        QVERIFY(!h.wizard->close());
        QVERIFY(!h.wizard->windowHandle()->close());
        QVERIFY(h.wizard->isVisible());
        QCOMPARE(h.wizard->currentId(), page);
        QCOMPARE(messageCount(), 0);
    }

    void directPage_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("message");
        QTest::addColumn<MessageStyle>("style");
        QTest::addColumn<bool>("finishes");

        const QString invalid = QStringLiteral("Invalid IP address!");
        const QString used = QStringLiteral("Selected IP address is already used!");
        const auto error = MessageStyle::error;
        QTest::newRow("loopback") << "127.0.0.1" << invalid << error << false;
        QTest::newRow("subnet's own") << "192.168.1.0" << invalid << error << false;
        QTest::newRow("multicast") << "224.0.0.1" << invalid << error << false;
        QTest::newRow("broadcast last octet") << "10.0.0.255" << invalid << error << false;
        QTest::newRow("first octet 0") << "0.1.2.3" << invalid << error << false;
        QTest::newRow("listed") << "192.168.0.21" << used << MessageStyle::warning << false;
        QTest::newRow("three parts") << "192.168.1" << QString() << error << false;
        QTest::newRow("blank") << "" << QString() << error << false;
        QTest::newRow("all zero") << "0.0.0.0" << QString() << error << false;
        QTest::newRow("new address") << "192.168.1.77" << QString() << error << true;
    }
    void directPage() {
        QFETCH(QString, typed);
        QFETCH(QString, message);
        QFETCH(MessageStyle, style);
        QFETCH(bool, finishes);

        Harness h(threeModules());
        QVERIFY(h.start());
        h.clickEnterDirectly();
        h.click(QWizard::NextButton);
        QCOMPARE(h.wizard->currentId(), int{CAddDeviceWizard::kDirectPage});
        typeAddress(h.field("addressEdit"), typed);
        h.click(QWizard::NextButton);

        if (message.isEmpty()) {
            QCOMPARE(messageCount(), 0);
        } else {
            QCOMPARE(messageCount(), 1);
            QCOMPARE(m_messages[0].text, message);
            QCOMPARE(m_messages[0].style, style);
        }
        QCOMPARE(h.wizard->currentId(),
                 int{finishes ? CAddDeviceWizard::kFinishPage : CAddDeviceWizard::kDirectPage});
        QCOMPARE(h.wizard->deviceAdded, finishes);
        if (finishes) {
            QCOMPARE(Ipv4Address::fromNetworkOrder(h.wizard->candidate.ipAddress),
                     ip(typed.toLatin1().constData()));
            QCOMPARE(h.wizard->candidate.mac, kMacZero);
        } else {
            QCOMPARE(packed(h.wizard->candidate.ipAddress), 0u);
            QCOMPARE(h.buttonStates(), QStringLiteral("11-1"));
        }
        QVERIFY(h.sent().empty());
    }

    // A found module whose address another found module, or a listed one with another
    // MAC, already has carries a warning; it can still be taken.
    void sharedAddressesAreMarked() {
        const MacAddress second = {0xA0, 0x00, 0x00, 0x00, 0x00, 0x02};
        const MacAddress third = {0xA0, 0x00, 0x00, 0x00, 0x00, 0x03};
        Harness h({module(kMacA0, "192.168.0.30"), module(second, "192.168.0.30"),
                   module(third, "192.168.0.20"), module(kMac0A, "192.168.0.21"),
                   module(kMac001A, "192.168.0.40")});
        h.wizard->listedDevices = {{ip("192.168.0.20"), "11:22:33:44:55:66"},
                                   {ip("192.168.0.21"), ""}};  // no MAC: may be the same one
        QVERIFY(h.start());
        QStringList tips;
        for (int row = 0; row < h.list()->topLevelItemCount(); ++row) {
            const QTreeWidgetItem* item = h.list()->topLevelItem(row);
            QCOMPARE(item->icon(1).isNull(), item->toolTip(0).isEmpty());
            QCOMPARE(item->toolTip(1), item->toolTip(0));
            tips << item->text(0) + QLatin1String(": ") + item->toolTip(0);
        }
        QCOMPARE(tips, QStringList({QStringLiteral("00:1A:00:00:00:03: "),
                                    QStringLiteral("0A:00:00:00:00:02: "),
                                    QStringLiteral("A0:00:00:00:00:01: Address also used by "
                                                   "A0:00:00:00:00:02"),
                                    QStringLiteral("A0:00:00:00:00:02: Address also used by "
                                                   "A0:00:00:00:00:01"),
                                    QStringLiteral("A0:00:00:00:00:03: Address also used by "
                                                   "11:22:33:44:55:66")}));
        h.clickRow(2);
        QCOMPARE(h.buttonStates(), QStringLiteral("01-1"));
    }

    // A row taken earlier must not lend its MAC to an address typed afterwards.
    void typedAddressAfterTakingRowHasNoMac() {
        Harness h(threeModules());
        QVERIFY(h.start());
        h.clickRow(2);
        h.click(QWizard::NextButton);
        QCOMPARE(h.wizard->candidate.mac, kMacA0);
        h.click(QWizard::BackButton);
        h.clickEnterDirectly();
        h.click(QWizard::NextButton);
        typeAddress(h.field("addressEdit"), QStringLiteral("192.168.5.6"));
        h.click(QWizard::NextButton);

        QCOMPARE(h.wizard->currentId(), int{CAddDeviceWizard::kFinishPage});
        QCOMPARE(h.wizard->candidate.mac, kMacZero);
        QCOMPARE(Ipv4Address::fromNetworkOrder(h.wizard->candidate.ipAddress), ip("192.168.5.6"));
        QCOMPARE(packed(h.wizard->candidate.networkMask), 0u);
        QCOMPARE(packed(h.wizard->candidate.defaultGateway), 0u);
        QVERIFY(h.sent().empty());
    }

    void configurePage_data() {
        QTest::addColumn<QString>("newIp");
        QTest::addColumn<QString>("mask");
        QTest::addColumn<QString>("gateway");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("finishes");
        QTest::addColumn<bool>("sends");
        QTest::addColumn<bool>("sendFails");

        // The module from the search: 192.168.0.31 / 255.255.255.0 / 192.168.0.1.
        const QString invalid = QStringLiteral("Invalid IP address!");
        const QString used = QStringLiteral("Selected IP address is already used!");
        QTest::newRow("unchanged") << "192.168.0.31"
                                   << "255.255.255.0"
                                   << "192.168.0.1" << QString() << true << false << false;
        QTest::newRow("gateway only") << "192.168.0.31"
                                      << "255.255.255.0"
                                      << "192.168.0.254" << QString() << true << true << false;
        QTest::newRow("all three") << "10.0.0.5"
                                   << "255.0.0.0"
                                   << "10.0.0.1" << QString() << true << true << false;
        QTest::newRow("zero mask and gateway") << "192.168.0.31"
                                               << "0.0.0.0"
                                               << "0.0.0.0" << QString() << true << true << false;
        QTest::newRow("invalid address") << "192.168.0.255"
                                         << "255.255.255.0"
                                         << "192.168.0.1" << invalid << false << false << false;
        QTest::newRow("listed address") << "192.168.0.20"
                                        << "255.255.255.0"
                                        << "192.168.0.1" << used << false << false << false;
        QTest::newRow("zero address") << "0.0.0.0"
                                      << "255.255.255.0"
                                      << "192.168.0.1" << QString() << false << false << false;
        QTest::newRow("incomplete mask") << "192.168.0.31"
                                         << "255.255.255"
                                         << "192.168.0.1" << QString() << false << false << false;
        // Not one datagram could be sent: the operator is told and stays on the page.
        QTest::newRow("nothing sent")
            << "10.0.0.5"
            << "255.0.0.0"
            << "10.0.0.1" << QStringLiteral("Error sending command to device!") << false << true
            << true;
        QTest::newRow("blank gateway") << "192.168.0.31"
                                       << "255.255.255.0"
                                       << "" << QString() << false << false << false;
    }
    void configurePage() {
        QFETCH(QString, newIp);
        QFETCH(QString, mask);
        QFETCH(QString, gateway);
        QFETCH(QString, message);
        QFETCH(bool, finishes);
        QFETCH(bool, sends);
        QFETCH(bool, sendFails);

        Harness h(threeModules());
        QVERIFY(h.start());
        if (sendFails) {
            h.network->system.sendError = {EACCES, EACCES};
        }
        h.clickRow(1);  // 0A:00:00:00:00:02, 192.168.0.31
        h.click(QWizard::NextButton);
        QCOMPARE(h.wizard->currentId(), int{CAddDeviceWizard::kConfigurePage});
        QCOMPARE(fieldText(h.field("ipAddressEdit")), QStringLiteral("192.168.0.31"));
        QCOMPARE(fieldText(h.field("networkMaskEdit")), QStringLiteral("255.255.255.0"));
        QCOMPARE(fieldText(h.field("defaultGatewayEdit")), QStringLiteral("192.168.0.1"));

        typeAddress(h.field("ipAddressEdit"), newIp);
        typeAddress(h.field("networkMaskEdit"), mask);
        typeAddress(h.field("defaultGatewayEdit"), gateway);
        h.click(QWizard::NextButton);

        QCOMPARE(messageCount(), message.isEmpty() ? 0 : 1);
        if (!message.isEmpty()) {
            QCOMPARE(m_messages[0].text, message);
            QCOMPARE(m_messages[0].style, message.contains(QLatin1String("used"))
                                              ? MessageStyle::warning
                                              : MessageStyle::error);
        }
        QCOMPARE(h.wizard->currentId(),
                 int{finishes ? CAddDeviceWizard::kFinishPage : CAddDeviceWizard::kConfigurePage});
        QCOMPARE(h.wizard->deviceAdded, finishes);

        // One broadcast tried; when it could be sent, one copy from the adapter per socket.
        QCOMPARE(h.network->settingsSends.load(), sends ? 1 : 0);
        const auto sent = h.sent();
        QCOMPARE(sent.size(), std::size_t{sends && !sendFails ? 2u : 0u});
        const Request request = buildNetworkSettingsRequest(
            kMac0A, ip(newIp.toLatin1().constData()), ip(mask.toLatin1().constData()),
            ip(gateway.toLatin1().constData()));
        for (const auto& copy : sent) {
            QCOMPARE(copy.local, kAdapter.address);
            QVERIFY(
                std::equal(request.begin(), request.end(), copy.bytes.begin(), copy.bytes.end()));
        }
        if (finishes) {
            // The main window takes the new address from the candidate.
            QCOMPARE(h.wizard->candidate.mac, kMac0A);
            QCOMPARE(Ipv4Address::fromNetworkOrder(h.wizard->candidate.ipAddress),
                     ip(newIp.toLatin1().constData()));
            QCOMPARE(Ipv4Address::fromNetworkOrder(h.wizard->candidate.networkMask),
                     ip(mask.toLatin1().constData()));
            QCOMPARE(Ipv4Address::fromNetworkOrder(h.wizard->candidate.defaultGateway),
                     ip(gateway.toLatin1().constData()));
        } else {
            QCOMPARE(Ipv4Address::fromNetworkOrder(h.wizard->candidate.ipAddress),
                     ip("192.168.0.31"));
            QCOMPARE(Ipv4Address::fromNetworkOrder(h.wizard->candidate.defaultGateway),
                     ip("192.168.0.1"));
        }
    }

    // The fields show the candidate afresh each time the page is entered.
    void configureFieldsFollowTheChosenRow() {
        Harness h({module(kMacA0, "192.168.0.30", "255.255.0.0", "192.168.0.1"),
                   module(kMac0A, "10.0.0.31", "255.0.0.0", "10.0.0.1")});
        QVERIFY(h.start());
        h.clickRow(1);  // A0:...
        h.click(QWizard::NextButton);
        QCOMPARE(fieldText(h.field("ipAddressEdit")), QStringLiteral("192.168.0.30"));
        typeAddress(h.field("defaultGatewayEdit"), QStringLiteral("192.168.0.9"));
        h.click(QWizard::BackButton);

        h.clickRow(0);  // 0A:...
        h.click(QWizard::NextButton);
        QCOMPARE(fieldText(h.field("ipAddressEdit")), QStringLiteral("10.0.0.31"));
        QCOMPARE(fieldText(h.field("networkMaskEdit")), QStringLiteral("255.0.0.0"));
        QCOMPARE(fieldText(h.field("defaultGatewayEdit")), QStringLiteral("10.0.0.1"));
        h.click(QWizard::NextButton);
        QVERIFY(h.sent().empty());
        QCOMPARE(h.wizard->candidate.mac, kMac0A);
    }

    void russianTexts() {
        applyLanguage(true);
        Harness h(threeModules(), false);
        QVERIFY(h.start());

        QCOMPARE(h.wizard->windowTitle(), QStringLiteral("Добавить устройство"));
        QCOMPARE(h.wizard->findChild<QLabel*>("introText")->text(),
                 QStringLiteral("Выберите новое устройство из списка и нажмите <Далее>.\n\n"
                                "Нажмите <Обновить>, чтобы обновить список."));
        QCOMPARE(h.refresh()->text(), QStringLiteral("Обновить"));
        QCOMPARE(h.enterDirectlyBox()->text(),
                 QStringLiteral("Устройства нет в списке, ввести IP адрес вручную."));
        QCOMPARE(m_messages.value(0).text,
                 QStringLiteral("Сетевой адаптер не установлен или отключен!"));
        QVERIFY2(h.wizard->button(QWizard::NextButton)->text().contains(QStringLiteral("Далее")),
                 qPrintable(h.wizard->button(QWizard::NextButton)->text()));
        QVERIFY2(h.wizard->button(QWizard::BackButton)->text().contains(QStringLiteral("Назад")),
                 qPrintable(h.wizard->button(QWizard::BackButton)->text()));
        QCOMPARE(h.wizard->button(QWizard::CancelButton)->text(), QStringLiteral("Отмена"));

        h.clickEnterDirectly();
        h.click(QWizard::NextButton);
        QCOMPARE(h.wizard->findChild<QLabel*>("addressLabel")->text(), QStringLiteral("IP адрес"));
        typeAddress(h.field("addressEdit"), QStringLiteral("192.168.0.20"));
        h.click(QWizard::NextButton);
        QCOMPARE(m_messages.value(1).text, QStringLiteral("Выбранный IP адрес уже используется!"));
    }

    void filterAndSortTable_data() {
        QTest::addColumn<QList<int>>("firstOctets");
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<QList<int>>("expected");

        QTest::newRow("unsigned order") << QList<int>{0xFF, 0x80, 0x7F, 0x00} << QStringList{}
                                        << QList<int>{0x00, 0x7F, 0x80, 0xFF};
        QTest::newRow("listed dropped")
            << QList<int>{0xA0, 0x0A} << QStringList{"A0:00:00:00:00:01"} << QList<int>{0x0A};
        QTest::newRow("zero MAC kept even against an empty listed text")
            << QList<int>{0x00} << QStringList{""} << QList<int>{0x00};
    }
    void filterAndSortTable() {
        QFETCH(QList<int>, firstOctets);
        QFETCH(QStringList, listed);
        QFETCH(QList<int>, expected);

        std::vector<DeviceHello> found;
        for (const int first : firstOctets) {
            found.push_back(module({static_cast<std::uint8_t>(first), 0, 0, 0, 0,
                                    static_cast<std::uint8_t>(first == 0 ? 0 : 1)},
                                   "10.0.0.1"));
        }
        std::vector<std::string> listedMacs;
        for (const QString& mac : listed) {
            listedMacs.push_back(mac.toStdString());
        }
        filterAndSortFound(found, listedMacs);
        QList<int> firsts;
        for (const DeviceHello& hello : found) {
            firsts << hello.mac[0];
        }
        QCOMPARE(firsts, expected);
    }
};

QTEST_MAIN(AddDeviceWizardTest)
#include "add_device_wizard_test.moc"
