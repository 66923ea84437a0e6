#pragma once
// The view panel Panel1 and the native surface the render device draws into. The surface is a
// QWindow embedded in the panel, so its pointer events arrive at the QWindow and are forwarded
// from there to the window's panel handlers; without a surface (no 3-D display) the panel itself
// forwards them and says that 3-D display is unavailable.
#include <QFrame>
#include <QWindow>

#include "FeedMouseMove.h"

class QMouseEvent;

namespace tr4 {

class TForm1;

ShiftState ShiftStateOf(const QMouseEvent& event);

class PanelSurface : public QWindow {
  public:
    explicit PanelSurface(TForm1& form);

  protected:
    bool event(QEvent* event) override;  // a level file dropped onto the view opens
    void exposeEvent(QExposeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    TForm1& form;
};

class PanelFrame : public QFrame {
  public:
    PanelFrame(TForm1& form, QWidget* parent);
    // Hosts the surface over the whole client area.
    void Embed(PanelSurface* surface);
    // Shows the text instead of a picture.
    void ShowUnavailable(const QString& text);
    QWidget* Container() const { return container; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    TForm1& form;
    QWidget* container = nullptr;
    QString caption = QStringLiteral("Panel1");
};

}  // namespace tr4
