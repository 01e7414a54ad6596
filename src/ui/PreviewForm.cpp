#include "ui/PreviewForm.h"

#include <QAction>
#include <QActionGroup>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>
#include <QTabWidget>
#include <QVBoxLayout>
#include <array>

#include "core/RecoveryStream.h"
#include "ui/FileListModel.h"
#include "ui/PictureReader.h"

namespace mirel::ui {

int64_t TStreamSource::Size() { return Stream.GetSize(); }

size_t TStreamSource::ReadAt(int64_t offset, void* buffer, size_t count) {
  if (Stream.Seek(offset, TSeekOrigin::Beginning) != offset) return 0;
  return Stream.Read(buffer, count);
}

namespace {

template <class T>
T* Named(T* w, const char* name) {
  w->setObjectName(QString::fromLatin1(name));
  return w;
}

// Menu Tags in menu order; the viewer orders its modes differently.
constexpr std::array<viewer::TViewMode, 4> ModeOfTag{viewer::TViewMode::Binary, viewer::TViewMode::Text,
                                                     viewer::TViewMode::Hex, viewer::TViewMode::Unicode};

}  // namespace

TfrmDataPreview::TfrmDataPreview(QWidget* parent) : QMainWindow(parent, Qt::Window) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("File Preview"));
  QFont tahoma = font();
  tahoma.setFamilies({QStringLiteral("Tahoma"), tahoma.family()});
  setFont(tahoma);

  QWidget* client = new QWidget(this);
  setCentralWidget(client);
  auto* layout = new QVBoxLayout(client);

  PageControl1 = Named(new QTabWidget(client), "PageControl1");
  layout->addWidget(PageControl1, 1);
  TabSheet1 = Named(new QWidget, "TabSheet1");
  TabSheet2 = Named(new QWidget, "TabSheet2");
  PageControl1->addTab(TabSheet1, QStringLiteral("RAW"));
  PageControl1->addTab(TabSheet2, QStringLiteral("Image"));

  Viewer = Named(new viewer::THexViewer(TabSheet1), "Viewer");
  auto* raw = new QVBoxLayout(TabSheet1);
  raw->addWidget(Viewer);
  Viewer->SetFitToWidth(true);
  Viewer->SetWrap(true);

  LblPreview = Named(new QLabel(QStringLiteral("No Preview"), TabSheet2), "LblPreview");
  LblPreview->setAlignment(Qt::AlignCenter);
  QFont big = tahoma;
  big.setPixelSize(15);
  big.setBold(true);
  LblPreview->setFont(big);
  Image1 = Named(new QLabel(TabSheet2), "Image1");
  Image1->setAlignment(Qt::AlignCenter);
  Image1->setMinimumSize(1, 1);
  auto* pictures = new QVBoxLayout(TabSheet2);
  pictures->addWidget(Image1, 1);
  pictures->addWidget(LblPreview);

  BitBtn1 = Named(new QPushButton(QStringLiteral("&Close"), client), "BitBtn1");
  connect(BitBtn1, &QPushButton::clicked, this, &QWidget::close);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(BitBtn1);
  layout->addLayout(buttons);
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, &QWidget::close);

  StatusLine = Named(new QLabel(statusBar()), "StatusLine");
  statusBar()->addWidget(StatusLine, 1);

  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  file->setObjectName(QStringLiteral("File1"));
  Exit1 = Named(file->addAction(QStringLiteral("E&xit")), "Exit1");
  Exit1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
  connect(Exit1, &QAction::triggered, this, &QWidget::close);

  QMenu* view = menuBar()->addMenu(QStringLiteral("RAW &View Mode"));
  view->setObjectName(QStringLiteral("View1"));
  auto* group = new QActionGroup(this);
  const std::array<std::pair<const char*, const char*>, 4> items{
      {{"Binary1", "Binary"}, {"Text1", "Text"}, {"Hex1", "Hex"}, {"Unicode1", "Unicode"}}};
  std::array<QAction*, 4> actions{};
  for (int tag = 0; tag < 4; ++tag) {
    QAction* a = Named(view->addAction(QString::fromLatin1(items[size_t(tag)].second)), items[size_t(tag)].first);
    a->setCheckable(true);
    a->setData(tag);
    a->setShortcut(QKeySequence(Qt::Key_1 + tag));
    a->setShortcutContext(Qt::WindowShortcut);
    group->addAction(a);
    connect(a, &QAction::triggered, this, [this, a] { Unicode1Click(a); });
    actions[size_t(tag)] = a;
  }
  Binary1 = actions[0];
  Text1 = actions[1];
  Hex1 = actions[2];
  Unicode1 = actions[3];
  // The window opens in the mode its menu shows checked.
  Binary1->setChecked(true);
  Viewer->SetMode(viewer::TViewMode::Binary);

  resize(664, 480);
  if (parent) move(parent->window()->geometry().center() - rect().center());
}

TfrmDataPreview::~TfrmDataPreview() {
  Viewer->SetSource(nullptr);
  Source.reset();
  PreviewStream.reset();
}

TDiskObject* TfrmDataPreview::StreamDisk() const { return PreviewStream ? PreviewStream->Disk : nullptr; }

void TfrmDataPreview::LoadPreview(std::unique_ptr<TRecoveryStream> stream) {
  Viewer->SetSource(nullptr);
  Source.reset();
  PreviewStream = std::move(stream);
  Image1->clear();
  LblPreview->setText(QStringLiteral("No Preview"));
  PageControl1->setCurrentWidget(TabSheet1);
  if (PreviewStream) {
    uint8_t head[10] = {};
    size_t got = PreviewStream->Seek(0, TSeekOrigin::Beginning) == 0 ? PreviewStream->Read(head, sizeof head) : 0;
    Picture = QImage();
    const TPictureKind kind = PictureKindOf(head, got);
    if (kind != TPictureKind::None && ReadPicture(*PreviewStream, kind, Picture)) {
      ShowPicture();
      LblPreview->setText(QStringLiteral("Preview"));
      PageControl1->setCurrentWidget(TabSheet2);
    } else {
      // Text opens in Text mode, anything else as it was.
      std::array<uint8_t, 4096> start{};
      const size_t n =
          PreviewStream->Seek(0, TSeekOrigin::Beginning) == 0 ? PreviewStream->Read(start.data(), start.size()) : 0;
      Unicode1Click(LooksLikeText(start.data(), n) ? Text1 : Binary1);
    }
    Source = std::make_unique<TStreamSource>(*PreviewStream);
  }
  Viewer->SetSource(Source.get());
}

void TfrmDataPreview::ShowPicture() {
  if (Picture.isNull()) return;
  // Drawn from the screen's own pixels: sharp at any scale factor.
  const qreal ratio = devicePixelRatioF();
  const QSize room = Image1->size() * ratio;
  QPixmap pixmap = QPixmap::fromImage(Picture);
  if (pixmap.width() > room.width() || pixmap.height() > room.height())
    pixmap = pixmap.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  pixmap.setDevicePixelRatio(ratio);
  Image1->setPixmap(pixmap);
}

void TfrmDataPreview::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  ShowPicture();
}

void TfrmDataPreview::ShowEntry(const TFileInfo& entry) {
  QStringList parts{ExactBytes(entry.Size)};
  if (!entry.IsFolder)
    parts << QStringLiteral("condition %1%: %2").arg(entry.Condition).arg(GradeName(GradeOf(entry.Condition)));
  parts << (entry.FsInfo && entry.FsInfo->IsDeleted() ? QStringLiteral("deleted") : QStringLiteral("not deleted"));
  StatusLine->setText(parts.join(QStringLiteral(", ")));
}

bool LooksLikeText(const uint8_t* data, size_t count) {
  if (count == 0) return false;
  size_t odd = 0;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t c = data[i];
    if (c == 0) return false;
    if (c < 0x20 && c != '\n' && c != '\r' && c != '\t' && c != '\f') ++odd;
  }
  // UTF-8 and Latin-1 letters pass; a few stray control bytes are allowed.
  return odd * 100 <= count;
}

void TfrmDataPreview::Unicode1Click(QAction* sender) {
  const int tag = sender->data().toInt();
  if (tag < 0 || tag >= int(ModeOfTag.size())) return;
  sender->setChecked(true);
  Viewer->show();
  Viewer->SetMode(ModeOfTag[size_t(tag)]);
  Viewer->viewport()->update();
}

void SetPreviewCaption(TfrmDataPreview* window, const QString& name) {
  window->setWindowTitle(QStringLiteral("Preview - [%1]").arg(name));
}

}  // namespace mirel::ui
