// CSetDlg: the settings dialog. The window count, loop play and the list of video sources,
// one row per window in window order; saving writes them all to the settings file.
#pragma once

#include <QDialog>

#include <functional>
#include <optional>
#include <string>

#include "Settings.h"

class QCheckBox;
class QComboBox;
class QTreeWidget;

class CSetDlg : public QDialog {
    Q_OBJECT
  public:
    // Reads and writes `settingsFile` ("./set.ini" unless the program was told another).
    explicit CSetDlg(QWidget* parent, std::string settingsFile = vidwall::kSettingsFile);

    QComboBox* m_cbWinNum = nullptr;      // item 1007
    QTreeWidget* m_lstSources = nullptr;  // item 1008
    QCheckBox* m_chkReplay = nullptr;     // item 1009
    int m_nWinNum = 1;                    // the count taken when saving
    const std::string m_strSettingsFile;

    // How a file and an address are asked for: the file dialog and CSetUrlDlg, unless a host
    // (or a test) puts something else here. An empty file or a missing address adds nothing.
    std::function<QString()> chooseFile;
    std::function<std::optional<QString>()> askAddress;
    // How a failed save (the file cannot be written, or the window count is not one the wall
    // lays out) is told to the user: a warning box with `message`, unless a host (or a test)
    // puts something else here.
    std::function<void(const QString& message)> reportError;

    void OnBnClickedAddFile();
    void OnBnClickedAddUrl();
    void OnBnClickedClear();
    // OnOK: saves, then ends with OK. When the window count is not 1, 2, 4, 9 or 16 nothing is
    // saved, and when the settings file cannot be written, not everything: the user is told
    // and the dialog stays open with everything in it.
    void accept() override;

    // Appends a row "N号窗口" (N = rows so far) with the source.
    void addRow(const QString& source);

  private:
    void OnInitDialog();
    bool saveSettings();  // false at the first write that fails
};

// The count typed into the combo box: its leading decimal digits (an optional sign first),
// 0 when there are none.
int leadingInteger(const QString& text);
