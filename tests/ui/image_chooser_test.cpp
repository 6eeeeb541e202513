// The image chooser over a card as a photographer brings it: a JPEG ingested yesterday, a raw
// with its camera preview, a HEIC, a movie.
#include "ui/image_chooser.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QTest>

#include "tests/fixtures/jpeg_maker.h"
#include "tests/ui/desktop_fixture.h"

namespace cw {
namespace {

using ui::ImageListModel;

// True when the picture has colour: the placeholder of a file without a preview is grey.
bool colourful(const QPixmap& pixmap) {
  const QImage image = pixmap.toImage().convertToFormat(QImage::Format_RGB32);
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (std::max({c.red(), c.green(), c.blue()}) - std::min({c.red(), c.green(), c.blue()}) > 60)
        return true;
    }
  return false;
}

TEST_F(Desktop, ChooserShowsEveryFileWithItsPreviewTimeAndArchiveMark) {
  if (!test::have_program("heif-enc") || !test::have_program("ffmpeg"))
    GTEST_SKIP() << "heif-enc and ffmpeg make the HEIC and the movie";
  const std::string root = card("card", 1);
  const std::string folder = root + "/DCIM/100CWTST";
  open_card(root);
  ASSERT_TRUE(start_and_finish()) << pane().toStdString();  // car_0001.JPG is archived now

  fixtures::JpegSpec preview;
  preview.width = 160;
  preview.height = 120;
  fixtures::RawLayout raw;
  raw.preview_jpeg = fixtures::make_jpeg(preview);
  fixtures::CameraInfo camera;
  camera.date_time_original = "2024:05:18 07:08:09";
  ASSERT_TRUE(
      fixtures::write_bytes(folder + "/car_0002.CR2", fixtures::build_raw_tiff(camera, raw)));
  QImage blue(64, 48, QImage::Format_RGB32);
  blue.fill(QColor(20, 40, 230));
  ASSERT_TRUE(blue.save(QString::fromStdString(dir / "blue.png")));
  ASSERT_EQ(
      test::run_command("heif-enc -q 80 -o " + folder + "/car_0003.HEIC " + (dir / "blue.png")),
      0);
  ASSERT_EQ(test::run_command("ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=10 -t 2 "
                              "-pix_fmt yuv420p " + folder + "/car_0004.MP4"),
            0);

  {
    ui::ImageChooser chooser(root + "/DCIM", false, "", window.get(), session.get());
    chooser.resize(980, 700);
    chooser.show();
    ASSERT_TRUE(test::wait_for([&] { return chooser.marks_known() && chooser.screen_complete(); }));
    ImageListModel& model = chooser.model();
    ASSERT_EQ(model.rowCount(), 4);
    EXPECT_EQ(test::find_named<QLabel>(&chooser, "Chosen count")->text().toStdString(),
              "3 of 4 images chosen  (1 already in the archive)");
    auto tile = [&](int row) {
      return model.data(model.index(row), Qt::DecorationRole).value<QPixmap>();
    };
    auto ticked = [&](int row) {
      return model.data(model.index(row), Qt::CheckStateRole).toInt() == Qt::Checked;
    };
    EXPECT_TRUE(model.archived(0));  // the count says the other three are new and ticked
    EXPECT_FALSE(ticked(0));
    EXPECT_EQ(model.captured(0).toStdString(), "2024-05-17 10:20:30");
    EXPECT_EQ(model.captured(1).toStdString(), "2024-05-18 07:08:09");
    EXPECT_TRUE(colourful(tile(1)));  // the raw's own preview, not a grey box
    const QColor heic = tile(2).toImage().pixelColor(tile(2).rect().center());
    EXPECT_GT(heic.blue(), 180);
    EXPECT_LT(heic.red(), 80);
    EXPECT_EQ(model.data(model.index(3), ImageListModel::kVideoRole).toString().toStdString(),
              "0:02");
    EXPECT_FALSE(model.data(model.index(1), ImageListModel::kVideoRole).isValid());

    auto* view = test::find_named<QListView>(&chooser, "Images");
    view->setCurrentIndex(view->model()->index(1, 0));
    QTest::keyClick(view, Qt::Key_Space);
    QWidget* large = nullptr;
    ASSERT_TRUE(test::wait_for([&] {
      for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->accessibleName() == "Large view") large = w;
      auto* picture = large ? test::find_named<QLabel>(large, "Picture") : nullptr;
      return picture && !picture->pixmap().isNull();
    }));
    large->close();
    QTest::keyClick(view, Qt::Key_T);
    EXPECT_FALSE(ticked(1));
  }

  const QString status = test::find_named<QLabel>(window.get(), "Status")->text();
  answers.then(on("Image chooser", [](QWidget* w) {
    auto* chooser = static_cast<ui::ImageChooser*>(w);
    if (!chooser->marks_known() || chooser->model().chosen_count() == 0) return false;
    QTest::keyClick(w, Qt::Key_Escape);
    return true;
  }));
  QTest::mouseClick(test::find_named<QPushButton>(window.get(), "Thumbs..."), Qt::LeftButton);
  ASSERT_TRUE(test::wait_for([&] { return answers.done() && !QApplication::activeModalWidget(); }));
  EXPECT_EQ(test::find_named<QLabel>(window.get(), "Status")->text(), status);
  EXPECT_NE(status.toStdString(), "Press Start to ingest chosen images");
}

}  // namespace
}  // namespace cw
