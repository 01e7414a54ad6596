#pragma once
// The advanced filter dialog: all entries, or those matching a mask,
// optionally narrowed by date, size and attributes. OK hands the filter it
// builds to the main window; the dialog keeps its state between showings.
#include <QDate>
#include <QDialog>
#include <QLineEdit>
#include <functional>

#include "query/QueryObject.h"

class QCheckBox;
class QDateTimeEdit;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QTabWidget;

namespace mirel::ui {

// A number box that takes digits only; left empty or out of bounds, it
// shows the nearest valid value when the focus leaves it.
class TSpinEdit : public QLineEdit {
  Q_OBJECT
public:
  // Without bounds when min > max.
  TSpinEdit(int64_t min, int64_t max, QWidget* parent = nullptr);
  // The text as a decimal integer, brought within the bounds; text that is
  // not an integer counts as the lower bound (0 without bounds).
  int64_t Value() const;

protected:
  void keyPressEvent(QKeyEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;

private:
  int64_t Min, Max;
};

class TfrmFilterForm : public QDialog {
  Q_OBJECT
public:
  // apply receives the filter on OK.
  TfrmFilterForm(std::function<void(const TFilter&)> apply, QWidget* parent = nullptr);

  // The filter the controls describe, dates counted back from today; false
  // with the reason when a date before the year 1 would be needed.
  bool BuildFilter(const QDate& today, TFilter& out, QString& error) const;
  void EnableFilterControls(bool enabled);

  void OkClick();
  void AdvancedClick();

  QRadioButton* ShowAllButton;
  QRadioButton* UseFilterButton;
  QLabel* MaskCaption;
  QLineEdit* NameMaskEdit;
  QPushButton* OkButton;
  QPushButton* CancelButton;
  QPushButton* AdvancedButton;
  QGroupBox* TipsGroup;
  QTabWidget* CriteriaTabs;
  QWidget* DatePage;
  QWidget* SizePage;
  QWidget* AttributesPage;
  QRadioButton* AllDatesButton;
  QRadioButton* DateBetweenButton;
  QDateTimeEdit* DateBeginEdit;
  QDateTimeEdit* DateEndEdit;
  QRadioButton* PrevMonthsButton;
  TSpinEdit* MonthsEdit;
  QRadioButton* PrevDaysButton;
  TSpinEdit* DaysEdit;
  QCheckBox* SizeBox;
  TSpinEdit* SizeEdit;
  QRadioButton* SizeEqualButton;
  QRadioButton* SizeGreaterButton;
  QRadioButton* SizeSmallerButton;
  QRadioButton* AnyAttributesButton;
  QRadioButton* SelectedAttributesButton;
  QCheckBox* ArchiveBox;
  QCheckBox* ReadOnlyBox;
  QCheckBox* SystemBox;
  QCheckBox* HiddenBox;

private:
  // Makes the outer height (frame included) target.
  void SetOuterHeight(int target);

  std::function<void(const TFilter&)> Apply;
};

}  // namespace mirel::ui
