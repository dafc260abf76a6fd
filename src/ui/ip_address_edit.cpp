#include "ui/ip_address_edit.h"

#include <QEvent>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QRegularExpressionValidator>
#include <QStyle>
#include <QStyleOptionFrame>

namespace corvane {

namespace {

constexpr int kMaxOctet = 255;
constexpr int kOctetDigits = 3;
// The field's size in dialog units; a dialog unit is a quarter of the font's average
// character width across and an eighth of its height down.
constexpr int kWidthDlu = 100;
constexpr int kHeightDlu = 12;

// Rounded like the desktop's own dialog-unit conversion.
int dluToPixels(int dlu, int base, int divisor) {
    return (dlu * base + divisor / 2) / divisor;
}

}  // namespace

CIpAddressEdit::CIpAddressEdit(QWidget* parent) : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    const int frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
    layout->setContentsMargins(frame, frame, frame, frame);
    layout->setSpacing(0);

    auto* validator =
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,3}")), this);
    for (int i = 0; i < kParts; ++i) {
        if (i > 0) {
            auto* dot = new QLabel(QStringLiteral("."), this);
            dot->setAlignment(Qt::AlignCenter);
            dot->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Ignored);
            layout->addWidget(dot);
        }
        auto* octet = new QLineEdit(this);
        octet->setObjectName(QStringLiteral("octet%1").arg(i));
        octet->setFrame(false);
        octet->setAlignment(Qt::AlignCenter);
        octet->setMaxLength(kOctetDigits);
        octet->setValidator(validator);
        // The octets share the frame's width; their own size hints are for a whole line.
        octet->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
        // The field is one tab stop: Tab enters at the first octet (Qt skips a widget whose
        // focus proxy is its own child, so that octet is the stop) and leaves from any octet
        // (focusNextPrevChild).
        octet->setFocusPolicy(i == 0 ? Qt::StrongFocus : Qt::ClickFocus);
        octet->installEventFilter(this);
        connect(octet, &QLineEdit::textEdited, this, [this, i] { onOctetEdited(i); });
        connect(octet, &QLineEdit::textChanged, this, &CIpAddressEdit::onOctetTextChanged);
        layout->addWidget(octet, 1);
        m_octets[i] = octet;
    }
    setFocusPolicy(Qt::StrongFocus);
    setFocusProxy(m_octets[0]);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void CIpAddressEdit::setAddress(quint32 fieldValue) {
    bool differs = false;
    m_settingAll = true;
    for (int i = 0; i < kParts; ++i) {
        const int shift = 8 * (kParts - 1 - i);
        const QString text = QString::number((fieldValue >> shift) & 0xFFu);
        differs = differs || m_octets[i]->text() != text;
        m_octets[i]->setText(text);
    }
    m_settingAll = false;
    if (differs) {
        emit changed();
    }
}

quint32 CIpAddressEdit::address() const {
    quint32 value = 0;
    for (const QLineEdit* octet : m_octets) {
        // The validator and the clamp keep the text to at most 255; blank reads as 0.
        value = (value << 8) | (octet->text().toUInt() & 0xFFu);
    }
    return value;
}

int CIpAddressEdit::filledParts() const {
    int filled = 0;
    for (const QLineEdit* octet : m_octets) {
        filled += octet->text().isEmpty() ? 0 : 1;
    }
    return filled;
}

void CIpAddressEdit::clear() {
    const bool wasBlank = isBlank();
    m_settingAll = true;
    for (QLineEdit* octet : m_octets) {
        octet->clear();
    }
    m_settingAll = false;
    if (!wasBlank) {
        emit changed();
    }
}

void CIpAddressEdit::setReadOnly(bool readOnly) {
    m_readOnly = readOnly;
    for (QLineEdit* octet : m_octets) {
        octet->setReadOnly(readOnly);
    }
    update();
}

QSize CIpAddressEdit::sizeHint() const {
    const QFontMetrics metrics(font());
    return {dluToPixels(kWidthDlu, metrics.averageCharWidth(), 4),
            dluToPixels(kHeightDlu, metrics.height(), 8)};
}

QSize CIpAddressEdit::minimumSizeHint() const {
    const QFontMetrics metrics(font());
    const int frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
    return {metrics.horizontalAdvance(QStringLiteral("000.000.000.000")) + 2 * frame,
            sizeHint().height()};
}

int CIpAddressEdit::octetIndex(const QObject* object) const {
    for (int i = 0; i < kParts; ++i) {
        if (m_octets[i] == object) {
            return i;
        }
    }
    return -1;
}

bool CIpAddressEdit::eventFilter(QObject* watched, QEvent* event) {
    const int index = octetIndex(watched);
    if (index < 0) {
        return QWidget::eventFilter(watched, event);
    }
    switch (event->type()) {
        case QEvent::KeyPress:
            return handleOctetKey(index, static_cast<QKeyEvent*>(event));
        case QEvent::FocusOut:
            normalizeOctet(index);
            update();  // the frame shows whether the field has the focus
            break;
        case QEvent::FocusIn:
            update();
            break;
        default:
            break;
    }
    return QWidget::eventFilter(watched, event);
}

// Returns true when the key has been handled here and the octet must not see it.
bool CIpAddressEdit::handleOctetKey(int index, const QKeyEvent* event) {
    const QLineEdit* octet = m_octets[index];
    const auto mods = event->modifiers() & ~Qt::KeypadModifier;
    const bool atStart = octet->cursorPosition() == 0 && !octet->hasSelectedText();
    const bool atEnd = octet->cursorPosition() == octet->text().size() && !octet->hasSelectedText();

    const bool justAdvanced = m_autoAdvancedTo == index;
    m_autoAdvancedTo = -1;
    if (event->text() == QLatin1String(".")) {
        // A dot right after an automatic move to this octet belongs to the octet before,
        // so "192.168.0.10" typed in full fills the four octets, whatever they held.
        if (!justAdvanced && !octet->text().isEmpty() && index + 1 < kParts) {
            focusOctet(index + 1, true, false);
        }
        return true;
    }
    if (mods != Qt::NoModifier) {
        return false;
    }
    if ((event->key() == Qt::Key_Backspace || event->key() == Qt::Key_Left) && atStart &&
        index > 0) {
        focusOctet(index - 1, false, true);
        return true;
    }
    if (event->key() == Qt::Key_Right && atEnd && index + 1 < kParts) {
        focusOctet(index + 1, false, false);
        return true;
    }
    return false;
}

void CIpAddressEdit::onOctetEdited(int index) {
    QLineEdit* octet = m_octets[index];
    if (octet->text().toInt() > kMaxOctet) {
        octet->setText(QString::number(kMaxOctet));
    }
    if (octet->text().size() == kOctetDigits && octet->cursorPosition() == kOctetDigits &&
        index + 1 < kParts) {
        focusOctet(index + 1, true, false);
        m_autoAdvancedTo = index + 1;
    }
}

// "007" becomes "7" when the operator leaves the octet, as the value reads.
void CIpAddressEdit::normalizeOctet(int index) {
    QLineEdit* octet = m_octets[index];
    const QString text = octet->text();
    if (text.isEmpty()) {
        return;
    }
    const QString normal = QString::number(text.toInt());
    if (normal != text) {
        octet->setText(normal);
    }
}

void CIpAddressEdit::focusOctet(int index, bool selectAll, bool cursorAtEnd) {
    QLineEdit* octet = m_octets[index];
    octet->setFocus(Qt::OtherFocusReason);
    if (selectAll) {
        octet->selectAll();
    } else {
        octet->setCursorPosition(cursorAtEnd ? octet->text().size() : 0);
    }
}

void CIpAddressEdit::onOctetTextChanged() {
    // setAddress and clear report once for all four octets.
    if (!m_settingAll) {
        emit changed();
    }
}

bool CIpAddressEdit::focusNextPrevChild(bool next) {
    // Called from an octet on Tab: leave the whole field instead of stepping through the
    // octets, which are not tab stops themselves.
    QWidget* candidate = this;
    for (;;) {
        candidate = next ? candidate->nextInFocusChain() : candidate->previousInFocusChain();
        if (candidate == nullptr || candidate == this) {
            return false;
        }
        if (isAncestorOf(candidate) || candidate->window() != window()) {
            continue;
        }
        if ((candidate->focusPolicy() & Qt::TabFocus) == Qt::TabFocus && candidate->isEnabled() &&
            candidate->isVisibleTo(window())) {
            candidate->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            return true;
        }
    }
}

void CIpAddressEdit::paintEvent(QPaintEvent*) {
    QStyleOptionFrame option;
    option.initFrom(this);
    option.rect = rect();
    option.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, this);
    option.midLineWidth = 0;
    option.state |= QStyle::State_Sunken;
    if (m_readOnly) {
        option.state |= QStyle::State_ReadOnly;
    }
    for (const QLineEdit* octet : m_octets) {
        if (octet->hasFocus()) {
            option.state |= QStyle::State_HasFocus;
        }
    }
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &option, &painter, this);
}

void CIpAddressEdit::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        updateGeometry();
    }
    QWidget::changeEvent(event);
}

}  // namespace corvane
