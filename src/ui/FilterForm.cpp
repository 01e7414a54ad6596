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

  ShowAllButton =
      Placed(new QRadioButton(QStringLiteral("Show All Files (default)"), this), "ShowAllButton", 8, 8, 240, 20);
  ShowAllButton->setChecked(true);
  UseFilterButton = Placed(new QRadioButton(QStringLiteral("Use Filter"), this), "UseFilterButton", 8, 30, 240, 20);
  MaskCaption = Placed(new QLabel(QStringLiteral("Show files and folders found by mask or keyword:"), this),
                       "MaskCaption", 16, 52, 305, 18);
  NameMaskEdit = Placed(new QLineEdit(QStringLiteral("*.*"), this), "NameMaskEdit", 16, 72, 305, 22);
  OkButton = Placed(new QPushButton(QStringLiteral("OK"), this), "OkButton", 326, 8, 80, 25);
  CancelButton = Placed(new QPushButton(QStringLiteral("Cancel"), this), "CancelButton", 326, 38, 80, 25);
  AdvancedButton = Placed(new QPushButton(QStringLiteral("Advanced >>"), this), "AdvancedButton", 326, 69, 80, 25);
  // Enter closes like Esc unless a button has the focus: a focused button
  // (auto-default) takes Enter itself.
  CancelButton->setDefault(true);

  TipsGroup =
      Placed(new QGroupBox(QStringLiteral(" Tips for locating your files "), this), "TipsGroup", 8, 100, 398, 142);
  auto* tips =
      Placed(new QLabel(QStringLiteral("It is not uncommon for Mirel to find thousands of deleted files. To locate "
                                       "the files you're after, use filters. If you want to use more than one search "
                                       "term, separate them with semicolons. You can use wildcards (* and ?)."),
                        TipsGroup),
             "TipsText", 8, 18, 382, 54);
  tips->setWordWrap(true);
  Placed(new QLabel(QStringLiteral("Example: mygraphic; *.jpg; myanimation.*"), TipsGroup), "TipsExample", 8, 74, 382,
         16);
  auto* advancedTip =
      Placed(new QLabel(QStringLiteral("Click 'advanced' for more filtering options (by modification date, "
                                       "size etc.). Click cancel if you do not want to apply filters at "
                                       "this time."),
                        TipsGroup),
             "AdvancedTip", 8, 94, 382, 42);
  advancedTip->setWordWrap(true);

  // Below the collapsed height, so only the enlarged dialog uncovers it.
  CriteriaTabs = Placed(new QTabWidget(this), "CriteriaTabs", 3, CollapsedHeight + 2, 405, 192);
  DatePage = new QWidget;
  DatePage->setObjectName(QStringLiteral("DatePage"));
  SizePage = new QWidget;
  SizePage->setObjectName(QStringLiteral("SizePage"));
  AttributesPage = new QWidget;
  AttributesPage->setObjectName(QStringLiteral("AttributesPage"));
  CriteriaTabs->addTab(DatePage, QStringLiteral("Date"));
  CriteriaTabs->addTab(SizePage, QStringLiteral("Size"));
  CriteriaTabs->addTab(AttributesPage, QStringLiteral("Attributes"));

  AllDatesButton = Placed(new QRadioButton(QStringLiteral("All Files"), DatePage), "AllDatesButton", 8, 8, 200, 20);
  AllDatesButton->setChecked(true);
  Placed(new QLabel(QStringLiteral("Find files created or modified:"), DatePage), "DateCaption", 8, 34, 300, 18);
  DateBetweenButton = Placed(new QRadioButton(QStringLiteral("Between"), DatePage), "DateBetweenButton", 8, 55, 90, 20);
  const QDateTime stored(QDate(2006, 8, 8), QTime(0, 26, 40));
  auto picker = [&](const char* name, int y) {
    auto* p = Placed(new QDateTimeEdit(stored, DatePage), name, 100, y, 180, 22);
    p->setCalendarPopup(true);
    p->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    p->setDateRange(QDate(1, 1, 1), QDate(9999, 12, 31));
    return p;
  };
  DateBeginEdit = picker("DateBeginEdit", 54);
  Placed(new QLabel(QStringLiteral("and"), DatePage), "DateAndCaption", 70, 82, 26, 18);
  DateEndEdit = picker("DateEndEdit", 80);
  PrevMonthsButton =
      Placed(new QRadioButton(QStringLiteral("During the previous"), DatePage), "PrevMonthsButton", 8, 109, 150, 20);
  MonthsEdit = Placed(new TSpinEdit(0, 2000000, DatePage), "MonthsEdit", 160, 108, 80, 22);
  Placed(new QLabel(QStringLiteral("Month(s)"), DatePage), "MonthsCaption", 246, 110, 80, 18);
  PrevDaysButton =
      Placed(new QRadioButton(QStringLiteral("During the previous"), DatePage), "PrevDaysButton", 8, 137, 150, 20);
  DaysEdit = Placed(new TSpinEdit(0, 20000000, DatePage), "DaysEdit", 160, 136, 80, 22);
  Placed(new QLabel(QStringLiteral("Day(s)"), DatePage), "DaysCaption", 246, 138, 80, 18);

  SizeBox = Placed(new QCheckBox(QStringLiteral("Size is"), SizePage), "SizeBox", 8, 10, 70, 20);
  SizeEdit = Placed(new TSpinEdit(1, 0, SizePage), "SizeEdit", 80, 8, 120, 22);
  Placed(new QLabel(QStringLiteral("KB"), SizePage), "SizeUnitCaption", 206, 10, 30, 18);
  Placed(new QLabel(QStringLiteral("Compare:"), SizePage), "CompareCaption", 8, 40, 80, 18);
  auto* frame = Placed(new QGroupBox(SizePage), "CompareGroup", 80, 36, 200, 100);
  SizeEqualButton = Placed(new QRadioButton(QStringLiteral("Equal (=)"), frame), "SizeEqualButton", 10, 10, 180, 20);
  SizeEqualButton->setChecked(true);
  SizeGreaterButton =
      Placed(new QRadioButton(QStringLiteral("Greates (>)"), frame), "SizeGreaterButton", 10, 38, 180, 20);
  SizeSmallerButton =
      Placed(new QRadioButton(QStringLiteral("Smaller (<)"), frame), "SizeSmallerButton", 10, 66, 180, 20);

  AnyAttributesButton =
      Placed(new QRadioButton(QStringLiteral("Any Attributes"), AttributesPage), "AnyAttributesButton", 8, 8, 200, 20);
  AnyAttributesButton->setChecked(true);
  SelectedAttributesButton = Placed(new QRadioButton(QStringLiteral("Selected Attributes:"), AttributesPage),
                                    "SelectedAttributesButton", 8, 32, 200, 20);
  ArchiveBox = Placed(new QCheckBox(QStringLiteral("Archive"), AttributesPage), "ArchiveBox", 28, 56, 150, 20);
  ReadOnlyBox = Placed(new QCheckBox(QStringLiteral("Read Only"), AttributesPage), "ReadOnlyBox", 28, 78, 150, 20);
  SystemBox = Placed(new QCheckBox(QStringLiteral("System"), AttributesPage), "SystemBox", 28, 100, 150, 20);
  HiddenBox = Placed(new QCheckBox(QStringLiteral("Hidden"), AttributesPage), "HiddenBox", 28, 122, 150, 20);

  connect(OkButton, &QPushButton::clicked, this, &TfrmFilterForm::OkClick);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
  connect(AdvancedButton, &QPushButton::clicked, this, &TfrmFilterForm::AdvancedClick);
  connect(ShowAllButton, &QRadioButton::clicked, this, [this] { EnableFilterControls(false); });
  connect(UseFilterButton, &QRadioButton::clicked, this, [this] { EnableFilterControls(true); });

  setFixedSize(411, 248);
}

void TfrmFilterForm::EnableFilterControls(bool enabled) {
  NameMaskEdit->setEnabled(enabled);
  for (QWidget* page : {DatePage, SizePage, AttributesPage})
    for (QWidget* w : page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) w->setEnabled(enabled);
}

bool TfrmFilterForm::BuildFilter(const QDate& today, TFilter& f, QString& error) const {
  f = TFilter{};
  if (ShowAllButton->isChecked()) return true;
  f.Flags = qfMask;
  f.Mask = WildcardToPattern(NameMaskEdit->text().toStdString());
  if (!AllDatesButton->isChecked()) {
    f.Flags |= qfDate;
    if (DateBetweenButton->isChecked()) {
      f.DateFrom = ToDateTime(DateBeginEdit->date(), DateBeginEdit->time());
      f.DateTo = ToDateTime(DateEndEdit->date(), DateEndEdit->time());
    } else {
      // addMonths clips the day to the length of the target month.
      const QDate from = PrevMonthsButton->isChecked() ? today.addMonths(-int(MonthsEdit->Value()))
                                                       : today.addDays(-DaysEdit->Value());
      if (!from.isValid() || from.year() < 1) {
        error = QStringLiteral("The date range reaches back before the year 1.");
        return false;
      }
      f.DateFrom = ToDateTime(from);
      f.DateTo = ToDateTime(today);
    }
  }
  if (SizeBox->isChecked()) {
    constexpr int64_t limit = std::numeric_limits<int64_t>::max() / 1024;
    f.Flags |= qfSize;
    f.Flags |= SizeEqualButton->isChecked()     ? qfSizeEqual
               : SizeGreaterButton->isChecked() ? qfSizeGreater
                                                : qfSizeSmaller;
    f.Size = std::clamp(SizeEdit->Value(), -limit, limit) * 1024;
  }
  if (SelectedAttributesButton->isChecked()) {
    f.Flags |= qfAttributes;
    if (ReadOnlyBox->isChecked()) f.Attributes |= faReadOnly;
    if (HiddenBox->isChecked()) f.Attributes |= faHidden;
    if (ArchiveBox->isChecked()) f.Attributes |= faArchive;
    if (SystemBox->isChecked()) f.Attributes |= faSysFile;
  }
  return true;
}

void TfrmFilterForm::OkClick() {
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

void TfrmFilterForm::AdvancedClick() {
  if (frameGeometry().height() >= ToggleThreshold) {
    SetOuterHeight(CollapsedHeight);
    AdvancedButton->setText(QStringLiteral("Advanced >>"));
  } else {
    SetOuterHeight(ExpandedHeight);
    AdvancedButton->setText(QStringLiteral("Advanced <<"));
  }
}

}  // namespace mirel::ui
