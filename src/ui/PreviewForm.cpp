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

  ViewTabs = Named(new QTabWidget(client), "ViewTabs");
  layout->addWidget(ViewTabs, 1);
  RawPage = Named(new QWidget, "RawPage");
  PicturePage = Named(new QWidget, "PicturePage");
  ViewTabs->addTab(RawPage, QStringLiteral("RAW"));
  ViewTabs->addTab(PicturePage, QStringLiteral("Image"));

  Viewer = Named(new viewer::THexViewer(RawPage), "Viewer");
  auto* raw = new QVBoxLayout(RawPage);
  raw->addWidget(Viewer);
  Viewer->SetFitToWidth(true);
  Viewer->SetWrap(true);

  PictureCaption = Named(new QLabel(QStringLiteral("No Preview"), PicturePage), "PictureCaption");
  PictureCaption->setAlignment(Qt::AlignCenter);
  QFont big = tahoma;
  big.setPixelSize(15);
  big.setBold(true);
  PictureCaption->setFont(big);
  PictureLabel = Named(new QLabel(PicturePage), "PictureLabel");
  PictureLabel->setAlignment(Qt::AlignCenter);
  PictureLabel->setMinimumSize(1, 1);
  auto* pictures = new QVBoxLayout(PicturePage);
  pictures->addWidget(PictureLabel, 1);
  pictures->addWidget(PictureCaption);

  CloseButton = Named(new QPushButton(QStringLiteral("&Close"), client), "CloseButton");
  connect(CloseButton, &QPushButton::clicked, this, &QWidget::close);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(CloseButton);
  layout->addLayout(buttons);
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, &QWidget::close);

  StatusLine = Named(new QLabel(statusBar()), "StatusLine");
  statusBar()->addWidget(StatusLine, 1);

  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  file->setObjectName(QStringLiteral("FileMenu"));
  CloseAction = Named(file->addAction(QStringLiteral("E&xit")), "CloseAction");
  CloseAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
  connect(CloseAction, &QAction::triggered, this, &QWidget::close);

  QMenu* view = menuBar()->addMenu(QStringLiteral("RAW &View Mode"));
  view->setObjectName(QStringLiteral("ViewMenu"));
  auto* group = new QActionGroup(this);
  const std::array<std::pair<const char*, const char*>, 4> items{
      {{"BinaryAction", "Binary"}, {"TextAction", "Text"}, {"HexAction", "Hex"}, {"UnicodeAction", "Unicode"}}};
  std::array<QAction*, 4> actions{};
  for (int tag = 0; tag < 4; ++tag) {
    QAction* a = Named(view->addAction(QString::fromLatin1(items[size_t(tag)].second)), items[size_t(tag)].first);
    a->setCheckable(true);
    a->setData(tag);
    a->setShortcut(QKeySequence(Qt::Key_1 + tag));
    a->setShortcutContext(Qt::WindowShortcut);
    group->addAction(a);
    connect(a, &QAction::triggered, this, [this, a] { ViewModeClick(a); });
    actions[size_t(tag)] = a;
  }
  BinaryAction = actions[0];
  TextAction = actions[1];
  HexAction = actions[2];
  UnicodeAction = actions[3];
  // The window opens in the mode its menu shows checked.
  BinaryAction->setChecked(true);
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
  PictureLabel->clear();
  PictureCaption->setText(QStringLiteral("No Preview"));
  ViewTabs->setCurrentWidget(RawPage);
  if (PreviewStream) {
    uint8_t head[10] = {};
    size_t got = PreviewStream->Seek(0, TSeekOrigin::Beginning) == 0 ? PreviewStream->Read(head, sizeof head) : 0;
    Picture = QImage();
    const TPictureKind kind = PictureKindOf(head, got);
    if (kind != TPictureKind::None && ReadPicture(*PreviewStream, kind, Picture)) {
      ShowPicture();
      PictureCaption->setText(QStringLiteral("Preview"));
      ViewTabs->setCurrentWidget(PicturePage);
    } else {
      // Text opens in Text mode, anything else as it was.
      std::array<uint8_t, 4096> start{};
      const size_t n =
          PreviewStream->Seek(0, TSeekOrigin::Beginning) == 0 ? PreviewStream->Read(start.data(), start.size()) : 0;
      ViewModeClick(LooksLikeText(start.data(), n) ? TextAction : BinaryAction);
    }
    Source = std::make_unique<TStreamSource>(*PreviewStream);
  }
  Viewer->SetSource(Source.get());
}

void TfrmDataPreview::ShowPicture() {
  if (Picture.isNull()) return;
  // Drawn from the screen's own pixels: sharp at any scale factor.
  const qreal ratio = devicePixelRatioF();
  const QSize room = PictureLabel->size() * ratio;
  QPixmap pixmap = QPixmap::fromImage(Picture);
  if (pixmap.width() > room.width() || pixmap.height() > room.height())
    pixmap = pixmap.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  pixmap.setDevicePixelRatio(ratio);
  PictureLabel->setPixmap(pixmap);
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

void TfrmDataPreview::ViewModeClick(QAction* sender) {
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
