#include "app/string_tables.h"

#include <gtest/gtest.h>

#include <set>

namespace corvane {
namespace {

// Every English id of the tables, in the order they are listed.
const int kEnglishIds[] = {
    1001,  1002,  1003,  1005,  1006,  1007,  1008,  1009,  1010,  1062,  1064,  1065,
    1068,  1069,  1070,  1071,  1072,  1073,  1101,  1102,  1106,  1107,  1108,  1109,
    1110,  1111,  1112,  1113,  1204,  1205,  1206,  1207,  1208,  1209,  1210,  1303,
    1323,  1324,  1325,  10005, 10006, 10007, 10008, 10009, 10010, 10011, 10012, 10013,
    10014, 10020, 10021, 10022, 10023, 10024, 10101, 10102, 10103, 10104, 10105, 10106,
    10107, 10112, 10113, 10114, 10115, 10116, 10117, 10118, 10119, 10120, 10121, 10122,
    10123, 10124, 10125, 10126, 10127, 10128, 10129, 10201, 10202, 10203, 10204, 10205,
    10206, 10210, 10211, 10212, 10221, 10222, 10223, 10224, 10301, 10302, 10303,
};
const std::set<int> kWithoutRussian = {1065,  10010, 10011, 10117, 10118, 10119, 10120,
                                       10121, 10122, 10123, 10124, 10125, 10126};

class StringTables : public ::testing::Test {
protected:
    void TearDown() override { setUseRussian(false); }
};

TEST_F(StringTables, EveryIdHasItsTextsInBothLanguages) {
    for (int id : kEnglishIds) {
        EXPECT_FALSE(tableText(id).empty()) << id;
        EXPECT_EQ(tableText(id + kRussianIdOffset).empty(), kWithoutRussian.count(id) == 1) << id;
    }
    // Ids between the listed ones have no text.
    for (int id : {1000, 1004, 1011, 2004, 10000, 10025, 10100, 10304, 11304}) {
        EXPECT_TRUE(tableText(id).empty()) << id;
    }
}

TEST_F(StringTables, LoadTextFollowsTheLanguage) {
    const struct {
        int id;
        const char* english;
        const char* russian;
    } rows[] = {
        {1001, "Close", "Закрыть"},
        {1008, "Check All", "Проверить все"},
        {1065, "IP", ""},
        {1106,
         "Select new device from the list and click <Next>.\n\nClick <Refresh> to refresh the "
         "list.",
         "Выберите новое устройство из списка и нажмите <Далее>.\n\nНажмите <Обновить>, чтобы "
         "обновить список."},
        {1109,
         "Change network settings of the device and click <Next> to proceed.\n\nYou can leave "
         "current settings unchanged.",
         "Если требуется, измените сетевые настройки и нажмите <Далее>."},
        {1113, "Device succesfully added to list!", "Устройство успешно добавлено в список!"},
        {1210, "ToS (HEX)", "ToS (HEX)"},
        {10020, "#", "№"},
        {10023, "Online", "В сети"},
        {10101, "Remove device %s from the list?", "Удалить устройство с адресом %s из списка?"},
        {10102, "Device is not responding!", "Устройство не отвечает на запрос!"},
        {10103, "Text files (*.txt)|*.txt||", "Текстовые файлы (*.txt)|*.txt||"},
        {10104, "File save failed!", "Ошибка записи файла!"},
        {10115, "Ethernet adapter on this computer is not functioning properly!",
         "Сетевой адаптер не установлен или отключен!"},
        {10116, "Services found: %d", "Найдено программ: %d"},
        {10126, "Status and settings", ""},
        {10221, "#", "N"},
        {10303, "IP In / Out", "IP Вход / Выход"},
        {61712, "Please enter an integer.", "Please enter an integer."},
        {4242, "", ""},
    };
    for (const auto& row : rows) {
        setUseRussian(false);
        EXPECT_EQ(loadText(row.id), row.english) << row.id;
        setUseRussian(true);
        EXPECT_EQ(loadText(row.id), row.russian) << row.id;
    }
}

}  // namespace
}  // namespace corvane
