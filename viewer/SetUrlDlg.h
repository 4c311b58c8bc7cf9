// CSetUrlDlg: asks for one RTMP or RTSP address.
#pragma once

#include <QDialog>

class QLineEdit;

class CSetUrlDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CSetUrlDlg(QWidget* parent);

    QString m_strAddress;              // empty before the dialog runs; the typed text after OK
    QLineEdit* m_edAddress = nullptr;  // item 1004

    void accept() override;  // OnOK: takes the address, then ends with OK
};
