#include "ui/ManualWindow.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace mirel::ui {

TfrmManual::TfrmManual(const QUrl& manual, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Manual"));
  setAttribute(Qt::WA_DeleteOnClose);
  auto* layout = new QVBoxLayout(this);
  Text = new QTextBrowser(this);
  Text->setObjectName(QStringLiteral("txtManual"));
  // Links out of the manual go to the desktop; its own anchors stay here.
  Text->setOpenExternalLinks(true);
  Text->setSource(manual);
  layout->addWidget(Text);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
  layout->addWidget(buttons);
  const QFontMetrics fm = fontMetrics();
  resize(fm.horizontalAdvance(QLatin1Char('x')) * 90, fm.height() * 40);
}

}  // namespace mirel::ui
