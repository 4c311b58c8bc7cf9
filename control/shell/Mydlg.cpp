#include "Mydlg.h"

#include <QKeyEvent>
#include <QPalette>

#include "ControlLanguage.h"
#include "GridLayout.h"

CMydlg::CMydlg(QWidget* parent) : QWidget(parent) {
    // The uncovered pixel rows and columns between cells show this colour.
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QColor(32, 32, 32));
    setPalette(palette);
    setAutoFillBackground(true);
    setFocusPolicy(Qt::ClickFocus);  // a click on the wall lets it take its keys
    // What the windows draw (idle picture, badge, figures) speaks the host's language, also
    // in a host that embeds the grid without the control around it.
    monvid::useControlLanguage();
    OnInitDialog();
}

CMydlg::~CMydlg() {
    // Each window ends its play thread when it is destroyed with this grid.
}

void CMydlg::OnInitDialog() {
    m_bInited = true;
    for (int i = 0; i < kWindowCount; ++i) {
        m_wndVideo[i] = new CShowVideoDlg(this);
        m_wndVideo[i]->hide();
        m_wndVideo[i]->SetTitle(QString::number(i));
    }
    LayoutWindows(m_nWindowCount);
}

int CMydlg::LayoutWindows(int count) {
    m_nWindowCount = count;
    if (!monvid::gridShape(count))
        return 0;
    for (int i = 0; i < count; ++i)
        m_wndVideo[i]->show();
    for (int i = count; i < kWindowCount; ++i)
        m_wndVideo[i]->hide();
    for (int i = 0; i < count; ++i) {
        m_wndVideo[i]->setGeometry(monvid::gridCell(count, i, size()));
        m_wndVideo[i]->update();
    }
    return 0;
}

void CMydlg::DeactivateAll() {
    for (CShowVideoDlg* w : m_wndVideo)
        w->Deactivate();
}

void CMydlg::HideAll() {
    for (CShowVideoDlg* w : m_wndVideo)
        w->hide();
}

void CMydlg::SetReplayAll(bool replay) {
    for (CShowVideoDlg* w : m_wndVideo)
        w->m_bReplay = replay;
}

void CMydlg::SetMaxDelayAll(int ms) {
    for (CShowVideoDlg* w : m_wndVideo)
        w->SetMaxDelay(ms);
}

void CMydlg::ToggleHealthOverlays() {
    bool allOn = true;
    for (CShowVideoDlg* w : m_wndVideo)
        allOn = allOn && w->healthOverlay();
    for (CShowVideoDlg* w : m_wndVideo)
        w->SetHealthOverlay(!allOn);
}

void CMydlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_H &&
        !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
        ToggleHealthOverlays();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void CMydlg::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (m_bInited)
        LayoutWindows(m_nWindowCount);
}

void CMydlg::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    if (m_bInited)
        LayoutWindows(m_nWindowCount);
}
