// First page of the add-device wizard: the modules found on the segment that are not yet
// in the device list, or the choice to type an address instead.
#pragma once

#include <QStringList>
#include <QWizardPage>
#include <string>
#include <vector>

#include "net/wire_types.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QTimer;
class QTreeWidget;

namespace corvane {

class CAddDeviceSheet;

// Drops the modules whose MAC text is already listed and orders the rest by MAC, first
// octet most significant. An all-zero MAC has the empty text and is never dropped.
void filterAndSortFound(std::vector<DeviceHello>& found,
                        const std::vector<std::string>& listedMacs);

class CPageAddList : public QWizardPage {
    Q_OBJECT

public:
    // The first search waits this long after the page is shown, so it runs once the
    // wizard has been painted rather than while it is being created.
    static constexpr int kFirstSearchDelayMs = 10;

    explicit CPageAddList(CAddDeviceSheet& sheet);

    // The wizard calls this each time the page becomes the current one.
    void activate();
    // Searches the segment on a worker thread and then refills the list (also the
    // Refresh button).
    void search();
    bool searching() const { return m_searching; }

    int nextId() const override;
    bool validatePage() override;
    bool isComplete() const override;

    const std::vector<DeviceHello>& found() const { return m_found; }
    int selectedRow() const { return m_selectedRow; }
    bool enterDirectly() const { return m_enterDirectly; }
    bool searchedOnce() const { return m_searchedOnce; }

private:
    void createControls();
    void onStartTimer();
    void onSelectionChanged();
    void onEnterDirectlyClicked(bool checked);
    void fillList();
    // MAC texts of the other modules, found or listed, that have the address of found
    // module `index`.
    QStringList otherUsersOfAddress(std::size_t index) const;
    void applyButtonRule();

    CAddDeviceSheet& m_sheet;
    std::vector<DeviceHello> m_found;
    int m_selectedRow = -1;
    bool m_enterDirectly = false;
    bool m_searchedOnce = false;
    bool m_searching = false;
    QTimer* m_startTimer = nullptr;

    QLabel* m_intro = nullptr;
    QPushButton* m_refresh = nullptr;
    QTreeWidget* m_list = nullptr;
    QCheckBox* m_enterDirectlyBox = nullptr;
};

}  // namespace corvane
