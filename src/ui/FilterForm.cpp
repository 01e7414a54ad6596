#include "ui/FilterForm.h"

#include <QCheckBox>
#include <QDateTimeEdit>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <limits>

#include "core/FileInfo.h"
#include "query/RecoveryRegEx.h"
#include "ui/Dialogs.h"

namespace mirel::ui {

namespace {

template <class T>
T* Placed(T* w, const char* name, int x, int y, int width, int height) {
  w->setObjectName(QString::fromLatin1(name));
  w->setGeometry(x, y, width, height);
  return w;
}

TDateTime ToDateTime(const QDate& d, const QTime& t = QTime(0, 0)) {
  return EncodeDateTime(d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second(), t.msec());
}

constexpr int CollapsedHeight = 280;
constexpr int ExpandedHeight = 484;
constexpr int ToggleThreshold = 290;

}  // namespace

TSpinEdit::TSpinEdit(int64_t min, int64_t max, QWidget* parent)
    : QLineEdit(QStringLiteral("0"), parent), Min(min), Max(max) {}

int64_t TSpinEdit::Value() const {
  bool ok = false;
  const int64_t v = text().trimmed().toLongLong(&ok);
  if (Min > Max) return ok ? v : 0;
  return ok ? std::clamp(v, Min, Max) : Min;
}

void TSpinEdit::keyPressEvent(QKeyEvent* e) {
  const QString typed = e->text();
  const bool inserts = !typed.isEmpty() && typed.front().isPrint();
  if (inserts && !(typed.size() == 1 && typed.front() >= u'0' && typed.front() <= u'9')) return;
  QLineEdit::keyPressEvent(e);
}

void TSpinEdit::focusOutEvent(QFocusEvent* e) {
  if (text().trimmed().isEmpty())
    setText(QStringLiteral("0"));
  else if (Min <= Max)
    setText(QString::number(Value()));
  QLineEdit::focusOutEvent(e);
}

TfrmFilterForm::TfrmFilterForm(std::function<void(const TFilter&)> apply, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      Apply(std::move(apply)) {
  setWindowTitle(QStringLiteral("Finding your files"));

  rbtShowAll = Placed(new QRadioButton(QStringLiteral("Show All Files (default)"), this), "rbtShowAll", 8, 8, 240, 20);
  rbtShowAll->setChecked(true);
  rbtUseFilter = Placed(new QRadioButton(QStringLiteral("Use Filter"), this), "rbtUseFilter", 8, 30, 240, 20);
  Label1 = Placed(new QLabel(QStringLiteral("Show files and folders found by mask or keyword:"), this), "Label1", 16,
                  52, 305, 18);
  edNameMask = Placed(new QLineEdit(QStringLiteral("*.*"), this), "edNameMask", 16, 72, 305, 22);
  btnOK = Placed(new QPushButton(QStringLiteral("OK"), this), "btnOK", 326, 8, 80, 25);
  btnCancel = Placed(new QPushButton(QStringLiteral("Cancel"), this), "btnCancel", 326, 38, 80, 25);
  btnAdvanced = Placed(new QPushButton(QStringLiteral("Advanced >>"), this), "btnAdvanced", 326, 69, 80, 25);
  // Enter closes like Esc unless a button has the focus: a focused button
  // (auto-default) takes Enter itself.
  btnCancel->setDefault(true);

  GroupBox1 =
      Placed(new QGroupBox(QStringLiteral(" Tips for locating your files "), this), "GroupBox1", 8, 100, 398, 142);
  auto* label9 =
      Placed(new QLabel(QStringLiteral("It is not uncommon for Mirel to find thousands of deleted files. To locate "
                                       "the files you're after, use filters. If you want to use more than one search "
                                       "term, separate them with semicolons. You can use wildcards (* and ?)."),
                        GroupBox1),
             "Label9", 8, 18, 382, 54);
  label9->setWordWrap(true);
  Placed(new QLabel(QStringLiteral("Example: mygraphic; *.jpg; myanimation.*"), GroupBox1), "Label10", 8, 74, 382, 16);
  auto* label8 = Placed(new QLabel(QStringLiteral("Click 'advanced' for more filtering options (by modification date, "
                                                  "size etc.). Click cancel if you do not want to apply filters at "
                                                  "this time."),
                                   GroupBox1),
                        "Label8", 8, 94, 382, 42);
  label8->setWordWrap(true);

  // Below the collapsed height, so only the enlarged dialog uncovers it.
  PageControl1 = Placed(new QTabWidget(this), "PageControl1", 3, CollapsedHeight + 2, 405, 192);
  TabSheet1 = new QWidget;
  TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
  TabSheet2 = new QWidget;
  TabSheet2->setObjectName(QStringLiteral("TabSheet2"));
  TabSheet3 = new QWidget;
  TabSheet3->setObjectName(QStringLiteral("TabSheet3"));
  PageControl1->addTab(TabSheet1, QStringLiteral("Date"));
  PageControl1->addTab(TabSheet2, QStringLiteral("Size"));
  PageControl1->addTab(TabSheet3, QStringLiteral("Attributes"));

  rbtAllDates = Placed(new QRadioButton(QStringLiteral("All Files"), TabSheet1), "rbtAllDates", 8, 8, 200, 20);
  rbtAllDates->setChecked(true);
  Placed(new QLabel(QStringLiteral("Find files created or modified:"), TabSheet1), "Label2", 8, 34, 300, 18);
  rbtDateBetween = Placed(new QRadioButton(QStringLiteral("Between"), TabSheet1), "rbtDateBetween", 8, 55, 90, 20);
  const QDateTime stored(QDate(2006, 8, 8), QTime(0, 26, 40));
  auto picker = [&](const char* name, int y) {
    auto* p = Placed(new QDateTimeEdit(stored, TabSheet1), name, 100, y, 180, 22);
    p->setCalendarPopup(true);
    p->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    p->setDateRange(QDate(1, 1, 1), QDate(9999, 12, 31));
    return p;
  };
  dtpDateBegin = picker("dtpDateBegin", 54);
  Placed(new QLabel(QStringLiteral("and"), TabSheet1), "Label3", 70, 82, 26, 18);
  dtpDateEnd = picker("dtpDateEnd", 80);
  rbtPrevMonths =
      Placed(new QRadioButton(QStringLiteral("During the previous"), TabSheet1), "rbtPrevMonths", 8, 109, 150, 20);
  seMonths = Placed(new TSpinEdit(0, 2000000, TabSheet1), "seMonths", 160, 108, 80, 22);
  Placed(new QLabel(QStringLiteral("Month(s)"), TabSheet1), "Label4", 246, 110, 80, 18);
  rbtPrevDays =
      Placed(new QRadioButton(QStringLiteral("During the previous"), TabSheet1), "rbtPrevDays", 8, 137, 150, 20);
  seDays = Placed(new TSpinEdit(0, 20000000, TabSheet1), "seDays", 160, 136, 80, 22);
  Placed(new QLabel(QStringLiteral("Day(s)"), TabSheet1), "Label5", 246, 138, 80, 18);

  cbxSize = Placed(new QCheckBox(QStringLiteral("Size is"), TabSheet2), "cbxSize", 8, 10, 70, 20);
  seSize = Placed(new TSpinEdit(1, 0, TabSheet2), "seSize", 80, 8, 120, 22);
  Placed(new QLabel(QStringLiteral("KB"), TabSheet2), "Label6", 206, 10, 30, 18);
  Placed(new QLabel(QStringLiteral("Compare:"), TabSheet2), "Label7", 8, 40, 80, 18);
  auto* frame = Placed(new QGroupBox(TabSheet2), "RadioGroup1", 80, 36, 200, 100);
  rbtSizeEqual = Placed(new QRadioButton(QStringLiteral("Equal (=)"), frame), "rbtSizeEqual", 10, 10, 180, 20);
  rbtSizeEqual->setChecked(true);
  rbtSizeGreater = Placed(new QRadioButton(QStringLiteral("Greates (>)"), frame), "rbtSizeGreater", 10, 38, 180, 20);
  rbtSizeSmaller = Placed(new QRadioButton(QStringLiteral("Smaller (<)"), frame), "rbtSizeSmaller", 10, 66, 180, 20);

  rbtAnyAttrs = Placed(new QRadioButton(QStringLiteral("Any Attributes"), TabSheet3), "rbtAnyAttrs", 8, 8, 200, 20);
  rbtAnyAttrs->setChecked(true);
  rbtSelAttrs =
      Placed(new QRadioButton(QStringLiteral("Selected Attributes:"), TabSheet3), "rbtSelAttrs", 8, 32, 200, 20);
  cbxArchive = Placed(new QCheckBox(QStringLiteral("Archive"), TabSheet3), "cbxArchive", 28, 56, 150, 20);
  cbxReadOnly = Placed(new QCheckBox(QStringLiteral("Read Only"), TabSheet3), "cbxReadOnly", 28, 78, 150, 20);
  cbxSystem = Placed(new QCheckBox(QStringLiteral("System"), TabSheet3), "cbxSystem", 28, 100, 150, 20);
  cbxHidden = Placed(new QCheckBox(QStringLiteral("Hidden"), TabSheet3), "cbxHidden", 28, 122, 150, 20);

  connect(btnOK, &QPushButton::clicked, this, &TfrmFilterForm::btnOKClick);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(btnAdvanced, &QPushButton::clicked, this, &TfrmFilterForm::btnAdvancedClick);
  connect(rbtShowAll, &QRadioButton::clicked, this, [this] { EnableFilterControls(false); });
  connect(rbtUseFilter, &QRadioButton::clicked, this, [this] { EnableFilterControls(true); });

  setFixedSize(411, 248);
}

void TfrmFilterForm::EnableFilterControls(bool enabled) {
  edNameMask->setEnabled(enabled);
  for (QWidget* page : {TabSheet1, TabSheet2, TabSheet3})
    for (QWidget* w : page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) w->setEnabled(enabled);
}

bool TfrmFilterForm::BuildFilter(const QDate& today, TFilter& f, QString& error) const {
  f = TFilter{};
  if (rbtShowAll->isChecked()) return true;
  f.Flags = qfMask;
  f.Mask = WildcardToPattern(edNameMask->text().toStdString());
  if (!rbtAllDates->isChecked()) {
    f.Flags |= qfDate;
    if (rbtDateBetween->isChecked()) {
      f.DateFrom = ToDateTime(dtpDateBegin->date(), dtpDateBegin->time());
      f.DateTo = ToDateTime(dtpDateEnd->date(), dtpDateEnd->time());
    } else {
      // addMonths clips the day to the length of the target month.
      const QDate from =
          rbtPrevMonths->isChecked() ? today.addMonths(-int(seMonths->Value())) : today.addDays(-seDays->Value());
      if (!from.isValid() || from.year() < 1) {
        error = QStringLiteral("The date range reaches back before the year 1.");
        return false;
      }
      f.DateFrom = ToDateTime(from);
      f.DateTo = ToDateTime(today);
    }
  }
  if (cbxSize->isChecked()) {
    constexpr int64_t limit = std::numeric_limits<int64_t>::max() / 1024;
    f.Flags |= qfSize;
    f.Flags |= rbtSizeEqual->isChecked() ? qfSizeEqual : rbtSizeGreater->isChecked() ? qfSizeGreater : qfSizeSmaller;
    f.Size = std::clamp(seSize->Value(), -limit, limit) * 1024;
  }
  if (rbtSelAttrs->isChecked()) {
    f.Flags |= qfAttributes;
    if (cbxReadOnly->isChecked()) f.Attributes |= faReadOnly;
    if (cbxHidden->isChecked()) f.Attributes |= faHidden;
    if (cbxArchive->isChecked()) f.Attributes |= faArchive;
    if (cbxSystem->isChecked()) f.Attributes |= faSysFile;
  }
  return true;
}

void TfrmFilterForm::btnOKClick() {
  TFilter f;
  QString error;
  if (!BuildFilter(QDate::currentDate(), f, error)) {
    Dialogs().Message(this, QMessageBox::Warning, windowTitle(), error, QMessageBox::Ok);
    return;
  }
  if (Apply) Apply(f);
  accept();
}

void TfrmFilterForm::SetOuterHeight(int target) {
  const int frame = frameGeometry().height() - geometry().height();
  setFixedSize(width(), target - frame);
}

void TfrmFilterForm::btnAdvancedClick() {
  if (frameGeometry().height() >= ToggleThreshold) {
    SetOuterHeight(CollapsedHeight);
    btnAdvanced->setText(QStringLiteral("Advanced >>"));
  } else {
    SetOuterHeight(ExpandedHeight);
    btnAdvanced->setText(QStringLiteral("Advanced <<"));
  }
}

}  // namespace mirel::ui
