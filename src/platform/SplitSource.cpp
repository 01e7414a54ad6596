#include "platform/SplitSource.h"

#include <cerrno>
#include <filesystem>
#include <optional>

namespace fs = std::filesystem;

namespace mirel {

namespace {

// How segment names follow one another: a numeric extension (".001") or
// letters at the end of the name ("aa").
struct TSegmentNames {
  std::string Stem;
  bool Numeric = false;
  size_t Width = 0;
  int First = 0;

  std::optional<std::string> Name(int index) const {
    std::string suffix(Width, '0');
    int n = First + index;
    const int base = Numeric ? 10 : 26;
    for (size_t i = Width; i-- > 0; n /= base) suffix[i] = static_cast<char>((Numeric ? '0' : 'a') + n % base);
    if (n != 0) return std::nullopt;
    return Stem + suffix;
  }
};

std::optional<TSegmentNames> SegmentNamesOf(const std::string& path) {
  const std::string file = fs::path(path).filename().string();
  const size_t dot = file.rfind('.');
  if (dot != std::string::npos && file.size() - dot == 4) {
    const std::string ext = file.substr(dot + 1);
    if (ext == "000" || ext == "001")
      return TSegmentNames{path.substr(0, path.size() - 3), true, 3, ext == "001" ? 1 : 0};
  }
  if (file.size() > 2 && file.ends_with("aa")) {
    TSegmentNames names{path.substr(0, path.size() - 2), false, 2, 0};
    std::error_code ec;
    if (fs::exists(*names.Name(1), ec)) return names;
  }
  return std::nullopt;
}

}  // namespace

bool IsFirstSplitSegment(const std::string& path) { return SegmentNamesOf(path).has_value(); }

TOpenedImage OpenSplitImage(const std::string& firstSegment) {
  TOpenedImage opened;
  const std::optional<TSegmentNames> names = SegmentNamesOf(firstSegment);
  auto fail = [&opened](int error, const std::string& text) {
    opened.Errno = error;
    opened.Error = text;
    return std::move(opened);
  };
  if (!names) return fail(EINVAL, "not the first segment of a split image");
  std::vector<TRawSource> segments;
  std::error_code ec;
  int index = 0;
  for (std::optional<std::string> name = names->Name(0); name && fs::exists(*name, ec); name = names->Name(++index)) {
    TRawSource segment = TRawSource::Open(*name);
    if (!segment.IsValid()) return fail(segment.ErrorNumber(), "segment " + *name + ": " + segment.Error());
    segments.push_back(std::move(segment));
  }
  // A later segment without the one before it: that one is missing, not the end.
  for (int later = index + 1; later < index + 64; ++later) {
    const std::optional<std::string> name = names->Name(later);
    if (name && fs::exists(*name, ec)) return fail(ENOENT, "missing segment " + *names->Name(index));
  }
  const int64_t size = segments.front().Size();
  for (size_t i = 0; i < segments.size(); ++i) {
    const int64_t got = segments[i].Size();
    const bool last = i + 1 == segments.size();
    if (got == size || (last && got > 0 && got < size)) continue;
    return fail(EINVAL, "segment " + *names->Name(static_cast<int>(i)) + " holds " + std::to_string(got) +
                            " bytes where " + (last ? "at most " : "") + std::to_string(size) + " are expected");
  }
  opened.Format = "split";
  opened.Source = std::make_unique<TSplitSource>(std::move(segments));
  return opened;
}

TSplitSource::TSplitSource(std::vector<TRawSource> segments) : Segments(std::move(segments)) {
  SegmentSize = Segments.empty() ? 0 : Segments.front().Size();
  for (const TRawSource& s : Segments) Total += s.Size();
}

template <class Step>
size_t TSplitSource::Walk(size_t count, int64_t offset, Step step) const {
  if (offset < 0 || offset >= Total || SegmentSize <= 0) return 0;
  if (static_cast<uint64_t>(count) > static_cast<uint64_t>(Total - offset)) count = static_cast<size_t>(Total - offset);
  size_t done = 0;
  while (done < count) {
    const int64_t at = offset + static_cast<int64_t>(done);
    const size_t index = static_cast<size_t>(at / SegmentSize);
    if (index >= Segments.size()) break;
    const int64_t inside = at % SegmentSize;
    const size_t want =
        static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(count - done), SegmentSize - inside));
    const size_t got = step(Segments[index], inside, want, done);
    done += got;
    if (got < want) break;
  }
  return done;
}

size_t TSplitSource::Read(void* buffer, size_t count, int64_t offset) const {
  auto* out = static_cast<unsigned char*>(buffer);
  if (!out) return 0;
  return Walk(count, offset,
              [out](const TRawSource& s, int64_t at, size_t n, size_t done) { return s.Read(out + done, n, at); });
}

size_t TSplitSource::CopyTo(int outFd, size_t count, int64_t offset) const {
  return Walk(count, offset,
              [outFd](const TRawSource& s, int64_t at, size_t n, size_t) { return s.CopyTo(outFd, n, at); });
}

}  // namespace mirel
