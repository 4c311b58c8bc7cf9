// CAboutDlg: the About box.
#pragma once

#include <QDialog>

class CAboutDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CAboutDlg(QWidget* parent);
};

// The program icon, drawn at start-up.
QIcon vidwallIcon();
