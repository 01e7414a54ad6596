#pragma once
// Pictures in a found file's data, for the preview: JPEG through libjpeg,
// bitmaps, PNG and GIF through Qt's readers, all read from the recovery
// stream itself.
#include <QImage>
#include <cstdint>

namespace mirel {
class TRecoveryStream;
}

namespace mirel::ui {

enum class TPictureKind { None, Bitmap, Jpeg, Png, Gif };

// What the first bytes of a file say it is; a JPEG is known by its start
// marker, whatever segment (JFIF, Exif, ...) follows.
TPictureKind PictureKindOf(const uint8_t* head, size_t count);

// Decodes the stream from its start; false (image left null) when the data
// does not decode. JPEGs larger than maxSide are decoded at a fraction of
// their size, which the preview would shrink them to anyway.
[[nodiscard]] bool ReadPicture(TRecoveryStream& stream, TPictureKind kind, QImage& out, int maxSide = 2048);

}  // namespace mirel::ui
