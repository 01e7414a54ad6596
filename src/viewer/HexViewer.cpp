#include "viewer/HexViewer.h"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <climits>

namespace mirel::viewer {

namespace {

constexpr int Margin = 3;

QChar ByteChar(int b) {
  if (b == '\t') return u' ';
  if (b < 0x20 || (b >= 0x7F && b < 0xA0)) return u'.';
  return QChar(b);
}

QChar UnitChar(unsigned u) {
  if (u == '\t') return u' ';
  if (u < 0x20 || (u >= 0x7F && u < 0xA0) || (u >= 0xD800 && u < 0xE000)) return u'.';
  return QChar(char16_t(u));
}

const char HexDigits[] = "0123456789ABCDEF";

}  // namespace

THexViewer::THexViewer(QWidget* parent) : QAbstractScrollArea(parent) {
  QFont f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  f.setStyleHint(QFont::TypeWriter);
  f.setFixedPitch(true);
  setFont(f);
  setFrameShape(QFrame::Box);
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setCursor(Qt::IBeamCursor);
  viewport()->setBackgroundRole(QPalette::Base);
  FPages.resize(PageCount);
  connect(verticalScrollBar(), &QScrollBar::actionTriggered, this, &THexViewer::ScrollBarAction);
  connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &THexViewer::ScrollBarMoved);
}

void THexViewer::SetSource(TByteSource* source) {
  FSource = source;
  FSize = source ? std::max<int64_t>(0, source->Size()) : 0;
  for (TPage& p : FPages) {
    p.Offset = -1;
    std::vector<uint8_t>().swap(p.Bytes);
  }
  FTop = 0;
  FMaxTop = -1;
  FSelStart = FSelEnd = 0;
  FSelAnchor = -1;
  UpdateScrollBar();
  viewport()->repaint();
}

void THexViewer::SetMode(TViewMode mode) {
  if (mode == FMode) return;
  const int64_t top = FTop;
  FMode = mode;
  FTop = top;
  Relayout();
}

void THexViewer::SetFitToWidth(bool fit) {
  FFit = fit;
  Relayout();
}

void THexViewer::SetWrap(bool wrap) {
  FWrap = wrap;
  Relayout();
}

int THexViewer::ByteAt(int64_t offset) {
  if (offset < 0 || offset >= FSize || !FSource) return -1;
  const int64_t pageOffset = offset - offset % PageSize;
  TPage* page = nullptr;
  for (TPage& p : FPages)
    if (p.Offset == pageOffset) page = &p;
  if (!page) {
    page = &*std::min_element(FPages.begin(), FPages.end(),
                              [](const TPage& a, const TPage& b) { return a.LastUse < b.LastUse; });
    page->Offset = pageOffset;
    page->Bytes.assign(size_t(std::min<int64_t>(PageSize, FSize - pageOffset)), 0);
    size_t got = 0;
    while (got < page->Bytes.size()) {
      size_t n = FSource->ReadAt(pageOffset + int64_t(got), page->Bytes.data() + got, page->Bytes.size() - got);
      if (n == 0) break;
      got += n;
    }
  }
  page->LastUse = ++FUseClock;
  return page->Bytes[size_t(offset - pageOffset)];
}

qreal THexViewer::CharWidth() const {
  if (FCharWidth <= 0) {
    // Advances are fractional; a single rounded one drifts along a row.
    FCharWidth = std::max<qreal>(1, QFontMetricsF(font()).horizontalAdvance(QString(64, u'M')) / 64);
  }
  return FCharWidth;
}

void THexViewer::changeEvent(QEvent* e) {
  QAbstractScrollArea::changeEvent(e);
  if (e->type() == QEvent::FontChange) {
    FCharWidth = 0;
    Relayout();
  }
}

int THexViewer::Columns() const {
  if (!FFit) return FMode == TViewMode::Hex ? 16 : 80;
  return std::max(1, int((viewport()->width() - 2 * Margin) / CharWidth()));
}

int THexViewer::OffsetDigits() const {
  int digits = 8;
  while (digits < 16 && (FSize >> (4 * digits)) != 0) ++digits;
  return digits;
}

int THexViewer::BytesPerRow() const {
  if (FMode == TViewMode::Binary) return FFit ? Columns() : 64;
  if (!FFit) return 16;
  // "offset  XX XX ..  chars": four columns per byte after the offset.
  int n = (Columns() - OffsetDigits() - 3) / 4;
  if (n >= 8) n -= n % 8;
  return std::max(1, n);
}

int THexViewer::VisibleRowCount() const {
  return std::max(1, (viewport()->height() - 2 * Margin) / std::max(1, fontMetrics().lineSpacing()));
}

THexViewer::TRow THexViewer::LayoutRow(int64_t start) {
  TRow row{start, start, {}};
  if (start >= FSize) return row;
  if (FMode == TViewMode::Binary || FMode == TViewMode::Hex) {
    const int n = BytesPerRow();
    row.End = std::min<int64_t>(start + n, FSize);
    const int count = int(row.End - start);
    if (FMode == TViewMode::Binary) {
      for (int i = 0; i < count; ++i) row.Text += ByteChar(ByteAt(start + i));
      return row;
    }
    const int digits = OffsetDigits();
    for (int d = digits - 1; d >= 0; --d) row.Text += QChar(HexDigits[(start >> (4 * d)) & 15]);
    row.Text += QStringLiteral("  ");
    QString chars;
    for (int i = 0; i < n; ++i) {
      if (i < count) {
        const int b = ByteAt(start + i);
        row.Text += QChar(HexDigits[b >> 4]);
        row.Text += QChar(HexDigits[b & 15]);
        row.Text += u' ';
        chars += ByteChar(b);
      } else {
        row.Text += QStringLiteral("   ");
      }
    }
    row.Text += u' ';
    row.Text += chars;
    return row;
  }
  const bool wide = FMode == TViewMode::Unicode;
  const int limit = FWrap ? Columns() : MaxUnwrappedUnits;
  int64_t p = start;
  // The unit at p, -1 at the end; a lone last byte of UTF-16 counts as a unit.
  auto unitAt = [&](int64_t at, int& bytes) {
    const int b0 = ByteAt(at);
    if (b0 < 0 || !wide) {
      bytes = 1;
      return b0;
    }
    const int b1 = ByteAt(at + 1);
    bytes = b1 < 0 ? 1 : 2;
    return b1 < 0 ? 0xFFFF : b0 | b1 << 8;
  };
  while (row.Text.size() < limit) {
    int bytes;
    const int u = unitAt(p, bytes);
    if (u < 0) break;
    p += bytes;
    if (u == '\n') {
      row.Text += u' ';
      row.End = p;
      return row;
    }
    row.Text += wide ? UnitChar(unsigned(u)) : ByteChar(u);
  }
  // A full row followed by its line break takes the break with it, so no
  // empty row follows.
  int bytes;
  if (unitAt(p, bytes) == '\n') p += bytes;
  row.End = p;
  return row;
}

int64_t THexViewer::RowContaining(int64_t offset) {
  if (offset <= 0 || FSize == 0) return 0;
  offset = std::min(offset, FSize - 1);
  if (FixedRows()) return offset - offset % BytesPerRow();
  const int unit = FMode == TViewMode::Unicode ? 2 : 1;
  offset -= offset % unit;
  const int64_t floor = std::max<int64_t>(0, offset - LineSearchWindow);
  int64_t lineStart = floor - floor % unit;
  for (int64_t p = offset - unit; p >= floor; p -= unit) {
    const bool lineBreak = ByteAt(p) == '\n' && (unit == 1 || ByteAt(p + 1) == 0);
    if (lineBreak) {
      lineStart = p + unit;
      break;
    }
  }
  int64_t r = lineStart;
  for (;;) {
    const int64_t next = LayoutRow(r).End;
    if (next > offset || next <= r) return r;
    r = next;
  }
}

int64_t THexViewer::MaxTop() {
  if (FMaxTop >= 0) return FMaxTop;
  const int rows = VisibleRowCount();
  if (FSize == 0) {
    FMaxTop = 0;
  } else if (FixedRows()) {
    const int64_t n = BytesPerRow();
    const int64_t total = (FSize + n - 1) / n;
    FMaxTop = std::max<int64_t>(0, total - rows) * n;
  } else {
    int64_t top = RowContaining(FSize - 1);
    for (int i = 1; i < rows && top > 0; ++i) top = RowContaining(top - 1);
    FMaxTop = top;
  }
  return FMaxTop;
}

void THexViewer::Relayout() {
  FMaxTop = -1;
  SetTop(FTop < FSize ? RowContaining(FTop) : FTop);
}

void THexViewer::SetTop(int64_t top) {
  FTop = std::clamp<int64_t>(top, 0, MaxTop());
  UpdateScrollBar();
  viewport()->update();
}

void THexViewer::UpdateScrollBar() {
  const int64_t max = MaxTop();
  FScale = max / INT_MAX + 1;
  QScrollBar* bar = verticalScrollBar();
  const QSignalBlocker block(bar);
  bar->setRange(0, int(max / FScale));
  bar->setPageStep(int(std::clamp<int64_t>(int64_t(VisibleRowCount()) * Columns() / FScale, 1, INT_MAX)));
  bar->setValue(int(FTop / FScale));
}

void THexViewer::ScrollRows(int64_t rows) {
  int64_t top = FTop;
  if (FixedRows()) {
    top += rows * BytesPerRow();
  } else {
    for (; rows > 0 && top < FSize; --rows) {
      const int64_t next = LayoutRow(top).End;
      if (next <= top) break;
      top = next;
    }
    for (; rows < 0 && top > 0; ++rows) top = RowContaining(top - 1);
  }
  SetTop(top);
}

void THexViewer::ScrollTo(int64_t offset) { SetTop(offset >= FSize ? MaxTop() : RowContaining(offset)); }

void THexViewer::ScrollBarAction(int action) {
  const int64_t page = std::max(1, VisibleRowCount() - 1);
  switch (action) {
    case QAbstractSlider::SliderSingleStepAdd: ScrollRows(1); break;
    case QAbstractSlider::SliderSingleStepSub: ScrollRows(-1); break;
    case QAbstractSlider::SliderPageStepAdd: ScrollRows(page); break;
    case QAbstractSlider::SliderPageStepSub: ScrollRows(-page); break;
    default: return;
  }
  verticalScrollBar()->setSliderPosition(int(FTop / FScale));
}

void THexViewer::ScrollBarMoved(int value) {
  if (value == int(FTop / FScale)) return;
  const int64_t target = int64_t(value) * FScale;
  FTop = std::clamp<int64_t>(target >= FSize ? FSize : RowContaining(target), 0, MaxTop());
  viewport()->update();
}

QStringList THexViewer::VisibleRows() {
  QStringList out;
  int64_t r = FTop;
  for (int i = 0; i < VisibleRowCount() && r < FSize; ++i) {
    TRow row = LayoutRow(r);
    out << row.Text;
    if (row.End <= r) break;
    r = row.End;
  }
  return out;
}

std::vector<std::pair<int, int>> THexViewer::CellsOf(const TRow& row, int64_t offset) const {
  const int i = int(offset - row.Start);
  switch (FMode) {
    case TViewMode::Unicode: return {{i / 2, 1}};
    case TViewMode::Hex: {
      const int digits = OffsetDigits();
      const int n = BytesPerRow();
      return {{digits + 2 + 3 * i, 2}, {digits + 2 + 3 * n + 1 + i, 1}};
    }
    default: return {{i, 1}};
  }
}

void THexViewer::paintEvent(QPaintEvent*) {
  QPainter p(viewport());
  p.setFont(font());
  const QFontMetrics fm = fontMetrics();
  const int lineHeight = fm.lineSpacing();
  const qreal charWidth = CharWidth();
  const QColor selection = palette().color(QPalette::Highlight);
  int64_t r = FTop;
  for (int i = 0; i < VisibleRowCount() && r < FSize; ++i) {
    const TRow row = LayoutRow(r);
    const int y = Margin + i * lineHeight;
    const int64_t from = std::max(row.Start, FSelStart), to = std::min(row.End, FSelEnd);
    for (int64_t b = from; b < to; ++b)
      for (auto [col, width] : CellsOf(row, b))
        p.fillRect(QRectF(Margin + col * charWidth, y, width * charWidth, lineHeight), selection);
    p.setPen(palette().color(QPalette::Text));
    p.drawText(Margin, y + fm.ascent(), row.Text);
    if (row.End <= r) break;
    r = row.End;
  }
}

void THexViewer::resizeEvent(QResizeEvent* e) {
  QAbstractScrollArea::resizeEvent(e);
  Relayout();
}

void THexViewer::keyPressEvent(QKeyEvent* e) {
  if (e->matches(QKeySequence::Copy)) return CopyToClipboard();
  if (e->matches(QKeySequence::SelectAll)) return SetSelection(0, FSize);
  const int64_t page = std::max(1, VisibleRowCount() - 1);
  switch (e->key()) {
    case Qt::Key_Down: ScrollRows(1); break;
    case Qt::Key_Up: ScrollRows(-1); break;
    case Qt::Key_PageDown: ScrollRows(page); break;
    case Qt::Key_PageUp: ScrollRows(-page); break;
    case Qt::Key_Home: SetTop(0); break;
    case Qt::Key_End: SetTop(MaxTop()); break;
    default: QAbstractScrollArea::keyPressEvent(e); return;
  }
  e->accept();
}

void THexViewer::wheelEvent(QWheelEvent* e) {
  // Three rows a notch; high-resolution wheels add up to notches.
  FWheelRemainder += e->angleDelta().y();
  const int rows = FWheelRemainder / 40;
  FWheelRemainder -= rows * 40;
  if (rows) ScrollRows(-rows);
  e->accept();
}

int64_t THexViewer::OffsetAt(QPoint pt) {
  const QFontMetrics fm = fontMetrics();
  const int rowIndex = std::max(0, (pt.y() - Margin) / fm.lineSpacing());
  const int col = std::max(0, int((pt.x() - Margin) / CharWidth()));
  int64_t r = FTop;
  TRow row = LayoutRow(r);
  for (int i = 0; i < rowIndex && row.End < FSize && row.End > r; ++i) row = LayoutRow(r = row.End);
  if (row.End <= row.Start) return -1;
  int64_t at;
  switch (FMode) {
    case TViewMode::Unicode: at = row.Start + 2 * int64_t(col); break;
    case TViewMode::Hex: {
      const int digits = OffsetDigits(), n = BytesPerRow();
      const int charsAt = digits + 2 + 3 * n + 1;
      at = row.Start + (col >= charsAt ? col - charsAt : std::max(0, col - digits - 2) / 3);
      break;
    }
    default: at = row.Start + col;
  }
  return std::min(at, row.End - 1);
}

void THexViewer::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return QAbstractScrollArea::mousePressEvent(e);
  FSelAnchor = OffsetAt(e->position().toPoint());
  SetSelection(0, 0);
}

void THexViewer::mouseMoveEvent(QMouseEvent* e) {
  if (!(e->buttons() & Qt::LeftButton) || FSelAnchor < 0) return;
  const int64_t at = OffsetAt(e->position().toPoint());
  if (at < 0) return;
  SetSelection(std::min(FSelAnchor, at), std::max(FSelAnchor, at) + 1);
}

void THexViewer::SetSelection(int64_t start, int64_t end) {
  FSelStart = std::clamp<int64_t>(start, 0, FSize);
  FSelEnd = std::clamp<int64_t>(end, FSelStart, FSize);
  viewport()->update();
}

QString THexViewer::SelectedText() {
  if (!FSource || FSelEnd <= FSelStart) return {};
  const int64_t count = std::min(FSelEnd - FSelStart, MaxCopyBytes);
  std::vector<uint8_t> bytes(size_t(count), 0);
  size_t got = 0;
  while (got < bytes.size()) {
    size_t n = FSource->ReadAt(FSelStart + int64_t(got), bytes.data() + got, bytes.size() - got);
    if (n == 0) break;
    got += n;
  }
  QString out;
  switch (FMode) {
    case TViewMode::Hex:
      out.reserve(qsizetype(count) * 3);
      for (uint8_t b : bytes) {
        if (!out.isEmpty()) out += u' ';
        out += QChar(HexDigits[b >> 4]);
        out += QChar(HexDigits[b & 15]);
      }
      break;
    case TViewMode::Unicode:
      for (size_t i = 0; i + 1 < bytes.size(); i += 2) out += QChar(char16_t(bytes[i] | bytes[i + 1] << 8));
      break;
    case TViewMode::Text:
      // Copied text keeps its line structure.
      for (uint8_t b : bytes) out += b == '\n' || b == '\r' || b == '\t' ? QChar(b) : ByteChar(b);
      break;
    case TViewMode::Binary:
      for (uint8_t b : bytes) out += ByteChar(b);
      break;
  }
  return out;
}

void THexViewer::CopyToClipboard() {
  const QString text = SelectedText();
  if (!text.isEmpty()) QApplication::clipboard()->setText(text);
}

}  // namespace mirel::viewer
