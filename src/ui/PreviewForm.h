#pragma once
// A window showing one found file before it is recovered: its bytes in the
// viewer and, when the data is a picture, the picture. Each window owns the
// recovery stream it shows and closes itself away.
#include <QImage>
#include <QMainWindow>
#include <memory>

#include "core/FileInfo.h"

#include "viewer/ByteSource.h"
#include "viewer/HexViewer.h"

class QAction;
class QLabel;
class QPushButton;
class QTabWidget;

namespace mirel {
class TDiskObject;
class TRecoveryStream;
}  // namespace mirel

namespace mirel::ui {

// The viewer's bytes come from a recovery stream through its seek and read.
class TStreamSource : public viewer::TByteSource {
public:
  explicit TStreamSource(TRecoveryStream& stream) : Stream(stream) {}
  int64_t Size() override;
  [[nodiscard]] size_t ReadAt(int64_t offset, void* buffer, size_t count) override;

private:
  TRecoveryStream& Stream;
};

class TfrmDataPreview : public QMainWindow {
  Q_OBJECT
public:
  // A window of its own, freed when it is closed.
  explicit TfrmDataPreview(QWidget* parent = nullptr);
  ~TfrmDataPreview() override;

  // Takes the stream (may be null), shows the picture page when the data is a
  // picture that decodes, and hands the stream to the viewer.
  void LoadPreview(std::unique_ptr<TRecoveryStream> stream);
  // The volume whose catalogue the shown stream reads from; null for none.
  TDiskObject* StreamDisk() const;
  // The status line: the entry's size, condition and whether it is deleted.
  void ShowEntry(const TFileInfo& entry);
  // Menu item Tag 0 to 3: Binary, Text, Hex, Unicode.
  void ViewModeClick(QAction* sender);

  std::unique_ptr<TRecoveryStream> PreviewStream;

  QTabWidget* ViewTabs;
  QWidget* RawPage;
  QWidget* PicturePage;
  viewer::THexViewer* Viewer;
  QLabel* PictureLabel;
  QLabel* PictureCaption;
  QLabel* StatusLine;
  QPushButton* CloseButton;
  QAction* CloseAction;
  QAction* BinaryAction;
  QAction* TextAction;
  QAction* HexAction;
  QAction* UnicodeAction;

protected:
  void resizeEvent(QResizeEvent* event) override;

private:
  void ShowPicture();
  std::unique_ptr<TStreamSource> Source;
  // The decoded picture, drawn again when the window's size changes.
  QImage Picture;
};

// Whether data begins like text: no NUL byte and hardly any control bytes
// other than line ends and tabs.
bool LooksLikeText(const uint8_t* data, size_t count);

// Format("Preview - [%s]", name).
void SetPreviewCaption(TfrmDataPreview* window, const QString& name);

}  // namespace mirel::ui
