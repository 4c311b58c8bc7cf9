// CMonvidPropPage: the control's property page. It shows one text and exchanges nothing.
#pragma once

#include <QDialog>

class CMonvidPropPage : public QDialog {
    Q_OBJECT
  public:
    explicit CMonvidPropPage(QWidget* parent);
};
