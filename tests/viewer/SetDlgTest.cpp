// The settings dialog against a settings file it cannot write, and long addresses that must
// be cut between characters. Each test works in a folder of its own.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QMessageBox>
#include <QTimer>
#include <QTreeWidget>

#include <filesystem>
#include <fstream>

#include "PrivateProfile.h"
#include "SetDlg.h"
#include "Settings.h"
#include "support/media.h"

namespace {

class SetDlgTest : public ::testing::Test {
  protected:
    void SetUp() override {
        previous_ = std::filesystem::current_path();
        std::filesystem::create_directories(work());
        std::filesystem::current_path(work());
    }
    void TearDown() override { std::filesystem::current_path(previous_); }

    std::filesystem::path work() const { return dir_.path() / "work"; }
    // The current folder goes away under the viewer, as a folder it may not write to: no
    // set.ini can be made there, whoever runs the test.
    void loseTheCurrentFolder() {
        const std::filesystem::path gone = dir_.path() / "gone";
        std::filesystem::create_directories(gone);
        std::filesystem::current_path(gone);
        std::filesystem::remove_all(gone);
    }
    static std::string setting(const std::string& key) {
        return platform::GetPrivateProfileString("config", key, "?", "./set.ini",
                                                 std::string::npos);
    }
    static void fill(CSetDlg& dialog) {
        dialog.OnBnClickedClear();
        dialog.addRow("rtsp://10.0.0.7/cam");
        dialog.addRow("/media/门口.mp4");
        dialog.m_cbWinNum->setEditText("9");
        dialog.m_chkReplay->setChecked(true);
    }
    static void expectFilled(const CSetDlg& dialog) {
        ASSERT_EQ(dialog.m_lstSources->topLevelItemCount(), 2);
        EXPECT_EQ(dialog.m_lstSources->topLevelItem(0)->text(1), "rtsp://10.0.0.7/cam");
        EXPECT_EQ(dialog.m_lstSources->topLevelItem(1)->text(1),
                  QString::fromUtf8("/media/门口.mp4"));
        EXPECT_EQ(dialog.m_cbWinNum->currentText(), "9");
        EXPECT_TRUE(dialog.m_chkReplay->isChecked());
    }

    testsupport::TempDir dir_;
    std::filesystem::path previous_;
};

}  // namespace

TEST_F(SetDlgTest, AnUnwritableSettingsFileIsReportedAndTheDialogKeepsItsContents) {
    for (const bool folderGone : {true, false}) {
        SCOPED_TRACE(folderGone ? "current folder gone" : "set.ini is a folder");
        if (folderGone)
            loseTheCurrentFolder();
        else
            std::filesystem::create_directory("set.ini");
        CSetDlg dialog(nullptr);
        std::vector<QString> reports;
        dialog.reportError = [&](const QString& message) { reports.push_back(message); };
        fill(dialog);
        dialog.accept();
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_TRUE(reports[0].contains(QString::fromUtf8("无法写入设置文件")))
            << reports[0].toStdString();
        EXPECT_TRUE(reports[0].contains("set.ini")) << reports[0].toStdString();
        EXPECT_NE(dialog.result(), QDialog::Accepted);
        expectFilled(dialog);

        // Once the folder can be written, saving again stores what was kept.
        std::filesystem::current_path(work());
        std::filesystem::remove_all("set.ini");
        dialog.accept();
        EXPECT_EQ(reports.size(), 1u);
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(setting("winnum"), "9");
        EXPECT_EQ(setting("replay"), "1");
        EXPECT_EQ(setting("file0"), "rtsp://10.0.0.7/cam");
        EXPECT_EQ(setting("file1"), "/media/门口.mp4");
        EXPECT_EQ(setting("file2"), "");
        std::filesystem::remove("set.ini");
    }
}

TEST_F(SetDlgTest, TheFailureIsShownInAWarningBoxNamingTheFile) {
    loseTheCurrentFolder();
    CSetDlg dialog(nullptr);
    fill(dialog);
    // The box is modal: a timer reads and closes it from inside its own event loop.
    QString shown;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shown = box->text();
            EXPECT_EQ(box->icon(), QMessageBox::Warning);
            box->done(QMessageBox::Ok);
        }
    });
    closer.start(10);
    dialog.accept();
    closer.stop();
    EXPECT_TRUE(shown.contains(QString::fromUtf8("无法写入设置文件"))) << shown.toStdString();
    EXPECT_TRUE(shown.contains("set.ini")) << shown.toStdString();
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    expectFilled(dialog);
}

TEST_F(SetDlgTest, LongAddressesAreCutBetweenCharacters) {
    const std::string zhong = "中";  // three bytes in UTF-8
    const std::string a1020(1020, 'a');
    {
        CSetDlg dialog(nullptr);
        dialog.OnBnClickedClear();
        dialog.addRow(QString::fromStdString(a1020 + zhong));               // 1023 bytes: kept
        dialog.addRow(QString::fromStdString(a1020 + "a" + zhong));         // 1024: 中 goes
        dialog.addRow(QString::fromStdString(a1020 + "aa" + zhong + "x"));  // 1026: 中 and x go
        dialog.accept();
        ASSERT_EQ(dialog.result(), QDialog::Accepted);
    }
    EXPECT_EQ(setting("file0"), a1020 + zhong);
    EXPECT_EQ(setting("file1"), a1020 + "a");
    EXPECT_EQ(setting("file2"), a1020 + "aa");

    // A longer value written by something else is cut the same way when the dialog reads it.
    std::ofstream("set.ini", std::ios::binary | std::ios::trunc)
        << "[config]\r\nwinnum=1\r\nfile0=" << a1020 << "aa" << zhong << "x\r\n";
    CSetDlg dialog(nullptr);
    ASSERT_EQ(dialog.m_lstSources->topLevelItemCount(), 1);
    EXPECT_EQ(dialog.m_lstSources->topLevelItem(0)->text(1).toStdString(), a1020 + "aa");

    EXPECT_EQ(vidwall::utf8Prefix("ab\xF0\x9F\x98\x80", 5), "ab");  // a four-byte character
    EXPECT_EQ(vidwall::utf8Prefix("ab\xF0\x9F\x98\x80", 6), "ab\xF0\x9F\x98\x80");
    EXPECT_EQ(vidwall::utf8Prefix("\xE4\xB8\xAD", 2), "");
}

TEST_F(SetDlgTest, AWindowCountTheWallCannotLayOutIsReportedAndNothingIsSaved) {
    std::ofstream("set.ini", std::ios::binary) << "[config]\r\nwinnum=4\r\nfile0=a.mp4\r\n";
    const auto before = [] {
        std::ifstream in("set.ini", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }();
    for (const char* typed : {"3", "20", "0", "-4", "abc", "99999999999"}) {
        SCOPED_TRACE(typed);
        CSetDlg dialog(nullptr);
        std::vector<QString> reports;
        dialog.reportError = [&](const QString& message) { reports.push_back(message); };
        fill(dialog);
        dialog.m_cbWinNum->setEditText(typed);
        dialog.accept();
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_TRUE(reports[0].contains(QString::fromUtf8("1、2、4、9 或 16")))
            << reports[0].toStdString();
        EXPECT_TRUE(reports[0].contains(typed)) << reports[0].toStdString();
        EXPECT_NE(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(dialog.m_nWinNum, 1);                          // not taken
        EXPECT_EQ(dialog.m_lstSources->topLevelItemCount(), 2);  // kept for a second try
        std::ifstream in("set.ini", std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), before);

        // Corrected, it saves.
        dialog.m_cbWinNum->setEditText("16");
        dialog.accept();
        EXPECT_EQ(reports.size(), 1u);
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(setting("winnum"), "16");
        std::ofstream("set.ini", std::ios::binary | std::ios::trunc) << before;
    }
}

TEST_F(SetDlgTest, AnotherSettingsFileIsTheOneReadAndWritten) {
    const std::string other = (dir_.path() / "elsewhere.ini").string();
    std::ofstream(other, std::ios::binary) << "[config]\r\nwinnum=2\r\nfile1=cam.mp4\r\n";
    CSetDlg dialog(nullptr, other);
    ASSERT_EQ(dialog.m_lstSources->topLevelItemCount(), 2);
    EXPECT_EQ(dialog.m_lstSources->topLevelItem(1)->text(1), "cam.mp4");
    dialog.m_cbWinNum->setEditText("1");
    dialog.accept();
    EXPECT_EQ(platform::GetPrivateProfileInt("config", "winnum", 0, other), 1);
    EXPECT_FALSE(std::filesystem::exists("set.ini"));
}
