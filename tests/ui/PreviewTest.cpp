#include <QAction>
#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "Engine.h"
#include "TestSupport.h"
#include "UiTests.h"
#include "core/DebugLog.h"
#include "core/RecoveryManager.h"
#include "core/RecoveryStream.h"
#include "core/UpdateView.h"
#include "ui/Dialogs.h"
#include "ui/FileListModel.h"
#include "ui/FilterForm.h"
#include "ui/MainForm.h"
#include "ui/PreviewForm.h"
#include "workers/ViewUpdater.h"

namespace fs = std::filesystem;

namespace mirel::test {

using ui::TfrmDataPreview;
using viewer::TViewMode;

namespace {

// A stream of any size made up on demand; counts reads and its own end.
class TMadeUpStream : public TRecoveryStream {
public:
  TMadeUpStream(int64_t size, int& destroyed) : TRecoveryStream(nullptr, nullptr), Size(size), Destroyed(destroyed) {}
  ~TMadeUpStream() override { ++Destroyed; }
  int64_t GetSize() const override { return Size; }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override {
    FPosition = std::clamp<int64_t>(origin == TSeekOrigin::Beginning ? offset : FPosition + offset, 0, Size);
    return FPosition;
  }
  size_t Read(void* buffer, size_t count) override {
    count = size_t(std::min<int64_t>(int64_t(count), Size - FPosition));
    for (size_t i = 0; i < count; ++i) {
      const int64_t at = FPosition + int64_t(i);
      static_cast<char*>(buffer)[i] = at < Head.size() ? Head[qsizetype(at)] : char('a' + at % 26);
    }
    FPosition += int64_t(count);
    BytesRead += int64_t(count);
    return count;
  }
  int64_t Size;
  int64_t BytesRead = 0;
  int& Destroyed;
  QByteArray Head;
};

QByteArray Encoded(const QImage& image, const char* format) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, format);
  return bytes;
}

// A camera's picture: the JFIF segment replaced by an Exif one.
QByteArray WithExifHeader(const QByteArray& jfif) {
  const int app0 = (uchar(jfif[4]) << 8) | uchar(jfif[5]);
  static const char exif[] =
      "\xFF\xE1\x00\x16"
      "Exif\0\0"
      "II*\0\x08\0\0\0"
      "\0\0"
      "\0\0\0\0";
  return jfif.left(2) + QByteArray(exif, sizeof exif - 1) + jfif.mid(4 + app0);
}

}  // namespace

class PreviewTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TTempDir> Temp;
  std::unique_ptr<TViewUpdater> Updating;
  std::unique_ptr<ui::TfrmMainForm> W;
  const QImage Picture = [] {
    QImage image(64, 48, QImage::Format_RGB32);
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 64; ++x) image.setPixel(x, y, qRgb(x * 4, y * 5, 128));
    return image;
  }();

  // Scans and shows the volume's top folder.
  void Scan() {
    W->ScanButton->click();
    W->WaitForScan();
    if (QTreeWidgetItem* top = W->FolderTree->topLevelItem(0)) W->FolderTree->setCurrentItem(top);
  }
  // Selects the file row named name and previews it.
  TfrmDataPreview* Preview(const QString& name) {
    for (int r = 0; r < W->Model->rowCount(); ++r)
      if (W->Model->data(W->Model->index(r, 0), Qt::DisplayRole).toString() == name) {
        W->FileList->clearSelection();
        W->FileList->selectRow(r);
        return W->OpenPreview();
      }
    QStringList rows;
    for (int r = 0; r < W->Model->rowCount(); ++r)
      rows << W->Model->data(W->Model->index(r, 0), Qt::DisplayRole).toString();
    qWarning("no row %s among %s (%s)", qPrintable(name), qPrintable(rows.join(u'|')),
             qPrintable(W->StatusLabel->text()));
    return nullptr;
  }
  static void Delete(QWidget* w) {
    w->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

private slots:
  void initTestCase() {
    Temp = std::make_unique<TTempDir>();
    SetDebugLogPath((Temp->Path() / "debug.log").string());
    StartEngine();
    const fs::path files = *Temp / "files";
    fs::create_directories(files);
    auto put = [&](const char* name, const QByteArray& bytes) {
      std::ofstream(files / name, std::ios::binary).write(bytes.data(), bytes.size());
    };
    const QByteArray jfif = Encoded(Picture, "JPG");
    QCOMPARE(jfif.mid(6, 4), QByteArray("JFIF"));
    put("Beach photo.jpg", jfif);
    put("Camera shot.jpg", WithExifHeader(jfif));
    put("Diagram picture.bmp", Encoded(Picture, "BMP"));
    put("Garden view.png", Encoded(Picture, "PNG"));
    put("Meeting notes.txt", "Agenda\r\n1. Budget\r\n");
    put("Broken picture.bmp", QByteArray("BM") + QByteArray(600, '\x7f'));
    put("Broken photo.jpg", jfif.left(2) + QByteArray(600, '\x11'));
    std::ofstream(*Temp / "inner.txt") << "in a deleted folder\n";
    const std::string img = (*Temp / "pictures.img").string();
    const std::string make = "cd '" + files.string() + "' && mkfs.fat -C '" + img + "' 2048 >/dev/null && mmd -i '" +
                             img + "' '::/Old stuff' && mcopy -i '" + img +
                             "' ../inner.txt '::/Old stuff/' && mcopy -i '" + img + "' * ::/ && mdel -i '" + img +
                             "' '::/*' && mdeltree -i '" + img + "' '::/Old stuff'";
    QCOMPARE(std::system(make.c_str()), 0);
    CreateRecoveryManager({img}, false);
    Updating = std::make_unique<TViewUpdater>();
    ui::Dialogs().Message = [](QWidget*, QMessageBox::Icon, const QString&, const QString&,
                               QMessageBox::StandardButtons) { return QMessageBox::Ok; };
  }

  void cleanupTestCase() {
    Updating.reset();
    DestroyRecoveryManager();
  }

  void init() {
    W = std::make_unique<ui::TfrmMainForm>(*Updating, QStringLiteral("pictures.img"));
    W->show();
    Scan();
  }
  void cleanup() { W.reset(); }

  void picturesOpenOnTheImagePage() {
    for (const char* name : {"Beach photo.jpg", "Camera shot.jpg", "Diagram picture.bmp", "Garden view.png"}) {
      TfrmDataPreview* p = Preview(QString::fromLatin1(name));
      QVERIFY2(p, name);
      QCOMPARE(p->windowTitle(), QStringLiteral("Preview - [%1]").arg(QLatin1String(name)));
      QCOMPARE(p->ViewTabs->currentWidget(), p->PicturePage);
      QCOMPARE(p->PictureCaption->text(), QStringLiteral("Preview"));
      QCOMPARE(p->PictureLabel->pixmap().size(), Picture.size());
      // The picture's colours survive decoding (JPEG only roughly).
      const QColor c = p->PictureLabel->pixmap().toImage().pixelColor(40, 20);
      QVERIFY2(std::abs(c.red() - 160) < 12 && std::abs(c.green() - 100) < 12, name);
      // The bytes are in the viewer as well.
      QVERIFY(!p->Viewer->VisibleRows().isEmpty());
      Delete(p);
    }
  }

  void otherDataStaysRaw() {
    for (const char* name : {"Meeting notes.txt", "Broken picture.bmp", "Broken photo.jpg"}) {
      TfrmDataPreview* p = Preview(QString::fromLatin1(name));
      QVERIFY2(p, name);
      QCOMPARE(p->ViewTabs->currentWidget(), p->RawPage);
      QCOMPARE(p->PictureCaption->text(), QStringLiteral("No Preview"));
      QVERIFY(p->PictureLabel->pixmap().isNull());
      Delete(p);
    }
  }

  void textIsToldFromBinary() {
    const std::string text = "Agenda\r\n\tBudget: 5 \xE2\x82\xAC\n";
    QVERIFY(ui::LooksLikeText(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    const uint8_t png[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13};
    QVERIFY(!ui::LooksLikeText(png, sizeof png));
    std::string controls(200, 'a');
    controls[10] = controls[20] = controls[30] = '\x01';
    QVERIFY(!ui::LooksLikeText(reinterpret_cast<const uint8_t*>(controls.data()), controls.size()));
    QVERIFY(!ui::LooksLikeText(png, 0));
  }

  void keysOneToFourSwitchModes() {
    TfrmDataPreview* p = Preview(QStringLiteral("Meeting notes.txt"));
    QVERIFY(p);
    // Text opens in Text mode.
    QVERIFY(p->TextAction->isChecked());
    QCOMPARE(p->Viewer->Mode(), TViewMode::Text);
    const std::pair<Qt::Key, TViewMode> keys[] = {{Qt::Key_3, TViewMode::Hex},
                                                  {Qt::Key_1, TViewMode::Binary},
                                                  {Qt::Key_4, TViewMode::Unicode},
                                                  {Qt::Key_2, TViewMode::Text}};
    // The keys are window shortcuts, looked up where the application's focus
    // is: a window closed by an earlier test may still move it, so the
    // preview's viewer takes it before each key.
    auto press = [p](Qt::Key key) {
      p->activateWindow();
      p->Viewer->setFocus();
      const bool focused =
          QTest::qWaitFor([p] { return QGuiApplication::focusWindow() == p->windowHandle() && p->Viewer->hasFocus(); });
      if (focused) QTest::keyClick(p->Viewer, key);
      return focused;
    };
    for (auto [key, mode] : keys) {
      QVERIFY(press(key));
      QCOMPARE(p->Viewer->Mode(), mode);
    }
    QVERIFY(press(Qt::Key_1));
    QCOMPARE(p->Viewer->VisibleRows().value(0), QStringLiteral("Agenda..1. Budget.."));
    QVERIFY(press(Qt::Key_3));
    QVERIFY(p->HexAction->isChecked() && !p->BinaryAction->isChecked());
    QVERIFY(p->Viewer->VisibleRows().value(0).startsWith(QStringLiteral("00000000  41 67 65 6E 64 61 0D 0A")));
    Delete(p);
  }

  void bigStreamIsReadWhereShownAndFreedOnce() {
    int destroyed = 0;
    auto stream = std::make_unique<TMadeUpStream>(5ll << 30, destroyed);
    TMadeUpStream* s = stream.get();
    QPointer<TfrmDataPreview> p = new TfrmDataPreview(W.get());
    p->LoadPreview(std::move(stream));
    p->show();
    QVERIFY(QTest::qWaitForWindowExposed(p));
    for (QAction* mode : {p->TextAction, p->HexAction, p->UnicodeAction, p->BinaryAction}) {
      mode->trigger();
      p->Viewer->repaint();
      QTest::keyClick(p->Viewer, Qt::Key_End);
      p->Viewer->repaint();
      QVERIFY(p->Viewer->TopOffset() > (5ll << 30) - 65536);
    }
    QVERIFY2(s->BytesRead < 512 * 1024, qPrintable(QString::number(s->BytesRead)));
    QCOMPARE(p->ViewTabs->currentWidget(), p->RawPage);
    p->CloseButton->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!p);
    QCOMPARE(destroyed, 1);

    // A large file that only begins like a picture is given up on early.
    for (const char* head : {"\xFF\xD8\xFF\xE0", "BM", "GIF89a"}) {
      auto fake = std::make_unique<TMadeUpStream>(1ll << 30, destroyed);
      fake->Head = QByteArray(head);
      TMadeUpStream* f = fake.get();
      auto* w = new TfrmDataPreview(W.get());
      w->LoadPreview(std::move(fake));
      QCOMPARE(w->PictureCaption->text(), QStringLiteral("No Preview"));
      QVERIFY2(f->BytesRead <= 65 << 20, head);
      Delete(w);
    }

    // No stream: an empty viewer and no picture.
    auto* none = new TfrmDataPreview(W.get());
    none->LoadPreview(nullptr);
    QVERIFY(none->Viewer->VisibleRows().isEmpty());
    QCOMPARE(none->PictureCaption->text(), QStringLiteral("No Preview"));
    Delete(none);
  }

  void newScanDropsOpenPreviews() {
    QPointer<TfrmDataPreview> p = Preview(QStringLiteral("Beach photo.jpg"));
    QVERIFY(p);
    Scan();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!p);
  }

  void mainWindowCommands() {
    // Preview through F3 on the list, and through a double-click.
    const int file = int(
        W->Model->match(W->Model->index(0, 0), Qt::DisplayRole, QStringLiteral("Meeting notes.txt")).value(0).row());
    W->FileList->setFocus();
    W->FileList->selectRow(file);
    auto previews = [this] { return W->findChildren<TfrmDataPreview*>().size(); };
    QTest::keyClick(W->FileList, Qt::Key_F3);
    QCOMPARE(previews(), 1);
    emit W->FileList->doubleClicked(W->Model->index(file, 0));
    QCOMPARE(previews(), 2);
    for (TfrmDataPreview* p : W->findChildren<TfrmDataPreview*>()) Delete(p);
    // A folder row has nothing to preview.
    QVERIFY(!Preview(QStringLiteral("Old stuff")));
    QCOMPARE(previews(), 0);

    // Ctrl+F, the button and a scan from the "File" menu show the filter dialog.
    int shown = 0;
    QTimer closer;
    connect(&closer, &QTimer::timeout, this, [&] {
      if (W->FilterForm->isVisible()) {
        ++shown;
        W->FilterForm->reject();
      }
    });
    closer.start(10);
    QTest::keyClick(W->FileList, Qt::Key_F, Qt::ControlModifier);
    QCOMPARE(shown, 1);
    W->AdvancedFiltersButton->click();
    QCOMPARE(shown, 2);
    W->ScanAction->trigger();
    W->WaitForScan();
    QCOMPARE(shown, 3);
  }
};

static TRegisterUiTest<PreviewTest> registerPreviewTest;

}  // namespace mirel::test

#include "PreviewTest.moc"
