#include <QCheckBox>
#include <QDateTimeEdit>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>

#include "UiTests.h"
#include "cli/FilterOptions.h"
#include "ui/Dialogs.h"
#include "ui/FilterForm.h"

namespace mirel::test {

using ui::TfrmFilterForm;

class FilterFormTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TfrmFilterForm> F;
  std::vector<TFilter> Applied;
  QStringList Messages;

  TFilter Build(const QDate& today) {
    TFilter f;
    QString error;
    if (!F->BuildFilter(today, f, error)) qWarning("%s", qPrintable(error));
    return f;
  }
  static TFilter FromCli(std::vector<std::pair<std::string, std::string>> options) {
    cli::TCliArgs args;
    args.Options = std::move(options);
    cli::TFilterOptions out;
    std::string error;
    if (!cli::ParseFilterOptions(args, out, error)) qWarning("%s", error.c_str());
    return out.Filter;
  }
  static bool Accepts(const TFilter& f, int64_t size, uint32_t attributes = 0) {
    TQueryObject q;
    q.SetFilter(f);
    TFileInfo e;
    e.Name = "Report.doc";
    e.Size = size;
    e.Attributes = attributes;
    return q.AcceptsInAnyFolder(e);
  }

private slots:
  void init() {
    Applied.clear();
    Messages.clear();
    ui::Dialogs().Message = [this](QWidget*, QMessageBox::Icon, const QString&, const QString& text,
                                   QMessageBox::StandardButtons) {
      Messages << text;
      return QMessageBox::Ok;
    };
    F = std::make_unique<TfrmFilterForm>([this](const TFilter& f) { Applied.push_back(f); });
  }
  void cleanup() { F.reset(); }

  void showAllIgnoresEverythingElse() {
    QCOMPARE(F->windowTitle(), QStringLiteral("Finding your files"));
    QVERIFY(F->ShowAllButton->isChecked() && F->AllDatesButton->isChecked() && F->SizeEqualButton->isChecked() &&
            F->AnyAttributesButton->isChecked() && !F->SizeBox->isChecked());
    QCOMPARE(F->NameMaskEdit->text(), QStringLiteral("*.*"));
    QCOMPARE(F->DateBeginEdit->dateTime(), QDateTime(QDate(2006, 8, 8), QTime(0, 26, 40)));
    // Everything is enabled at first, although "show all" is checked.
    QVERIFY(F->NameMaskEdit->isEnabled() && F->DaysEdit->isEnabled() && F->HiddenBox->isEnabled());
    F->NameMaskEdit->setText(QStringLiteral("*.doc"));
    F->SizeBox->setChecked(true);
    F->PrevDaysButton->setChecked(true);
    F->OkButton->click();
    QCOMPARE(Applied.size(), size_t(1));
    QCOMPARE(Applied[0], TFilter{});

    F->ShowAllButton->click();
    QVERIFY(!F->NameMaskEdit->isEnabled() && !F->DaysEdit->isEnabled() && !F->SizeGreaterButton->isEnabled() &&
            !F->HiddenBox->isEnabled());
    QVERIFY(F->UseFilterButton->isEnabled() && F->OkButton->isEnabled());
    F->UseFilterButton->click();
    QVERIFY(F->NameMaskEdit->isEnabled() && F->DaysEdit->isEnabled() && F->SizeGreaterButton->isEnabled());
  }

  void maskAndDatesMatchTheCommandLine() {
    F->UseFilterButton->setChecked(true);
    F->NameMaskEdit->setText(QStringLiteral("*.doc"));
    QCOMPARE(Build(QDate(2026, 3, 15)), FromCli({{"--mask", "*.doc"}}));

    F->PrevDaysButton->setChecked(true);
    F->DaysEdit->setText(QStringLiteral("7"));
    TFilter f = Build(QDate(2026, 3, 15));
    QCOMPARE(f.Flags, uint32_t(qfMask | qfDate));
    QCOMPARE(f, FromCli({{"--mask", "*.doc"}, {"--from", "2026-03-08"}, {"--to", "2026-03-15 00:00"}}));

    // The day is clipped to the length of the month.
    F->PrevMonthsButton->setChecked(true);
    F->MonthsEdit->setText(QStringLiteral("1"));
    f = Build(QDate(2024, 3, 31));
    QCOMPARE(f.DateFrom, EncodeDateTime(2024, 2, 29));
    QCOMPARE(f.DateTo, EncodeDateTime(2024, 3, 31));

    F->DateBetweenButton->setChecked(true);
    F->DateBeginEdit->setDateTime(QDateTime(QDate(2020, 1, 2), QTime(3, 4, 5)));
    F->DateEndEdit->setDateTime(QDateTime(QDate(2021, 6, 7), QTime(8, 9, 10)));
    QCOMPARE(Build(QDate(2026, 1, 1)),
             FromCli({{"--mask", "*.doc"}, {"--from", "2020-01-02 03:04:05"}, {"--to", "2021-06-07 08:09:10"}}));

    // Reaching back before the year 1 is refused: nothing applied, dialog open.
    F->PrevMonthsButton->setChecked(true);
    F->MonthsEdit->setText(QStringLiteral("2000000"));
    F->show();
    F->OkButton->click();
    QVERIFY(Applied.empty());
    QCOMPARE(Messages.size(), 1);
    QVERIFY(F->isVisible());
  }

  void sizeAndAttributes() {
    F->UseFilterButton->setChecked(true);
    F->SizeBox->setChecked(true);
    F->SizeEdit->setText(QStringLiteral("4"));
    TFilter f = Build(QDate::currentDate());
    QCOMPARE(f, FromCli({{"--mask", "*.*"}, {"--size", "=4"}}));
    QVERIFY(!Accepts(f, 4095) && Accepts(f, 4096) && Accepts(f, 5119) && !Accepts(f, 5120));

    F->SizeGreaterButton->setChecked(true);
    F->SizeEdit->setText(QStringLiteral("3000000"));
    f = Build(QDate::currentDate());
    QCOMPARE(f.Size, int64_t(3000000) * 1024);
    QVERIFY(!Accepts(f, f.Size) && Accepts(f, f.Size + 1));
    // Kilobytes beyond 64 bits of bytes stop at the largest that fits.
    F->SizeEdit->setText(QStringLiteral("9223372036854775807"));
    QVERIFY(Build(QDate::currentDate()).Size > 0);

    F->SizeBox->setChecked(false);
    F->SelectedAttributesButton->setChecked(true);
    f = Build(QDate::currentDate());
    QCOMPARE(f.Flags, uint32_t(qfMask | qfAttributes));
    QVERIFY(Accepts(f, 1));
    F->ReadOnlyBox->setChecked(true);
    F->HiddenBox->setChecked(true);
    f = Build(QDate::currentDate());
    QCOMPARE(f, FromCli({{"--mask", "*.*"}, {"--attr", "rh"}}));
    QVERIFY(!Accepts(f, 1, faReadOnly) && Accepts(f, 1, faReadOnly | faHidden | faArchive));
  }

  void spinEditsTakeDigitsAndStayInBounds() {
    F->MonthsEdit->clear();
    QTest::keyClicks(F->MonthsEdit, QStringLiteral("1a2-3 "));
    QCOMPARE(F->MonthsEdit->text(), QStringLiteral("123"));
    QTest::keyClick(F->MonthsEdit, Qt::Key_Backspace);
    QCOMPARE(F->MonthsEdit->text(), QStringLiteral("12"));
    auto leave = [](QWidget* w) {
      QFocusEvent out(QEvent::FocusOut);
      QApplication::sendEvent(w, &out);
    };
    F->MonthsEdit->setText(QStringLiteral("99999999"));
    leave(F->MonthsEdit);
    QCOMPARE(F->MonthsEdit->text(), QStringLiteral("2000000"));
    F->DaysEdit->clear();
    leave(F->DaysEdit);
    QCOMPARE(F->DaysEdit->text(), QStringLiteral("0"));
    F->SizeEdit->setText(QStringLiteral("99999999999"));
    leave(F->SizeEdit);
    QCOMPARE(F->SizeEdit->text(), QStringLiteral("99999999999"));
    F->DaysEdit->setText(QStringLiteral("12x"));
    QCOMPARE(F->DaysEdit->Value(), 0);
  }

  void advancedToggleAndKeys() {
    F->show();
    QVERIFY(QTest::qWaitForWindowExposed(F.get()));
    QCOMPARE(F->height(), 248);
    F->AdvancedButton->click();
    QCOMPARE(F->frameGeometry().height(), 484);
    QCOMPARE(F->AdvancedButton->text(), QStringLiteral("Advanced <<"));
    QVERIFY(F->CriteriaTabs->geometry().bottom() < F->height());
    F->AdvancedButton->click();
    QCOMPARE(F->frameGeometry().height(), 280);
    QCOMPARE(F->AdvancedButton->text(), QStringLiteral("Advanced >>"));
    QVERIFY(F->CriteriaTabs->geometry().top() >= F->height());

    // Enter in the mask box closes like Cancel, without a filter.
    F->open();
    F->UseFilterButton->setChecked(true);
    F->NameMaskEdit->setFocus();
    QTest::keyClick(F->NameMaskEdit, Qt::Key_Return);
    QVERIFY(!F->isVisible());
    QCOMPARE(F->result(), int(QDialog::Rejected));
    QVERIFY(Applied.empty());
    // Its state stays for the next showing.
    QVERIFY(F->UseFilterButton->isChecked());

    // Enter with the focus on OK applies the filter.
    F->open();
    QVERIFY(QTest::qWaitForWindowExposed(F.get()));
    QApplication::setActiveWindow(F.get());
    F->NameMaskEdit->setText(QStringLiteral("*.jpg"));
    F->OkButton->setFocus();
    QTest::keyClick(F->OkButton, Qt::Key_Return);
    QVERIFY(!F->isVisible());
    QCOMPARE(F->result(), int(QDialog::Accepted));
    QCOMPARE(Applied.size(), size_t(1));
  }
};

static TRegisterUiTest<FilterFormTest> registerFilterFormTest;

}  // namespace mirel::test

#include "FilterFormTest.moc"
