#include "IdleWatcher.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>

namespace tr4 {

IdleWatcher::IdleWatcher(std::function<void()> handler, QObject* parent)
    : QObject(parent), handler(std::move(handler)) {
    QCoreApplication::instance()->installEventFilter(this);
    if (auto* dispatcher = QAbstractEventDispatcher::instance()) {
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this,
                &IdleWatcher::AboutToBlock);
    }
}

bool IdleWatcher::eventFilter(QObject*, QEvent* event) {
    switch (event->type()) {
        // Drawing a frame posts these itself; counting them would draw frame after frame
        // while nothing happens. Timers tick on their own too (the text cursor blinking in a
        // focused box), and so do the repaint they cause and the display connection's replies
        // to it: none of them is something happening. What the display sends that matters
        // arrives as events of its own (keys, the pointer, exposure).
        case QEvent::UpdateRequest:
        case QEvent::DeferredDelete:
        case QEvent::Timer:
        case QEvent::Paint:
        case QEvent::SockAct:
        case QEvent::SockClose:
        case QEvent::ChildAdded:  // the object tree's bookkeeping: timers come and go
        case QEvent::ChildRemoved:
        case QEvent::ChildPolished:
            break;
        default:
            if (!inHandler) done = false;
    }
    return false;
}

void IdleWatcher::AboutToBlock() {
    if (done || inHandler) return;
    ++calls;
    inHandler = true;
    done = true;
    handler();
    inHandler = false;
}

}  // namespace tr4
