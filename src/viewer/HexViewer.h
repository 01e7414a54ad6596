#pragma once
// A scrolling view of a byte source as text, as raw characters, as hex or as
// UTF-16 text. Only the rows on screen are laid out, from a small cache of
// pages read on demand, so the view of a source of any size costs the same
// memory; the scroll position is a byte offset, not a row number.
#include <QAbstractScrollArea>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

#include "viewer/ByteSource.h"

namespace mirel::viewer {

enum class TViewMode { Text, Binary, Hex, Unicode };

class THexViewer : public QAbstractScrollArea {
  Q_OBJECT
public:
  explicit THexViewer(QWidget* parent = nullptr);

  // Shows source (not owned; null for none) from its start and redraws at
  // once. The caller keeps the source alive until it hands another one.
  void SetSource(TByteSource* source);
  TByteSource* Source() const { return FSource; }
  void SetMode(TViewMode mode);
  TViewMode Mode() const { return FMode; }
  // Rows as wide as the window in text and hex display; otherwise 80
  // characters or 16 bytes.
  void SetFitToWidth(bool fit);
  // Text rows longer than the width continue on the next row; otherwise the
  // rest of the line is cut off at the window's edge.
  void SetWrap(bool wrap);

  // Offset of the first byte on screen.
  int64_t TopOffset() const { return FTop; }
  // The rows on screen as they are drawn.
  QStringList VisibleRows();
  void ScrollRows(int64_t rows);
  // Brings the row holding offset to the top, as far as the end allows.
  void ScrollTo(int64_t offset);

  // Bytes [start, end) are selected; an empty range selects nothing.
  void SetSelection(int64_t start, int64_t end);
  int64_t SelectionStart() const { return FSelStart; }
  int64_t SelectionEnd() const { return FSelEnd; }
  // The selection as the current mode shows it (hex pairs in hex display),
  // at most MaxCopyBytes of it.
  QString SelectedText();
  void CopyToClipboard();

  static constexpr int64_t MaxCopyBytes = 16 << 20;

protected:
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void changeEvent(QEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void wheelEvent(QWheelEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;

private:
  struct TRow {
    int64_t Start = 0;
    int64_t End = 0;
    QString Text;
  };
  struct TPage {
    int64_t Offset = -1;
    std::vector<uint8_t> Bytes;
    uint64_t LastUse = 0;
  };
  static constexpr int PageSize = 4096;
  static constexpr int PageCount = 8;
  // How far back a text row's line start is looked for; a longer line is
  // cut into rows from an arbitrary point.
  static constexpr int64_t LineSearchWindow = 4096;
  static constexpr int MaxUnwrappedUnits = 4096;

  // The byte at offset; bytes that cannot be read show as 0; -1 past the end.
  int ByteAt(int64_t offset);
  bool FixedRows() const { return FMode == TViewMode::Binary || FMode == TViewMode::Hex; }
  qreal CharWidth() const;
  int Columns() const;
  int BytesPerRow() const;
  int OffsetDigits() const;
  int VisibleRowCount() const;
  TRow LayoutRow(int64_t start);
  int64_t RowContaining(int64_t offset);
  // The last top that still fills the window; cached until the layout changes.
  int64_t MaxTop();
  // Keeps the top byte on screen after the layout changed.
  void Relayout();
  void SetTop(int64_t top);
  void UpdateScrollBar();
  void ScrollBarAction(int action);
  void ScrollBarMoved(int value);
  // The byte under a point of the viewport, -1 for none.
  int64_t OffsetAt(QPoint p);
  // The columns byte offset takes in row: start column and width.
  std::vector<std::pair<int, int>> CellsOf(const TRow& row, int64_t offset) const;

  TByteSource* FSource = nullptr;
  int64_t FSize = 0;
  TViewMode FMode = TViewMode::Text;
  bool FFit = true;
  bool FWrap = true;
  int64_t FTop = 0;
  int64_t FMaxTop = -1;
  int64_t FScale = 1;
  mutable qreal FCharWidth = 0;
  int64_t FSelStart = 0;
  int64_t FSelEnd = 0;
  int64_t FSelAnchor = -1;
  int FWheelRemainder = 0;
  uint64_t FUseClock = 0;
  std::vector<TPage> FPages;
};

}  // namespace mirel::viewer
