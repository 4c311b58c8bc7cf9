// CColorStaticST: a static text that paints its own text and background colours; the
// title strip of every video window.
#pragma once

#include <QLabel>

#include <cstdint>

using COLORREF = std::uint32_t;  // 0x00BBGGRR

// Colour of a COLORREF as Qt knows it.
QColor colorFromRef(COLORREF ref);

class CColorStaticST : public QLabel {
    Q_OBJECT
  public:
    // Title strip colours.
    static constexpr COLORREF kInactiveBk = 0x787878;   // grey, not selected
    static constexpr COLORREF kActiveBk = 0x7878FF;     // red 255, green 120, blue 120: selected
    static constexpr COLORREF kDefaultBk = 0xFFFFFFFF;  // the system button-face colour

    explicit CColorStaticST(QWidget* parent);

    // Sets the background colour (kDefaultBk: the system button-face colour) and repaints.
    void SetBkColor(COLORREF c);
    COLORREF bkColor() const { return m_crBk; }
    COLORREF textColor() const { return m_crText; }

  signals:
    void clicked();        // a click on the strip
    void doubleClicked();  // a double-click on the strip

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

  private:
    COLORREF m_crText;  // text colour: the system button-text colour
    COLORREF m_crBk;    // background colour
};
