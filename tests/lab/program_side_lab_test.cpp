// The lab's safety net as the program sees it: the only local addresses are the lab
// adapters, so nothing a test sends can leave through a real interface.
#include <set>

#include "lab/lab_test_support.h"
#include "net/local_addresses.h"

namespace corvane::lab {
namespace {

class ProgramSideLab : public LabTest {};

TEST_F(ProgramSideLab, ListsOnlyTheLabAdapters) {
    std::vector<LocalAddress> list;
    ASSERT_TRUE(listLocalAddresses(list));
    std::set<std::string> listed;
    for (const auto& entry : list) {
        listed.insert(entry.address.text() + "/" + entry.mask.text());
    }
    std::set<std::string> expected;
    for (const auto& s : m_lab.segments) {
        expected.insert(s.programAddress + "/" + s.programMask);
    }
    EXPECT_EQ(listed, expected);
}

}  // namespace
}  // namespace corvane::lab
