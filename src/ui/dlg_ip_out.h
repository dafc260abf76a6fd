// The IP output dialog: starts and stops one module's IP output and edits its
// destination, port, protocol and "No stuffings" option. The opener fills the public
// state before running it and reads the state back afterwards, whichever way it closed.
#pragma once

#include <QDialog>
#include <cstdint>

#include "net/wire_types.h"
#include "ui/device_operations.h"
#include "ui/stream_readout_line.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

namespace corvane {

class CFilterEdit;
class CIpAddressEdit;

class CDlgIpOut : public QDialog {
    Q_OBJECT

public:
    // Index into the protocol list, as stored in a module's settings.
    static constexpr int kNoProtocol = -1;

    explicit CDlgIpOut(QWidget* parent = nullptr, DeviceOperations operations = {});

    // The dialog's state. The controls are loaded from it each time the dialog is shown;
    // Start, Stop and Enter write back into it.
    Ipv4Address moduleIp;
    LocalAddress localAdapter{};
    Ipv4Address destinationIp;  // changed only by a Start that got through
    int destinationPort = 0;
    int protocol = kNoProtocol;  // 0 "RTP+", 1 "RTP", 2 "UDP", -1 nothing selected
    int noStuffing = 0;          // 0 or 1
    int running = 0;             // 0 or 1: what the last Start or Stop told the module
    // Measures the running output's stream at its destination, from localAdapter; tests
    // give a scripted source and clock.
    StreamSourceOpener streamSource = openStreamMonitor;
    std::function<StreamTime()> streamClock = [] { return StreamClock::now(); };

    void setVisible(bool visible) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void createControls();
    // Places the controls for the current captions (see the comment inside).
    void placeControls();
    void loadControlsFromState();
    void applyTexts();
    void applyEnableRule();
    // Port, then "No stuffings", then protocol into the state. False, after the warning,
    // when the port field holds no integer; nothing has been taken then.
    bool takeControlValues();
    void onStart();
    void onStop();
    // Sends the settings request; false, after telling the operator, when nothing went out.
    bool sendSettings(const StreamSettings& settings);
    void acceptFromControls();
    // Shows the foot line and measures while the output runs; hides it otherwise.
    void followStream();

    DeviceOperations m_operations;
    QLabel* m_addressLabel = nullptr;
    QLabel* m_portLabel = nullptr;
    QLabel* m_protocolLabel = nullptr;
    QLabel* m_tosLabel = nullptr;
    QPushButton* m_start = nullptr;
    QPushButton* m_stop = nullptr;
    CIpAddressEdit* m_address = nullptr;
    CFilterEdit* m_port = nullptr;
    QComboBox* m_protocol = nullptr;
    QLineEdit* m_tos = nullptr;
    QCheckBox* m_noStuffing = nullptr;
    QFrame* m_separator = nullptr;
    CStreamReadoutLine* m_streamLine = nullptr;
};

}  // namespace corvane
