// Every text routine of the wizard and its pages, in all three languages, on real windows
// made from the installer's own templates (linked into this test).
#include "DlgProtocol.h"
#include "DlgSetup.h"
#include "PellarSetupDlg.h"
#include "globals.h"

#include <gtest/gtest.h>

#include <commctrl.h>

namespace {

std::string Item(HWND dlg, int id) {
    wchar_t buf[1024] = {};
    GetDlgItemTextW(dlg, id, buf, 1024);
    return ToUtf8(buf);
}

std::string Caption(HWND h) {
    wchar_t buf[256] = {};
    GetWindowTextW(h, buf, 256);
    return ToUtf8(buf);
}

class Languages : public ::testing::Test {
  protected:
    void SetUp() override {
        INITCOMMONCONTROLSEX icc = {sizeof(icc), 0xFF};
        InitCommonControlsEx(&icc);
        InitInstallerGlobals();
        ASSERT_TRUE(m_dlg.Create(102, nullptr));
        ASSERT_TRUE(m_dlg.m_pDlgProtocol && m_dlg.m_pDlgSetup);
    }
    void TearDown() override { g_nLangID = 2052; }
    void Apply(int lang) {
        g_nLangID = lang;
        m_dlg.SetLanguageTexts();
        m_dlg.m_pDlgSetup->SetPageTexts();
        m_dlg.m_pDlgProtocol->LoadLicenseText();
    }
    CPellarSetupDlg m_dlg;
};

TEST_F(Languages, EachLanguageSetsItsOwnTexts) {
    struct Case {
        int lang;
        const char *caption, *accept, *cancel, *install, *finish, *home, *browser;
        const char *heading, *group, *explain, *browse, *choose, *freeCaption, *requiredCaption;
    } cases[] = {
        {2052, "Tessaly安装程序", "接受", "取消", "安装", "完成", "将Sorvik设为首页",
         "添加浏览器支持（Maxthon、Firefox）", "安装协议", "目标文件夹",
         "Setup将Tessaly安装在下列路径，如果要安装在不同的路径，单击[浏览]并选择其他的路径，单击["
         "安装]"
         "开始安装Tessaly",
         "浏览", "选择安装路径", "剩余空间", "所需空间"},
        {1028, "Tessaly安裝程式", "接受", "取消", "安裝", "完成", "將Sorvik設為首頁",
         "添加瀏覽器支持（Maxthon、Firefox）", "安裝協議", "目標檔夾",
         "Setup將Tessaly安裝在下列路徑，如果要安裝在不同的路徑，單擊[瀏覽]並選擇其他的路徑，單擊["
         "安裝]"
         "開始安裝Tessaly",
         "瀏覽", "選擇安裝路徑", "剩餘空間", "所需空間"},
        {1033, "Tessaly Install.exe", "Accept", "Cancel", "Install", "Finish",
         "Set http://www.sorvik.example as homepage", "Browser Solutions(Maxthon、Firefox)",
         "License Agreement", "Save as",
         "Pellar will be installed into the folder listed as below. Please click Browse and asign "
         "another folder if you decide to change the path. Click 'Install' to start install "
         "Tessaly",
         "Browse", "Choose Disk File", "Space Available:", "Space Required:"},
    };
    // From English back to Simplified Chinese too: nothing is cached.
    for (int pass = 0; pass < 2; ++pass) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.lang);
            Apply(c.lang);
            EXPECT_EQ(Caption(m_dlg.m_hWnd), c.caption);
            EXPECT_EQ(Item(m_dlg.m_hWnd, 1000), c.accept);
            EXPECT_EQ(Item(m_dlg.m_hWnd, 1001), c.cancel);
            EXPECT_EQ(Item(m_dlg.m_hWnd, 1002), c.install);
            EXPECT_EQ(Item(m_dlg.m_hWnd, 1009), c.finish);
            EXPECT_EQ(Item(m_dlg.m_hWnd, 1029), c.home);
            EXPECT_EQ(Item(m_dlg.m_hWnd, 1030), c.browser);
            HWND lic = m_dlg.m_pDlgProtocol->m_hWnd;
            EXPECT_EQ(Item(lic, 1013), c.heading);
            HWND loc = m_dlg.m_pDlgSetup->m_hWnd;
            EXPECT_EQ(Item(loc, 1008), "C:\\Program Files\\Tessaly\\");
            EXPECT_EQ(Item(loc, 1015), c.group);
            EXPECT_EQ(Item(loc, 1022), c.explain);
            EXPECT_EQ(Item(loc, 1000), c.browse);
            EXPECT_EQ(Item(loc, 1016), c.choose);
            EXPECT_EQ(Item(loc, 1024), c.freeCaption);
            EXPECT_EQ(Item(loc, 1025), c.requiredCaption);
            EXPECT_EQ(Item(loc, 1027), "16.00 MB");
        }
    }
}

TEST_F(Languages, UnknownLanguageLeavesTextsButResetsThePath) {
    Apply(1033);
    SetDlgItemTextW(m_dlg.m_pDlgSetup->m_hWnd, 1008, L"D:\\Games\\");
    Apply(1041);
    EXPECT_EQ(Caption(m_dlg.m_hWnd), "Tessaly Install.exe");
    EXPECT_EQ(Item(m_dlg.m_hWnd, 1002), "Install");
    EXPECT_EQ(Item(m_dlg.m_pDlgProtocol->m_hWnd, 1013), "License Agreement");
    EXPECT_EQ(Item(m_dlg.m_pDlgSetup->m_hWnd, 1015), "Save as");
    EXPECT_EQ(Item(m_dlg.m_pDlgSetup->m_hWnd, 1008), "C:\\Program Files\\Tessaly\\");
}

} // namespace
