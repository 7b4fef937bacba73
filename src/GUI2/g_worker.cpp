// A unit of work on a thread of its own.
#include "GUI2/g_worker.h"

#include <QMetaObject>
#include <QPointer>

#include "TK/tk_exc.h"

gui_worker::~gui_worker() {
  if (m_thread.joinable()) m_thread.join();
}

void gui_worker::start(std::function<void()> work) {
  TK_ASSERT(!m_running);
  if (m_thread.joinable()) m_thread.join();
  m_running = true;
  m_thread = std::thread([this, work = std::move(work)] {
    try {
      work();
    } catch (...) {
      // The work reports its own failures; nothing may escape a thread.
    }
    // finished() is posted to the user-interface thread; the worker object
    // outlives the thread (its destructor joins it).
    QMetaObject::invokeMethod(
        this,
        [this] {
          if (m_thread.joinable()) m_thread.join();
          m_running = false;
          emit finished();
        },
        Qt::QueuedConnection);
  });
}
