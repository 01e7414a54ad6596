#pragma once
// The manual shown inside the program, for desktops where no web browser
// opens it.
#include <QDialog>
#include <QUrl>

class QTextBrowser;

namespace mirel::ui {

class TfrmManual : public QDialog {
  Q_OBJECT
public:
  // manual: the local manual.html, its fragment the section to show.
  explicit TfrmManual(const QUrl& manual, QWidget* parent = nullptr);

  QTextBrowser* Text = nullptr;
};

}  // namespace mirel::ui
