#pragma once

#include <QWidget>
#include <array>

class QLineEdit;

namespace corvane {

// An IPv4 address field made of four octet fields (0 to 255, digits only) inside one
// line-edit frame. It takes and gives the address in the field form (first octet most
// significant: Ipv4Address's host order) and tells how many octets hold a
// value, so a dialog can refuse an incomplete address.
//
// Typing moves to the next octet after three digits or on '.', Backspace or Left at the start
// of an octet goes back to the previous one, Right at its end goes on to the next one, and
// Tab leaves the whole field. A value above 255 becomes 255.
class CIpAddressEdit : public QWidget {
    Q_OBJECT

public:
    static constexpr int kParts = 4;

    explicit CIpAddressEdit(QWidget* parent = nullptr);

    // Fills all four octets from a field-form value (192.168.0.10 is 0xC0A8000A).
    void setAddress(quint32 fieldValue);
    // The field-form value; blank octets count as 0.
    quint32 address() const;
    // How many of the four octets hold a value (0 to 4).
    int filledParts() const;
    void clear();
    bool isBlank() const { return filledParts() == 0; }

    void setReadOnly(bool readOnly);
    bool isReadOnly() const { return m_readOnly; }

    // 100 x 12 dialog units of the widget's font.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // Any octet's text changed, by the operator or by setAddress/clear.
    void changed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    int octetIndex(const QObject* object) const;
    bool handleOctetKey(int index, const QKeyEvent* event);
    void onOctetEdited(int index);
    void normalizeOctet(int index);
    void focusOctet(int index, bool selectAll, bool cursorAtEnd);
    void onOctetTextChanged();

    std::array<QLineEdit*, kParts> m_octets{};
    bool m_readOnly = false;
    bool m_settingAll = false;
    int m_autoAdvancedTo = -1;  // the octet just reached by three digits, until the next key
};

}  // namespace corvane
