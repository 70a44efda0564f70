#include <gtest/gtest.h>

#include <set>
#include <string>

#include "discovery/catalogue.h"

namespace {

// The catalogue typed again, apart from its source, one row per entry in matching order:
// download-mode identifier, modem-mode identifier, generation, vendor, name ("-" for none).
struct Row {
    const wchar_t* download;
    const wchar_t* modem;
    int generation;
    const wchar_t* vendor;
    const wchar_t* name;
};

const Row kExpected[] = {
    {L"vid_03f0&pid_201d", L"vid_03f0&pid_1f1d", 1, L"HP", L"HP un2400 Mobile Broadband"},
    {L"vid_04da&pid_250c", L"vid_04da&pid_250d", 1, L"Panasonic",
     L"Panasonic: Gobi Wireless Modem"},
    {L"vid_05c6&pid_9008", L"-", 1, L"Qualcomm", L"Generic: Gobi Wireless Modem"},
    {L"-", L"vid_05c6&pid_9001", 1, L"Qualcomm", L"Generic: Gobi Wireless Modem 9001"},
    {L"-", L"vid_05c6&pid_9002", 1, L"Qualcomm", L"Generic: Gobi Wireless Modem 9002"},
    {L"vid_05c6&pid_9201", L"-", 1, L"Qualcomm", L"Generic: Gobi Wireless Modem"},
    {L"-", L"vid_05c6&pid_9202", 1, L"Qualcomm", L"Generic: Gobi Wireless Modem 9202"},
    {L"-", L"vid_05c6&pid_9203", 1, L"Qualcomm", L"Generic: Gobi Wireless Modem 9203"},
    {L"vid_05c6&pid_9211", L"vid_05c6&pid_9212", 1, L"Acer", L"Acer: Gobi Wireless Modem"},
    {L"vid_05c6&pid_9221", L"vid_05c6&pid_9222", 1, L"Qualcomm",
     L"Generic: Gobi Wireless Modem 9222"},
    {L"vid_0b05&pid_1774", L"vid_0b05&pid_1776", 1, L"ASUSTek", L"ASUSTek: Gobi Wireless Modem"},
    {L"vid_1410&pid_a008", L"vid_1410&pid_a001", 1, L"Novatel", L"Novatel: Gobi Wireless Modem"},
    {L"vid_19d2&pid_fff2", L"vid_19d2&pid_fff3", 1, L"ONDA Communication",
     L"ONDA Communication: Gobi Wireless Modem"},
    {L"vid_413c&pid_8171", L"vid_413c&pid_8172", 1, L"Dell", L"Dell: Gobi Wireless Modem"},
    {L"vid_03f0&pid_241d", L"vid_03f0&pid_251d", 2, L"HP", L"HP un2420 Mobile Broadband"},
    {L"vid_05c6&pid_9204", L"vid_05c6&pid_9205", 2, L"Lenovo",
     L"Lenovo: Qualcomm Gobi 2000 HS-USB"},
    {L"vid_05c6&pid_9214", L"vid_05c6&pid_9215", 2, L"Acer", L"Acer: Qualcomm Gobi2000 HS-USB"},
    {L"vid_05c6&pid_9224", L"vid_05c6&pid_9225", 2, L"Sony", L"Sony: Qualcomm Gobi 2000 HS-USB"},
    {L"vid_413c&pid_8185", L"vid_413c&pid_8186", 2, L"Dell",
     L"Dell: DW5620 (EV-DO-HSPA) Mobile Broadband"},
    {L"vid_1199&pid_9000", L"-", 2, L"Sierra", L"Sierra Wireless Gobi 2000 USB"},
    {L"-", L"vid_1199&pid_9001", 2, L"Sierra", L"Sierra Wireless Gobi 2000 USB (9001)"},
    {L"-", L"vid_1199&pid_9002", 2, L"Sierra", L"Sierra Wireless Gobi 2000 USB (9002)"},
    {L"-", L"vid_1199&pid_9003", 2, L"Sierra", L"Sierra Wireless Gobi 2000 USB (9003)"},
    {L"-", L"vid_1199&pid_9004", 2, L"Sierra", L"Sierra Wireless Gobi 2000 USB (9004)"},
    {L"-", L"vid_1199&pid_9005", 2, L"Sierra", L"Sierra Wireless Gobi 2000 USB (9005)"},
    {L"-", L"vid_1199&pid_9006", 2, L"Sierra", L"Sierra Wireless Gobi 2000 USB (9006)"},
    {L"-", L"vid_1199&pid_9007", 2, L"Sierra", L"Sierra Wireless Gobi 2000 USB (9007)"},
    {L"-", L"vid_1199&pid_9008", 2, L"Sierra", L"Sierra Wireless Gobi 2000 USB (9008)"},
    {L"-", L"vid_1199&pid_9009", 2, L"Sierra", L"Sierra Wireless Gobi 2000 USB (9009)"},
    {L"-", L"vid_1199&pid_900a", 2, L"Sierra", L"Sierra Wireless Gobi 2000 USB (900A)"},
    {L"vid_05c6&pid_9244", L"vid_05c6&pid_9245", 2, L"Samsung",
     L"Samsung: Qualcomm Gobi 2000 HS-USB"},
    {L"vid_05c6&pid_9264", L"vid_05c6&pid_9265", 2, L"Asus", L"Asus: Qualcomm Gobi 2000 HS-USB"},
    {L"vid_16d8&pid_8001", L"vid_16d8&pid_8002", 2, L"Cmotech",
     L"CMOTECH: Qualcomm Gobi 2000 HS-USB"},
    {L"vid_05c6&pid_9234", L"vid_05c6&pid_9235", 2, L"TopGlobal",
     L"Top Global Gobi 2000 Wireless Modem"},
    {L"vid_05c6&pid_9274", L"vid_05c6&pid_9275", 2, L"iRexTech",
     L"iRex Technologies Gobi 2000 Wireless Modem"},
};

std::wstring Identifier(const wchar_t* row) {
    return row == std::wstring(L"-") ? L"" : row;
}

TEST(CatalogueTest, HoldsEveryEntryInOrder) {
    static_assert(std::size(kExpected) == kCatalogueSize);
    for (size_t i = 0; i < kCatalogueSize; ++i) {
        SCOPED_TRACE(i + 1);
        const CatalogueEntry& entry = kCatalogue[i];
        EXPECT_EQ(std::wstring(entry.DownloadId), Identifier(kExpected[i].download));
        EXPECT_EQ(std::wstring(entry.ModemId), Identifier(kExpected[i].modem));
        EXPECT_EQ(entry.Generation, kExpected[i].generation);
        EXPECT_EQ(std::wstring(entry.Vendor), kExpected[i].vendor);
        EXPECT_EQ(std::wstring(entry.Name), kExpected[i].name);
    }
}

TEST(CatalogueTest, IdentifiersAreWellFormedAndUnique) {
    std::set<std::wstring> seen;
    for (const CatalogueEntry& entry : kCatalogue) {
        for (const wchar_t* id : {entry.DownloadId, entry.ModemId}) {
            const std::wstring text(id);
            if (text.empty()) {
                continue;
            }
            EXPECT_EQ(text.size(), kUsbIdLength) << text;
            EXPECT_EQ(text.compare(0, 4, L"vid_"), 0) << text;
            EXPECT_EQ(text.compare(8, 5, L"&pid_"), 0) << text;
            EXPECT_TRUE(seen.insert(text).second) << text << " occurs twice";
        }
    }
    EXPECT_EQ(seen.size(), 53u);
}

}  // namespace
