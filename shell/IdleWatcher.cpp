#include "IdleWatcher.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>

IdleWatcher::IdleWatcher(std::function<void(bool& done)> handler, QObject* parent)
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
        // while nothing happens.
        case QEvent::UpdateRequest:
        case QEvent::DeferredDelete:
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
    handler(done);
    inHandler = false;
}
