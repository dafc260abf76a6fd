// The add-device wizard: search the segment (or take an address typed in), optionally give
// the chosen module new network settings, and hand the module back to the main window.
// The main window fills the public fields before running the wizard modally and reads
// deviceAdded and candidate afterwards; the wizard never touches the device list itself.
#pragma once

#include "ui/add_device_sheet.h"

namespace corvane {

class CPageAddList;
class CPageAddDirect;
class CPageAddConfigure;
class CPageAddFinish;

class CAddDeviceWizard : public CAddDeviceSheet {
    Q_OBJECT

public:
    explicit CAddDeviceWizard(QWidget* parent = nullptr,
                              DeviceOperations operations = DeviceOperations{});
    ~CAddDeviceWizard() override;

    CPageAddList* listPage() const { return m_listPage; }
    CPageAddDirect* directPage() const { return m_directPage; }
    CPageAddConfigure* configurePage() const { return m_configurePage; }
    CPageAddFinish* finishPage() const { return m_finishPage; }

private:
    void onCurrentIdChanged(int id);

    CPageAddList* m_listPage = nullptr;
    CPageAddDirect* m_directPage = nullptr;
    CPageAddConfigure* m_configurePage = nullptr;
    CPageAddFinish* m_finishPage = nullptr;
};

}  // namespace corvane
