#pragma once
// The view panel Panel1 and the native surface the render device draws into. The surface is a
// QWindow embedded in the panel, so its pointer events arrive at the QWindow, which says what
// happened through its signals; without a surface (no 3-D display) the panel itself signals them
// and says that 3-D display is unavailable. Neither knows the window that listens.
#include <QFrame>
#include <QWindow>

#include "FeedMouseMove.h"

class QMouseEvent;

namespace tr4 {

ShiftState ShiftStateOf(const QMouseEvent& event);

class PanelSurface : public QWindow {
    Q_OBJECT

  public:
    PanelSurface() = default;

  signals:
    void exposed();  // a paint request of the view
    void mouseMoved(const tr4::ShiftState& shift, int x, int y);
    void mouseReleased();
    void levelDropped(const QString& path);  // a level file dropped onto the view

  protected:
    bool event(QEvent* event) override;  // a level file dropped onto the view opens
    void exposeEvent(QExposeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};

class PanelFrame : public QFrame {
    Q_OBJECT

  public:
    explicit PanelFrame(QWidget* parent);
    // Hosts the surface over the whole client area.
    void Embed(PanelSurface* surface);
    // Shows the text instead of a picture.
    void ShowUnavailable(const QString& text);
    QWidget* Container() const { return container; }

  signals:
    void mouseMoved(const tr4::ShiftState& shift, int x, int y);
    void mouseReleased();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    QWidget* container = nullptr;
    QString caption = QStringLiteral("Panel1");
};

}  // namespace tr4
