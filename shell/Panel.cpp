#include "Panel.h"

#include <QDropEvent>
#include <QExposeEvent>
#include <QMouseEvent>
#include <QPainter>

#include "MainWindow.h"  // LevelFileOf

namespace tr4 {

ShiftState ShiftStateOf(const QMouseEvent& event) {
    ShiftState s;
    const Qt::KeyboardModifiers keys = event.modifiers();
    const Qt::MouseButtons buttons = event.buttons();
    s.shift = keys.testFlag(Qt::ShiftModifier);
    s.ctrl = keys.testFlag(Qt::ControlModifier);
    s.alt = keys.testFlag(Qt::AltModifier);
    s.left = buttons.testFlag(Qt::LeftButton);
    s.right = buttons.testFlag(Qt::RightButton);
    s.middle = buttons.testFlag(Qt::MiddleButton);
    return s;
}

bool PanelSurface::event(QEvent* event) {
    switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDragMoveEvent*>(event);
            if (!LevelFileOf(drag->mimeData()).isEmpty()) {
                drag->acceptProposedAction();
            } else {
                drag->ignore();
            }
            return true;
        }
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            const QString path = LevelFileOf(drop->mimeData());
            if (path.isEmpty()) return true;
            drop->acceptProposedAction();
            emit levelDropped(path);
            return true;
        }
        default:
            return QWindow::event(event);
    }
}

void PanelSurface::exposeEvent(QExposeEvent*) {
    // A paint request of the view: draw the current state at once.
    if (isExposed()) emit exposed();
}

void PanelSurface::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    emit mouseMoved(ShiftStateOf(*event), p.x(), p.y());
}

void PanelSurface::mouseReleaseEvent(QMouseEvent*) {
    emit mouseReleased();
}

PanelFrame::PanelFrame(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setMouseTracking(true);
}

void PanelFrame::Embed(PanelSurface* surface) {
    container = QWidget::createWindowContainer(surface, this);
    container->setGeometry(rect());
    container->setFocusPolicy(Qt::NoFocus);
    container->show();  // the panel may be on screen already
}

void PanelFrame::ShowUnavailable(const QString& text) {
    caption = text;
    update();
}

void PanelFrame::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    QPainter painter(this);
    painter.drawText(contentsRect().adjusted(6, 0, -6, 0), Qt::AlignCenter | Qt::TextWordWrap,
                     caption);
}

void PanelFrame::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    emit mouseMoved(ShiftStateOf(*event), p.x(), p.y());
}

void PanelFrame::mouseReleaseEvent(QMouseEvent*) {
    emit mouseReleased();
}

}  // namespace tr4
