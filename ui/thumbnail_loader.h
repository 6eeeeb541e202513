// Thumbnails decoded on worker threads. The grid asks for the thumbnails it is about to show;
// the newest requests are served first, so that after a fast scroll the screen in view fills
// before the rows that went past. Each thumbnail comes from the file's embedded preview
// (control/image_choice.h), decoded at the grid's size: a full raw is never decoded for it.
// With the picture come the facts shown under it: the capture time and, for a movie, its
// length.
#pragma once

#include <QImage>
#include <QObject>
#include <QString>
#include <QThreadPool>
#include <atomic>
#include <mutex>
#include <utility>
#include <vector>

#include "control/image_choice.h"

namespace cw::ui {

class ThumbnailLoader : public QObject {
  Q_OBJECT

 public:
  // `edge`: the longest side of a thumbnail in pixels.
  explicit ThumbnailLoader(int edge, QObject* parent = nullptr);
  ~ThumbnailLoader() override;

  void request(int id, const QString& path);
  int edge() const { return edge_; }

  // Decodes a preview scaled to fit `edge` x `edge`, upright; a null image when there is none.
  // An embedded picture that cannot be decoded gives way to the file itself when that is a
  // JPEG.
  static QImage decode(const Thumbnail& thumbnail, const QString& path, int edge);
  // The large view of an image (its largest preview), fitted to `edge`. Slow: call it off the
  // window's thread.
  static QImage load_large(const QString& path, int edge);

 Q_SIGNALS:
  // From a worker thread; connect with a queued or automatic connection. `captured` is the
  // capture time ("" when unknown); `duration` a movie's length in seconds (negative for a
  // still image or an unknown length).
  void loaded(int id, const QImage& image, const QString& captured, bool video, double duration);
  // A request that was dropped to make room for newer ones; ask again when still wanted.
  void dropped(int id);

 private:
  void work();

  const int edge_;
  QThreadPool pool_;
  std::mutex mutex_;                              // guards pending_
  std::vector<std::pair<int, QString>> pending_;  // newest last
  std::atomic<bool> quit_{false};
};

}  // namespace cw::ui
