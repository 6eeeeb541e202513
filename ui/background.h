// Work off the window's thread: a function runs on the program's thread pool and its result is
// handed to the window's thread, as a queued call, for showing. A window that is gone by then
// gets nothing; the work itself runs to its end (what it reads must outlive the window).
#pragma once

#include <QFutureWatcher>
#include <QObject>
#include <QtConcurrent/QtConcurrentRun>
#include <type_traits>
#include <utility>

namespace cw::ui {

template <typename Work, typename Done>
void run_in_background(QObject* context, Work work, Done done) {
  using Result = std::invoke_result_t<Work>;
  auto* watcher = new QFutureWatcher<Result>(context);
  QObject::connect(watcher, &QFutureWatcher<Result>::finished, context,
                   [watcher, done = std::move(done)]() mutable {
                     watcher->deleteLater();
                     done(watcher->result());
                   });
  watcher->setFuture(QtConcurrent::run(std::move(work)));
}

}  // namespace cw::ui
