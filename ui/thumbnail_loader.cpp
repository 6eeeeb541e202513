// The thumbnail workers.
#include "ui/thumbnail_loader.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>
#include <QTransform>

namespace cw::ui {

namespace {

// Requests kept waiting at most; older ones are dropped (the grid asks again if need be).
constexpr std::size_t kMaxPending = 256;

QImage read_scaled(QImageReader& reader, int edge) {
  reader.setAutoTransform(false);
  const QSize size = reader.size();
  if (size.isValid() && (size.width() > edge || size.height() > edge))
    reader.setScaledSize(size.scaled(edge, edge, Qt::KeepAspectRatio));
  return reader.read();
}

}  // namespace

ThumbnailLoader::ThumbnailLoader(int edge, QObject* parent) : QObject(parent), edge_(edge) {
  pool_.setMaxThreadCount(std::max(2, QThread::idealThreadCount()));
}

ThumbnailLoader::~ThumbnailLoader() {
  quit_ = true;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    pending_.clear();
  }
  pool_.waitForDone();
}

void ThumbnailLoader::request(int id, const QString& path) {
  std::vector<int> dropped_ids;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    pending_.emplace_back(id, path);
    while (pending_.size() > kMaxPending) {
      dropped_ids.push_back(pending_.front().first);
      pending_.erase(pending_.begin());
    }
  }
  for (int d : dropped_ids) Q_EMIT dropped(d);
  pool_.start([this] { work(); });
}

void ThumbnailLoader::work() {
  std::pair<int, QString> job;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (quit_ || pending_.empty()) return;
    job = std::move(pending_.back());
    pending_.pop_back();
  }
  const Thumbnail t = read_thumbnail(job.second.toStdString());
  QImage image = decode(t, job.second, edge_);
  if (!quit_) Q_EMIT loaded(job.first, image);
}

QImage ThumbnailLoader::decode(const Thumbnail& t, const QString& path, int edge) {
  QImage image;
  switch (t.kind) {
    case Thumbnail::Kind::kNone:
      return {};
    case Thumbnail::Kind::kJpeg: {
      QByteArray bytes(reinterpret_cast<const char*>(t.bytes.data()),
                       static_cast<qsizetype>(t.bytes.size()));
      QBuffer buffer(&bytes);
      QImageReader reader(&buffer, "jpeg");
      image = read_scaled(reader, edge);
      break;
    }
    case Thumbnail::Kind::kJpegFile: {
      QImageReader reader(path, "jpeg");
      image = read_scaled(reader, edge);
      break;
    }
    case Thumbnail::Kind::kRgb:
      image = QImage(t.bytes.data(), t.width, t.height, t.width * 3, QImage::Format_RGB888)
                  .scaled(edge, edge, Qt::KeepAspectRatio, Qt::SmoothTransformation);
      break;
  }
  if (image.isNull()) return image;
  int degrees = 0;
  if (t.orientation == 3) degrees = 180;
  if (t.orientation == 6) degrees = 90;
  if (t.orientation == 8) degrees = 270;
  if (degrees) image = image.transformed(QTransform().rotate(degrees));
  if (image.width() > edge || image.height() > edge)
    image = image.scaled(edge, edge, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  return image;
}

}  // namespace cw::ui
