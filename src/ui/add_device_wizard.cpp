#include "ui/add_device_wizard.h"

#include "ui/page_add_configure.h"
#include "ui/page_add_direct.h"
#include "ui/page_add_finish.h"
#include "ui/page_add_list.h"

namespace corvane {

CAddDeviceWizard::CAddDeviceWizard(QWidget* parent, DeviceOperations operations)
    : CAddDeviceSheet(parent, std::move(operations)) {
    m_listPage = new CPageAddList(*this);
    m_directPage = new CPageAddDirect(*this);
    m_configurePage = new CPageAddConfigure(*this);
    m_finishPage = new CPageAddFinish(*this);
    setPage(kListPage, m_listPage);
    setPage(kDirectPage, m_directPage);
    setPage(kConfigurePage, m_configurePage);
    setPage(kFinishPage, m_finishPage);
    setStartId(kListPage);
    finishButtons();
    connect(this, &QWizard::currentIdChanged, this, &CAddDeviceWizard::onCurrentIdChanged);
}

CAddDeviceWizard::~CAddDeviceWizard() = default;

void CAddDeviceWizard::onCurrentIdChanged(int id) {
    switch (id) {
        case kListPage:
            m_listPage->activate();
            break;
        case kDirectPage:
            m_directPage->activate();
            break;
        case kConfigurePage:
            m_configurePage->activate();
            break;
        case kFinishPage:
            m_finishPage->activate();
            break;
        default:
            break;
    }
}

}  // namespace corvane
