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
  const Thumbnail t = read_thumbnail(job.second.toStdString(), edge_);
  QImage image = decode(t, job.second, edge_);
  if (!quit_)
    Q_EMIT loaded(job.first, image, QString::fromStdString(t.captured), t.video, t.duration);
}

QImage ThumbnailLoader::load_large(const QString& path, int edge) {
  return decode(read_large_preview(path.toStdString(), edge), path, edge);
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
      QImageReader reader(&buffer);  // a JPEG preview, or a movie's cover (JPEG or PNG)
      image = read_scaled(reader, edge);
      if (!image.isNull() || !t.file_is_jpeg) break;
      // A thumbnail cut short or damaged: the picture itself is still there.
      QImageReader file(path, "jpeg");
      image = read_scaled(file, edge);
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
  // A JPEG whose embedded thumbnail is far smaller than the tile (some writers keep a token
  // one) is shown from its own pixels, scaled down, rather than blown up from a few.
  if (t.kind != Thumbnail::Kind::kJpegFile && t.file_is_jpeg && !image.isNull() &&
      std::max(image.width(), image.height()) < edge / 2) {
    QImageReader file(path, "jpeg");
    const QImage own = read_scaled(file, edge);
    if (!own.isNull()) image = own;
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
