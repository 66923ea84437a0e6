#pragma once
// The application's idle notification: calls the handler once each time the event loop is about
// to wait after it has delivered events, and not again until a new event has been delivered. So
// one frame follows every burst of events and none is drawn while nothing happens; there is no
// timer.
#include <functional>

#include <QObject>

namespace tr4 {

class IdleWatcher : public QObject {
  public:
    explicit IdleWatcher(std::function<void()> handler, QObject* parent = nullptr);
    // Idle notifications seen, for tests.
    int Calls() const { return calls; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void AboutToBlock();

    std::function<void()> handler;
    bool done = false;  // called since the last event
    bool inHandler = false;
    int calls = 0;
};

}  // namespace tr4
