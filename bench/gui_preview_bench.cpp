// Opening a preview on a large file: times the first picture of the viewer
// on a 4 GiB stream and a jump to its end in each display, with the bytes
// read; then the decoding of a 12-megapixel JPEG through the stream.
#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "core/RecoveryStream.h"
#include "ui/PictureReader.h"
#include "ui/PreviewForm.h"

using Clock = std::chrono::steady_clock;

namespace {

// Bytes of a made-up file, or of a buffer; counts what is read.
class TBenchStream : public mirel::TRecoveryStream {
public:
  TBenchStream(int64_t size, QByteArray data = {})
      : TRecoveryStream(nullptr, nullptr), Size(size), Data(std::move(data)) {}
  int64_t GetSize() const override { return Size; }
  int64_t Seek(int64_t offset, mirel::TSeekOrigin origin) override {
    const int64_t base = origin == mirel::TSeekOrigin::Beginning ? 0
                         : origin == mirel::TSeekOrigin::Current ? FPosition
                                                                 : Size;
    FPosition = std::clamp<int64_t>(origin == mirel::TSeekOrigin::End ? base - offset : base + offset, 0, Size);
    return FPosition;
  }
  size_t Read(void* buffer, size_t count) override {
    count = size_t(std::min<int64_t>(int64_t(count), Size - FPosition));
    if (!Data.isEmpty())
      std::memcpy(buffer, Data.constData() + FPosition, count);
    else
      for (size_t i = 0; i < count; ++i)
        static_cast<char*>(buffer)[i] = char(" abcdefgh\n"[(FPosition + int64_t(i)) % 10]);
    FPosition += int64_t(count);
    BytesRead += int64_t(count);
    return count;
  }
  int64_t Size;
  QByteArray Data;
  int64_t BytesRead = 0;
};

double Ms(Clock::time_point since) { return std::chrono::duration<double, std::milli>(Clock::now() - since).count(); }

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);

  constexpr int64_t size = 4ll << 30;
  auto stream = std::make_unique<TBenchStream>(size);
  TBenchStream* s = stream.get();
  auto* w = new mirel::ui::TfrmDataPreview;
  auto start = Clock::now();
  w->LoadPreview(std::move(stream));
  w->show();
  w->Viewer->grab();
  std::printf("preview of a 4 GiB file shown in %.1f ms, %lld bytes read\n", Ms(start), (long long)s->BytesRead);
  for (QAction* mode : {w->BinaryAction, w->TextAction, w->HexAction, w->UnicodeAction}) {
    s->BytesRead = 0;
    start = Clock::now();
    mode->trigger();
    w->Viewer->ScrollTo(size);
    w->Viewer->grab();
    w->Viewer->ScrollTo(size / 2);
    w->Viewer->grab();
    std::printf("%-8s to the end and the middle: %.1f ms, %lld bytes read\n", qPrintable(mode->text()), Ms(start),
                (long long)s->BytesRead);
  }
  delete w;

  QImage image(4000, 3000, QImage::Format_RGB32);
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) image.setPixel(x, y, qRgb(x & 255, y & 255, (x ^ y) & 255));
  QByteArray jpeg;
  QBuffer buffer(&jpeg);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "JPG", 90);
  TBenchStream photo(jpeg.size(), jpeg);
  QImage decoded;
  start = Clock::now();
  const bool ok = mirel::ui::ReadPicture(photo, mirel::ui::TPictureKind::Jpeg, decoded);
  std::printf("12-megapixel JPEG (%lld bytes) decoded%s in %.1f ms to %dx%d\n", (long long)jpeg.size(),
              ok ? "" : " (failed)", Ms(start), decoded.width(), decoded.height());
  return ok ? 0 : 1;
}
