#include <QApplication>
#include <QClipboard>
#include <QScrollBar>
#include <QTest>
#include <string>

#include "UiTests.h"
#include "viewer/HexViewer.h"

namespace mirel::test {

using viewer::THexViewer;
using viewer::TViewMode;

// Bytes made up on demand, so a source can be as large as wanted; counts
// what the viewer reads.
class TCountingSource : public viewer::TByteSource {
public:
  TCountingSource(int64_t size, std::string pattern) : FSize(size), Pattern(std::move(pattern)) {}
  int64_t Size() override { return FSize; }
  size_t ReadAt(int64_t offset, void* buffer, size_t count) override {
    ++Reads;
    if (offset < 0 || offset >= FSize) return 0;
    count = size_t(std::min<int64_t>(int64_t(count), FSize - offset));
    auto* out = static_cast<char*>(buffer);
    for (size_t i = 0; i < count; ++i) out[i] = Pattern[size_t((offset + int64_t(i)) % int64_t(Pattern.size()))];
    BytesRead += int64_t(count);
    return count;
  }
  int64_t FSize;
  std::string Pattern;
  int Reads = 0;
  int64_t BytesRead = 0;
};

class HexViewerTest : public QObject {
  Q_OBJECT

  std::unique_ptr<THexViewer> V;

private slots:
  void init() {
    V = std::make_unique<THexViewer>();
    V->resize(400, 200);
    V->show();
    QVERIFY(QTest::qWaitForWindowExposed(V.get()));
  }
  void cleanup() { V.reset(); }

  void hugeSourceReadsOnlyWhatIsShown() {
    constexpr int64_t size = 6ll << 30;
    TCountingSource src(size, "0123456789abcdef");
    for (TViewMode mode : {TViewMode::Binary, TViewMode::Hex, TViewMode::Text, TViewMode::Unicode}) {
      V->SetSource(nullptr);
      V->SetMode(mode);
      src.BytesRead = 0;
      V->SetSource(&src);
      V->repaint();
      QTest::keyClick(V.get(), Qt::Key_PageDown);
      QTest::keyClick(V.get(), Qt::Key_End);
      V->repaint();
      QVERIFY(!V->VisibleRows().isEmpty());
      QVERIFY2(V->TopOffset() > size - 64 * 1024, qPrintable(QString::number(int(mode))));
      // Start, end and the line search behind them: a few pages, whatever the size.
      QVERIFY2(src.BytesRead < 128 * 1024, qPrintable(QString::number(src.BytesRead)));
    }
    V->SetSource(nullptr);
  }

  void hexRowsShowOffsetsBytesAndCharacters() {
    TCountingSource src(40, "AB\x01");
    V->SetFitToWidth(false);
    V->SetMode(TViewMode::Hex);
    V->SetSource(&src);
    QStringList rows = V->VisibleRows();
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows[0], QStringLiteral("00000000  41 42 01 41 42 01 41 42 01 41 42 01 41 42 01 41  AB.AB.AB.AB.AB.A"));
    QVERIFY(rows[2].startsWith(QStringLiteral("00000020  01 41 42 01 41 42 01 41                          ")));
    QVERIFY(rows[2].endsWith(QStringLiteral("  .AB.AB.A")));
    // Fitted to the width: whole groups of eight bytes that fit the window.
    V->SetFitToWidth(true);
    const int columns = int(V->viewport()->width() / QFontMetricsF(V->font()).horizontalAdvance(u'M'));
    const int perRow = (int(V->VisibleRows()[0].size()) - 11) / 4;
    QVERIFY(perRow % 8 == 0 && perRow > 0);
    QVERIFY(V->VisibleRows()[0].size() <= columns);
    V->SetSource(nullptr);
  }

  void textWrapsAtWidthAndBreaksAtLines() {
    const std::string text = "short\nline two\n" + std::string(30, 'x') + "\nend";
    TCountingSource src(int64_t(text.size()), text);
    V->SetFitToWidth(false);  // 80 columns
    V->SetMode(TViewMode::Text);
    V->SetSource(&src);
    QStringList rows = V->VisibleRows();
    QCOMPARE(rows.size(), 4);
    QCOMPARE(rows[0].trimmed(), QStringLiteral("short"));
    QCOMPARE(rows[3], QStringLiteral("end"));

    // A narrow window wraps the long line; scrolling down and back up again
    // finds the same row starts.
    V->SetFitToWidth(true);
    V->resize(int(12 * QFontMetricsF(V->font()).horizontalAdvance(u'M')) + 40, V->height());
    rows = V->VisibleRows();
    QVERIFY(rows.size() > 4);
    QVERIFY(!rows[2].isEmpty() && rows[2] == QString(rows[2].size(), u'x') && rows[3].startsWith(u'x'));
    QList<int64_t> tops;
    for (int i = 0; i < 4; ++i) {
      tops << V->TopOffset();
      V->ScrollRows(1);
    }
    for (int i = 3; i >= 0; --i) {
      V->ScrollRows(-1);
      QCOMPARE(V->TopOffset(), tops[i]);
    }
    V->SetSource(nullptr);
  }

  void unicodeShowsUtf16Units() {
    const std::string bytes("H\0i\0\n\0\x3A\x04\x01\0", 10);
    TCountingSource src(int64_t(bytes.size()), bytes);
    V->SetMode(TViewMode::Unicode);
    V->SetSource(&src);
    QStringList rows = V->VisibleRows();
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows[0], QStringLiteral("Hi "));
    QCOMPARE(rows[1], QString(QChar(0x043A)) + u'.');
    V->SetSource(nullptr);
  }

  void keysWheelAndScrollBarMoveByRows() {
    TCountingSource src(100000, "abcdefgh");
    V->SetFitToWidth(false);
    V->SetMode(TViewMode::Binary);  // 64 bytes a row
    V->SetSource(&src);
    QTest::keyClick(V.get(), Qt::Key_Down);
    QCOMPARE(V->TopOffset(), 64);
    QTest::keyClick(V.get(), Qt::Key_Up);
    QTest::keyClick(V.get(), Qt::Key_Up);
    QCOMPARE(V->TopOffset(), 0);
    QWheelEvent wheel(QPointF(10, 10), V->mapToGlobal(QPointF(10, 10)), {}, QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(V->viewport(), &wheel);
    QCOMPARE(V->TopOffset(), 3 * 64);
    V->verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    QCOMPARE(V->TopOffset(), 4 * 64);
    V->verticalScrollBar()->setValue(50000);
    QCOMPARE(V->TopOffset(), 50000 - 50000 % 64);
    QTest::keyClick(V.get(), Qt::Key_End);
    const int64_t last = V->TopOffset();
    QTest::keyClick(V.get(), Qt::Key_Down);
    QCOMPARE(V->TopOffset(), last);
    QVERIFY(V->VisibleRows().back().size() == 100000 % 64);
    V->SetSource(nullptr);
  }

  void selectionCopiesAsShown() {
    TCountingSource src(32, "Hi\nthere");
    V->SetMode(TViewMode::Text);
    V->SetSource(&src);
    V->SetSelection(0, 5);
    QTest::keyClick(V.get(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("Hi\nth"));
    V->SetMode(TViewMode::Hex);
    V->CopyToClipboard();
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("48 69 0A 74 68"));
    // Dragging over the first row's hex cells selects those bytes.
    const QFontMetrics fm = V->fontMetrics();
    const qreal w = QFontMetricsF(V->font()).horizontalAdvance(QString(64, u'M')) / 64;
    const int y = 3 + fm.lineSpacing() / 2;
    QTest::mousePress(V->viewport(), Qt::LeftButton, {}, QPoint(int(3 + 10.5 * w), y));
    QMouseEvent move(QEvent::MouseMove, QPointF(3 + 16.5 * w, y), V->viewport()->mapToGlobal(QPointF(3 + 16.5 * w, y)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(V->viewport(), &move);
    QCOMPARE(V->SelectionStart(), 0);
    QCOMPARE(V->SelectionEnd(), 3);
    QTest::keyClick(V.get(), Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(V->SelectionEnd(), 32);
    V->SetSource(nullptr);
    QCOMPARE(V->SelectedText(), QString());
  }
};

static TRegisterUiTest<HexViewerTest> registerHexViewerTest;

}  // namespace mirel::test

#include "HexViewerTest.moc"
