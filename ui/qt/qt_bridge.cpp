// The thread bridge: what other threads ask of a window is carried out on
// the GUI thread, sent (the caller waits) or posted (it does not).

#include <QCoreApplication>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "ui/qt/qt_impl.h"

namespace quillon::ui {

namespace qt_detail {

const QEvent::Type kCallEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

bool Invoker::event(QEvent* event) {
  if (event->type() == kCallEvent) {
    impl_.RunCall(*static_cast<CallEvent*>(event));
    return true;
  }
  return QObject::event(event);
}

}  // namespace qt_detail

bool QtBackend::Impl::Call(WindowHandle target, const std::function<void()>& task) {
  if (OnGui()) {
    task();
    return true;
  }
  auto completion = std::make_shared<Completion>();
  {
    std::lock_guard lock(mutex);
    if (target != kNoWindow) {
      const auto it = windows.find(target);
      if (it == windows.end() || !it->second->alive.load()) return false;
      pending.emplace_back(target, completion);
    }
  }
  // Ahead of posted messages, as a sent message goes before them.
  QCoreApplication::postEvent(invoker.get(), new CallEvent(target, task, completion),
                              Qt::HighEventPriority);
  std::unique_lock lock(completion->mutex);
  completion->done.wait(lock, [&] { return completion->finished; });
  return !completion->cancelled;
}

void QtBackend::Impl::CancelPending(WindowHandle window) {
  std::vector<std::shared_ptr<Completion>> cancel;
  {
    std::lock_guard lock(mutex);
    for (auto it = pending.begin(); it != pending.end();) {
      auto completion = it->second.lock();
      if (!completion || it->first == window) {
        if (completion) cancel.push_back(std::move(completion));
        it = pending.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (const auto& completion : cancel) {
    // A call that runs now (it may be the one destroying the window)
    // finishes by itself: its caller's data is in use until then.
    std::lock_guard lock(completion->mutex);
    if (completion->running || completion->finished) continue;
    completion->cancelled = true;
    completion->finished = true;
    completion->done.notify_all();
  }
}

void QtBackend::Impl::RunCall(CallEvent& call) {
  const bool wanted = call.target == kNoWindow || Alive(call.target);
  if (!call.completion) {
    if (wanted) call.task();
    return;
  }
  Completion& completion = *call.completion;
  {
    std::lock_guard lock(completion.mutex);
    if (completion.finished) return;  // cancelled meanwhile
    completion.running = true;
  }
  if (wanted) call.task();
  std::lock_guard lock(completion.mutex);
  completion.cancelled = !wanted;
  completion.finished = true;
  completion.done.notify_all();
}

// --- Messages -------------------------------------------------------------

intptr_t QtBackend::Send(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (window == kNoWindow) return 0;
  intptr_t result = 0;
  impl_->Call(window, [&] { result = impl_->Deliver(window, message, wParam, lParam); });
  return result;
}

bool QtBackend::Post(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (!impl_->Alive(window)) return false;
  Impl* impl = impl_;
  QCoreApplication::postEvent(impl->invoker.get(), new CallEvent(
                                                       window,
                                                       [impl, window, message, wParam, lParam] {
                                                         impl->Deliver(window, message, wParam,
                                                                       lParam);
                                                       },
                                                       nullptr));
  return true;
}

}  // namespace quillon::ui
