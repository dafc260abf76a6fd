#include "ui/dlg_ip_out.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>
#include <utility>

#include "app/string_tables.h"
#include "devices/output_settings.h"
#include "streams/datagram_payload.h"
#include "ui/dialog_units.h"
#include "ui/filter_edit.h"
#include "ui/ip_address_edit.h"
#include "ui/message_box.h"
#include "ui/ui_text.h"

namespace corvane {
namespace {

// Text ids; each control's caption has the control's own id.
constexpr int kProtocolCaption = 1204;
constexpr int kAddressCaption = 1205;
constexpr int kPortCaption = 1206;
constexpr int kNoStuffingCaption = 1207;
constexpr int kStartCaption = 1208;
constexpr int kStopCaption = 1209;
constexpr int kTosCaption = 1210;

constexpr auto kPortDigits = "0123456789";

constexpr int kMinPort = 1;
constexpr int kMaxPort = 65535;

// The window and its controls in dialog units: x, y, width, height.
constexpr int kWidthDlu = 168;
constexpr int kHeightDlu = 137;
constexpr int kRowHeightDlu = 12;
// The stream line below the buttons, room for four wrapped lines; the dialog grows by
// it only while the line shows.
constexpr int kStreamLineTopDlu = 136;
constexpr int kStreamLineHeightDlu = 34;

QLabel* makeCaption(QWidget* parent, const char* name) {
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

QPushButton* makeButton(QWidget* parent, const char* name) {
    auto* button = new QPushButton(parent);
    button->setObjectName(QLatin1String(name));
    // A dialog would otherwise make the first auto-default button its default one, and
    // Enter in any field would press Start. Enter on a focused button is handled in
    // keyPressEvent instead.
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

}  // namespace

CDlgIpOut::CDlgIpOut(QWidget* parent, DeviceOperations operations)
    : QDialog(parent), m_operations(std::move(operations)) {
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setModal(true);
    createControls();
    placeControls();
}

void CDlgIpOut::createControls() {
    // Created in tab order (Start, Stop, address, port, protocol, ToS, "No stuffings") so
    // the focus chain follows it; setTabOrder below makes it explicit.
    m_start = makeButton(this, "start");
    m_stop = makeButton(this, "stop");
    m_addressLabel = makeCaption(this, "addressCaption");
    m_address = new CIpAddressEdit(this);
    m_address->setObjectName(QStringLiteral("address"));
    m_portLabel = makeCaption(this, "portCaption");
    m_port = new CFilterEdit(this);
    m_port->setObjectName(QStringLiteral("port"));
    m_port->setAlignment(Qt::AlignRight);
    m_protocolLabel = makeCaption(this, "protocolCaption");
    m_protocol = new QComboBox(this);
    m_protocol->setObjectName(QStringLiteral("protocol"));
    m_protocol->setEditable(false);
    for (const char* name : kProtocolNames) {
        m_protocol->addItem(QLatin1String(name));
    }
    m_tosLabel = makeCaption(this, "tosCaption");
    // The type-of-service field only follows the enable rule. Nothing fills it, reads it,
    // stores it or sends it: the single-form settings request has no ToS byte, and putting
    // the value into any other field would reach modules that could misread it.
    m_tos = new QLineEdit(this);
    m_tos->setObjectName(QStringLiteral("tos"));
    m_tos->setAlignment(Qt::AlignRight);
    m_noStuffing = new QCheckBox(this);
    m_noStuffing->setObjectName(QStringLiteral("noStuffing"));
    m_separator = new QFrame(this);
    m_separator->setObjectName(QStringLiteral("separator"));
    m_separator->setFrameShape(QFrame::HLine);
    m_separator->setFrameShadow(QFrame::Sunken);
    m_streamLine = new CStreamReadoutLine(this);

    setTabOrder(m_start, m_stop);
    setTabOrder(m_stop, m_address);
    setTabOrder(m_address, m_port);
    setTabOrder(m_port, m_protocol);
    setTabOrder(m_protocol, m_tos);
    setTabOrder(m_tos, m_noStuffing);

    connect(m_start, &QPushButton::clicked, this, &CDlgIpOut::onStart);
    connect(m_stop, &QPushButton::clicked, this, &CDlgIpOut::onStop);
}

void CDlgIpOut::placeControls() {
    const DialogUnits units(font());
    // The captions' column ends at 56 units. A caption that its text does not fit (a
    // wide desktop font, a long translation) widens the column; the fields, the
    // separator, Stop and the dialog's right edge move right with it.
    int shift = 0;
    const std::pair<QLabel*, int> captions[] = {
        {m_addressLabel, 48}, {m_portLabel, 44}, {m_protocolLabel, 48}, {m_tosLabel, 44}};
    for (const auto& [caption, widthDlu] : captions) {
        const int needed = caption->fontMetrics().size(0, caption->text()).width();
        shift = std::max(shift, needed - units.x(widthDlu));
    }
    auto place = [&](QWidget* widget, int x, int y, int width, int height, int extraWidth = 0) {
        QRect rect = units.rect(x, y, width, height);
        rect.setWidth(rect.width() + extraWidth);
        widget->setGeometry(rect);
    };
    const int streamLineDlu = m_streamLine->isVisibleTo(this) ? kStreamLineHeightDlu + 4 : 0;
    setFixedSize(units.size(kWidthDlu, kHeightDlu + streamLineDlu) + QSize(shift, 0));
    place(m_addressLabel, 8, 8, 48, kRowHeightDlu, shift);
    place(m_portLabel, 8, 28, 44, kRowHeightDlu, shift);
    place(m_protocolLabel, 8, 48, 48, kRowHeightDlu, shift);
    place(m_tosLabel, 8, 68, 44, kRowHeightDlu, shift);
    m_address->setGeometry(units.rect(60, 8, 100, kRowHeightDlu).translated(shift, 0));
    m_port->setGeometry(units.rect(60, 28, 35, kRowHeightDlu).translated(shift, 0));
    // The closed list is as tall as the style needs; the open list shows all entries.
    QRect protocolRect = units.rect(60, 48, 76, kRowHeightDlu).translated(shift, 0);
    protocolRect.setHeight(std::max(protocolRect.height(), m_protocol->sizeHint().height()));
    m_protocol->setGeometry(protocolRect);
    m_tos->setGeometry(units.rect(60, 68, 35, kRowHeightDlu).translated(shift, 0));
    place(m_noStuffing, 8, 88, 156, kRowHeightDlu, shift);
    QRect line = units.rect(4, 108, 160, 1);
    // An etched line needs two pixel rows (shadow and light) whatever the font.
    line.setHeight(std::max(line.height(), 2));
    line.setWidth(line.width() + shift);
    m_separator->setGeometry(line);
    m_start->setGeometry(units.rect(8, 116, 72, 14));
    m_stop->setGeometry(units.rect(88, 116, 72, 14).translated(shift, 0));
    place(m_streamLine, 8, kStreamLineTopDlu, 152, kStreamLineHeightDlu, shift);
}

void CDlgIpOut::setVisible(bool visible) {
    // The opener sets the state after construction, so the controls are loaded when the
    // dialog appears (exec and show both come here).
    if (visible && !isVisible()) {
        loadControlsFromState();
        followStream();
    }
    QDialog::setVisible(visible);
    if (!visible) {
        m_streamLine->stop();  // closed: no socket stays open behind it
    }
}

void CDlgIpOut::followStream() {
    const bool wasShown = m_streamLine->isVisibleTo(this);
    // A port no module could send to is not measured (nor bound: 0 would be any port).
    if (running != 0 && destinationPort >= kMinPort && destinationPort <= kMaxPort) {
        StreamDestination destination;
        destination.address = destinationIp;
        destination.port = static_cast<std::uint16_t>(destinationPort);
        StreamReceiveOptions options;
        options.localAddress = localAdapter.address;
        options.expectedSource = moduleIp;  // no other sender to the group is counted
        options.measurement.protocol = streamProtocolFromIndex(protocol);
        m_streamLine->start(streamSource, streamClock, destination, options);
    } else {
        m_streamLine->stop();
    }
    if (m_streamLine->isVisibleTo(this) != wasShown) {
        placeControls();
    }
}

void CDlgIpOut::loadControlsFromState() {
    m_port->setText(QString::number(destinationPort));
    m_noStuffing->setChecked(noStuffing != 0);
    const bool known = protocol >= 0 && protocol < kProtocolCount;
    m_protocol->setCurrentIndex(known ? protocol : -1);
    m_port->setAllowedChars(QLatin1String(kPortDigits));
    applyTexts();
    m_address->setAddress(destinationIp.hostOrder());
    applyEnableRule();
}

void CDlgIpOut::applyTexts() {
    setWindowTitle(uiText(TextId::ipOutputTitle));
    m_protocolLabel->setText(uiText(kProtocolCaption));
    m_addressLabel->setText(uiText(kAddressCaption));
    m_portLabel->setText(uiText(kPortCaption));
    m_tosLabel->setText(uiText(kTosCaption));
    m_noStuffing->setText(uiText(kNoStuffingCaption));
    m_start->setText(uiText(kStartCaption));
    m_stop->setText(uiText(kStopCaption));
    placeControls();
}

void CDlgIpOut::applyEnableRule() {
    const bool stopped = running == 0;
    // Enable before disabling, so a focused control that gets disabled hands the focus
    // on to one that can take it (after Start, Stop gets it).
    QWidget* const settings[] = {m_address, m_port, m_protocol, m_noStuffing, m_tos, m_start};
    if (stopped) {
        for (QWidget* widget : settings) {
            widget->setEnabled(true);
        }
        m_stop->setEnabled(false);
    } else {
        m_stop->setEnabled(true);
        for (QWidget* widget : settings) {
            widget->setEnabled(false);
        }
    }
}

bool CDlgIpOut::takeControlValues() {
    bool isInteger = false;
    const int port = m_port->text().toInt(&isInteger, 10);
    if (!isInteger) {
        // With the digit filter this is an empty field, or more digits than fit an int.
        showMessage(this, static_cast<int>(ExtraText::pleaseEnterInteger), MessageStyle::warning);
        m_port->setFocus(Qt::OtherFocusReason);
        m_port->selectAll();
        return false;
    }
    destinationPort = port;
    noStuffing = m_noStuffing->isChecked() ? 1 : 0;
    protocol = m_protocol->currentIndex();
    return true;
}

void CDlgIpOut::onStart() {
    if (!takeControlValues()) {
        return;
    }
    // An incomplete address or a port out of range is refused without a message.
    if (m_address->filledParts() != CIpAddressEdit::kParts) {
        return;
    }
    if (destinationPort < kMinPort || destinationPort > kMaxPort) {
        return;
    }
    // Nothing selected (-1) goes out as 255, which no module takes for a protocol.
    const StreamSettings settings =
        outputStartSettings(protocol, Ipv4Address::fromHostOrder(m_address->address()),
                            static_cast<std::uint16_t>(destinationPort), noStuffing != 0);
    // Send-only: the module never answers, so "running" follows what was sent.
    if (sendSettings(settings)) {
        destinationIp = Ipv4Address::fromNetworkOrder(settings.destinationIp);
        running = 1;
        applyEnableRule();
        followStream();
    }
}

void CDlgIpOut::onStop() {
    if (sendSettings(outputStopSettings())) {
        running = 0;
        applyEnableRule();
        followStream();
    }
}

bool CDlgIpOut::sendSettings(const StreamSettings& settings) {
    if (m_operations.setStreamSettings(localAdapter, moduleIp, settings)) {
        return true;
    }
    // Not one datagram left this computer (the adapter went down, the address is gone):
    // the dialog and the device keep what they had.
    showMessage(this, TextId::sendFailed, MessageStyle::error);
    return false;
}

void CDlgIpOut::acceptFromControls() {
    // The address field is never read here: destinationIp changes only through Start.
    if (takeControlValues()) {
        accept();
    }
}

void CDlgIpOut::keyPressEvent(QKeyEvent* event) {
    const bool plain = event->modifiers() == Qt::NoModifier ||
                       (event->modifiers() == Qt::KeypadModifier && event->key() == Qt::Key_Enter);
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (!enter || !plain) {
        // Escape rejects: nothing more is taken from the controls.
        QDialog::keyPressEvent(event);
        return;
    }
    QWidget* const focused = focusWidget();
    if (focused == m_start || focused == m_stop) {
        auto* button = static_cast<QPushButton*>(focused);
        if (button->isEnabled()) {
            button->click();
        }
    } else {
        acceptFromControls();
    }
    event->accept();
}

}  // namespace corvane
