#include "ui/PictureReader.h"

#include <QIODevice>
#include <QImageReader>
#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

#include <jpeglib.h>

#include "core/RecoveryStream.h"

namespace mirel::ui {

namespace {

// A picture is looked for in this much of a file at most, so that a large
// file that only begins like a picture opens at once.
constexpr int64_t MaxPictureBytes = 64 << 20;

// Qt's image readers read through this; it moves the stream to where the
// reader is before every read.
class TStreamDevice : public QIODevice {
public:
  explicit TStreamDevice(TRecoveryStream& stream) : Stream(stream) { open(QIODevice::ReadOnly); }
  bool isSequential() const override { return false; }
  qint64 size() const override { return std::min(Stream.GetSize(), MaxPictureBytes); }

protected:
  qint64 readData(char* data, qint64 maxSize) override {
    if (Stream.Seek(pos(), TSeekOrigin::Beginning) != pos()) return -1;
    return qint64(Stream.Read(data, size_t(std::clamp<qint64>(size() - pos(), 0, maxSize))));
  }
  qint64 writeData(const char*, qint64) override { return -1; }

private:
  TRecoveryStream& Stream;
};

constexpr size_t JpegBufferSize = 16384;
// Larger pictures are refused before any pixel memory is taken.
constexpr uint64_t MaxJpegPixels = 64ull << 20;

struct TJpegJob {
  jpeg_decompress_struct Info;
  jpeg_error_mgr Errors;
  jmp_buf Failed;
  jpeg_source_mgr Source;
  TRecoveryStream* Stream;
  JOCTET Buffer[JpegBufferSize];
  int64_t Consumed;
  int MaxSide;
  QImage Image;
};

TJpegJob* JobOf(j_decompress_ptr info) { return static_cast<TJpegJob*>(info->client_data); }

void InitSource(j_decompress_ptr) {}

boolean FillInputBuffer(j_decompress_ptr info) {
  TJpegJob* job = JobOf(info);
  size_t n = job->Consumed < MaxPictureBytes ? job->Stream->Read(job->Buffer, JpegBufferSize) : 0;
  job->Consumed += int64_t(n);
  if (n == 0) {
    // A truncated picture ends here; what was decoded is shown.
    job->Buffer[0] = 0xFF;
    job->Buffer[1] = JPEG_EOI;
    n = 2;
  }
  job->Source.next_input_byte = job->Buffer;
  job->Source.bytes_in_buffer = n;
  return TRUE;
}

void SkipInputData(j_decompress_ptr info, long count) {
  TJpegJob* job = JobOf(info);
  if (count <= 0) return;
  while (size_t(count) > job->Source.bytes_in_buffer) {
    count -= long(job->Source.bytes_in_buffer);
    FillInputBuffer(info);
  }
  job->Source.next_input_byte += count;
  job->Source.bytes_in_buffer -= size_t(count);
}

void TermSource(j_decompress_ptr) {}

void ErrorExit(j_common_ptr info) { longjmp(static_cast<TJpegJob*>(info->client_data)->Failed, 1); }

void SilentMessage(j_common_ptr) {}

// Only C state changes between setjmp and a longjmp back; the picture lives
// in the job, which the caller owns.
bool DecodeJpeg(TJpegJob* job) {
  j_decompress_ptr info = &job->Info;
  info->err = jpeg_std_error(&job->Errors);
  info->client_data = job;
  job->Errors.error_exit = ErrorExit;
  job->Errors.output_message = SilentMessage;
  if (setjmp(job->Failed)) {
    jpeg_destroy_decompress(info);
    return false;
  }
  jpeg_create_decompress(info);
  job->Source.init_source = InitSource;
  job->Source.fill_input_buffer = FillInputBuffer;
  job->Source.skip_input_data = SkipInputData;
  job->Source.resync_to_restart = jpeg_resync_to_restart;
  job->Source.term_source = TermSource;
  job->Source.next_input_byte = nullptr;
  job->Source.bytes_in_buffer = 0;
  info->src = &job->Source;
  jpeg_read_header(info, TRUE);
  const bool gray = info->num_components == 1;
  info->out_color_space = gray ? JCS_GRAYSCALE : JCS_RGB;
  info->scale_num = 1;
  info->scale_denom = 1;
  const unsigned side = std::max(info->image_width, info->image_height);
  while (info->scale_denom < 8 && side / info->scale_denom > unsigned(job->MaxSide)) info->scale_denom *= 2;
  jpeg_calc_output_dimensions(info);
  if (uint64_t(info->output_width) * info->output_height > MaxJpegPixels) {
    jpeg_destroy_decompress(info);
    return false;
  }
  jpeg_start_decompress(info);
  job->Image = QImage(int(info->output_width), int(info->output_height),
                      gray ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
  if (job->Image.isNull()) {
    jpeg_destroy_decompress(info);
    return false;
  }
  while (info->output_scanline < info->output_height) {
    JSAMPROW row = job->Image.scanLine(int(info->output_scanline));
    jpeg_read_scanlines(info, &row, 1);
  }
  jpeg_finish_decompress(info);
  jpeg_destroy_decompress(info);
  return true;
}

}  // namespace

TPictureKind PictureKindOf(const uint8_t* head, size_t count) {
  auto startsWith = [&](const char* magic, size_t n) { return count >= n && std::memcmp(head, magic, n) == 0; };
  if (startsWith("BM", 2)) return TPictureKind::Bitmap;
  if (startsWith("\xFF\xD8\xFF", 3)) return TPictureKind::Jpeg;
  if (startsWith("\x89PNG\r\n\x1A\n", 8)) return TPictureKind::Png;
  if (startsWith("GIF87a", 6) || startsWith("GIF89a", 6)) return TPictureKind::Gif;
  return TPictureKind::None;
}

bool ReadPicture(TRecoveryStream& stream, TPictureKind kind, QImage& out, int maxSide) {
  out = QImage();
  if (stream.Seek(0, TSeekOrigin::Beginning) != 0) return false;
  if (kind == TPictureKind::Jpeg) {
    auto job = std::make_unique<TJpegJob>();
    job->Stream = &stream;
    job->Consumed = 0;
    job->MaxSide = maxSide;
    if (!DecodeJpeg(job.get())) return false;
    out = std::move(job->Image);
    return true;
  }
  const char* format = kind == TPictureKind::Bitmap ? "bmp" : kind == TPictureKind::Png ? "png" : "gif";
  if (kind == TPictureKind::None) return false;
  TStreamDevice device(stream);
  QImageReader reader(&device, format);
  reader.setDecideFormatFromContent(false);
  return reader.read(&out) && !out.isNull();
}

}  // namespace mirel::ui
