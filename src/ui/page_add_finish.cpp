#include "ui/page_add_finish.h"

#include <QAbstractButton>
#include <QLabel>

#include "app/string_tables.h"
#include "ui/add_device_sheet.h"
#include "ui/dialog_units.h"
#include "ui/wizard_page_text.h"

namespace corvane {
namespace {

constexpr int kAddedText = 1113;

}  // namespace

CPageAddFinish::CPageAddFinish(CAddDeviceSheet& sheet) : m_sheet(sheet) {
    setFixedSize(DialogUnits(sheet.font()).size(296, 146));
}

void CPageAddFinish::activate() {
    if (m_text == nullptr) {
        m_text = makePageText(this, QStringLiteral("finishText"),
                              DialogUnits(font()).rect(8, 8, 284, 28), kAddedText);
        m_text->show();
    }
    m_sheet.setButtons(WizardButtons::finishOnly);
    m_sheet.button(QWizard::CancelButton)->setEnabled(false);
}

int CPageAddFinish::nextId() const {
    return -1;
}

}  // namespace corvane
