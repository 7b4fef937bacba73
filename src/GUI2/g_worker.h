// A unit of work on a thread of its own (the dump opener, the converter),
// watched from the user-interface thread: finished() is emitted there once
// the work has returned.
#pragma once

#include <QObject>
#include <functional>
#include <thread>

class gui_worker : public QObject {
  Q_OBJECT

 public:
  explicit gui_worker(QObject* parent = nullptr) : QObject(parent) {}
  // Waits for a thread still running: the wizard asks the work to stop
  // before it lets a worker go.
  ~gui_worker() override;

  // Runs the work on a new thread; the previous work must have finished.
  void start(std::function<void()> work);
  bool running() const { return m_running; }

 signals:
  void finished();

 private:
  std::thread m_thread;
  bool m_running = false;
};
