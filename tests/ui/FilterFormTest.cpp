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
    return q.AcceptsInAnyFolder(&e);
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
    QVERIFY(F->rbtShowAll->isChecked() && F->rbtAllDates->isChecked() && F->rbtSizeEqual->isChecked() &&
            F->rbtAnyAttrs->isChecked() && !F->cbxSize->isChecked());
    QCOMPARE(F->edNameMask->text(), QStringLiteral("*.*"));
    QCOMPARE(F->dtpDateBegin->dateTime(), QDateTime(QDate(2006, 8, 8), QTime(0, 26, 40)));
    // Everything is enabled at first, although "show all" is checked.
    QVERIFY(F->edNameMask->isEnabled() && F->seDays->isEnabled() && F->cbxHidden->isEnabled());
    F->edNameMask->setText(QStringLiteral("*.doc"));
    F->cbxSize->setChecked(true);
    F->rbtPrevDays->setChecked(true);
    F->btnOK->click();
    QCOMPARE(Applied.size(), size_t(1));
    QCOMPARE(Applied[0], TFilter{});

    F->rbtShowAll->click();
    QVERIFY(!F->edNameMask->isEnabled() && !F->seDays->isEnabled() && !F->rbtSizeGreater->isEnabled() &&
            !F->cbxHidden->isEnabled());
    QVERIFY(F->rbtUseFilter->isEnabled() && F->btnOK->isEnabled());
    F->rbtUseFilter->click();
    QVERIFY(F->edNameMask->isEnabled() && F->seDays->isEnabled() && F->rbtSizeGreater->isEnabled());
  }

  void maskAndDatesMatchTheCommandLine() {
    F->rbtUseFilter->setChecked(true);
    F->edNameMask->setText(QStringLiteral("*.doc"));
    QCOMPARE(Build(QDate(2026, 3, 15)), FromCli({{"--mask", "*.doc"}}));

    F->rbtPrevDays->setChecked(true);
    F->seDays->setText(QStringLiteral("7"));
    TFilter f = Build(QDate(2026, 3, 15));
    QCOMPARE(f.Flags, uint32_t(qfMask | qfDate));
    QCOMPARE(f, FromCli({{"--mask", "*.doc"}, {"--from", "2026-03-08"}, {"--to", "2026-03-15 00:00"}}));

    // The day is clipped to the length of the month.
    F->rbtPrevMonths->setChecked(true);
    F->seMonths->setText(QStringLiteral("1"));
    f = Build(QDate(2024, 3, 31));
    QCOMPARE(f.DateFrom, EncodeDateTime(2024, 2, 29));
    QCOMPARE(f.DateTo, EncodeDateTime(2024, 3, 31));

    F->rbtDateBetween->setChecked(true);
    F->dtpDateBegin->setDateTime(QDateTime(QDate(2020, 1, 2), QTime(3, 4, 5)));
    F->dtpDateEnd->setDateTime(QDateTime(QDate(2021, 6, 7), QTime(8, 9, 10)));
    QCOMPARE(Build(QDate(2026, 1, 1)),
             FromCli({{"--mask", "*.doc"}, {"--from", "2020-01-02 03:04:05"}, {"--to", "2021-06-07 08:09:10"}}));

    // Reaching back before the year 1 is refused: nothing applied, dialog open.
    F->rbtPrevMonths->setChecked(true);
    F->seMonths->setText(QStringLiteral("2000000"));
    F->show();
    F->btnOK->click();
    QVERIFY(Applied.empty());
    QCOMPARE(Messages.size(), 1);
    QVERIFY(F->isVisible());
  }

  void sizeAndAttributes() {
    F->rbtUseFilter->setChecked(true);
    F->cbxSize->setChecked(true);
    F->seSize->setText(QStringLiteral("4"));
    TFilter f = Build(QDate::currentDate());
    QCOMPARE(f, FromCli({{"--mask", "*.*"}, {"--size", "=4"}}));
    QVERIFY(!Accepts(f, 4095) && Accepts(f, 4096) && Accepts(f, 5119) && !Accepts(f, 5120));

    F->rbtSizeGreater->setChecked(true);
    F->seSize->setText(QStringLiteral("3000000"));
    f = Build(QDate::currentDate());
    QCOMPARE(f.Size, int64_t(3000000) * 1024);
    QVERIFY(!Accepts(f, f.Size) && Accepts(f, f.Size + 1));
    // Kilobytes beyond 64 bits of bytes stop at the largest that fits.
    F->seSize->setText(QStringLiteral("9223372036854775807"));
    QVERIFY(Build(QDate::currentDate()).Size > 0);

    F->cbxSize->setChecked(false);
    F->rbtSelAttrs->setChecked(true);
    f = Build(QDate::currentDate());
    QCOMPARE(f.Flags, uint32_t(qfMask | qfAttributes));
    QVERIFY(Accepts(f, 1));
    F->cbxReadOnly->setChecked(true);
    F->cbxHidden->setChecked(true);
    f = Build(QDate::currentDate());
    QCOMPARE(f, FromCli({{"--mask", "*.*"}, {"--attr", "rh"}}));
    QVERIFY(!Accepts(f, 1, faReadOnly) && Accepts(f, 1, faReadOnly | faHidden | faArchive));
  }

  void spinEditsTakeDigitsAndStayInBounds() {
    F->seMonths->clear();
    QTest::keyClicks(F->seMonths, QStringLiteral("1a2-3 "));
    QCOMPARE(F->seMonths->text(), QStringLiteral("123"));
    QTest::keyClick(F->seMonths, Qt::Key_Backspace);
    QCOMPARE(F->seMonths->text(), QStringLiteral("12"));
    auto leave = [](QWidget* w) {
      QFocusEvent out(QEvent::FocusOut);
      QApplication::sendEvent(w, &out);
    };
    F->seMonths->setText(QStringLiteral("99999999"));
    leave(F->seMonths);
    QCOMPARE(F->seMonths->text(), QStringLiteral("2000000"));
    F->seDays->clear();
    leave(F->seDays);
    QCOMPARE(F->seDays->text(), QStringLiteral("0"));
    F->seSize->setText(QStringLiteral("99999999999"));
    leave(F->seSize);
    QCOMPARE(F->seSize->text(), QStringLiteral("99999999999"));
    F->seDays->setText(QStringLiteral("12x"));
    QCOMPARE(F->seDays->Value(), 0);
  }

  void advancedToggleAndKeys() {
    F->show();
    QVERIFY(QTest::qWaitForWindowExposed(F.get()));
    QCOMPARE(F->height(), 248);
    F->btnAdvanced->click();
    QCOMPARE(F->frameGeometry().height(), 484);
    QCOMPARE(F->btnAdvanced->text(), QStringLiteral("Advanced <<"));
    QVERIFY(F->PageControl1->geometry().bottom() < F->height());
    F->btnAdvanced->click();
    QCOMPARE(F->frameGeometry().height(), 280);
    QCOMPARE(F->btnAdvanced->text(), QStringLiteral("Advanced >>"));
    QVERIFY(F->PageControl1->geometry().top() >= F->height());

    // Enter in the mask box closes like Cancel, without a filter.
    F->open();
    F->rbtUseFilter->setChecked(true);
    F->edNameMask->setFocus();
    QTest::keyClick(F->edNameMask, Qt::Key_Return);
    QVERIFY(!F->isVisible());
    QCOMPARE(F->result(), int(QDialog::Rejected));
    QVERIFY(Applied.empty());
    // Its state stays for the next showing.
    QVERIFY(F->rbtUseFilter->isChecked());

    // Enter with the focus on OK applies the filter.
    F->open();
    QVERIFY(QTest::qWaitForWindowExposed(F.get()));
    QApplication::setActiveWindow(F.get());
    F->edNameMask->setText(QStringLiteral("*.jpg"));
    F->btnOK->setFocus();
    QTest::keyClick(F->btnOK, Qt::Key_Return);
    QVERIFY(!F->isVisible());
    QCOMPARE(F->result(), int(QDialog::Accepted));
    QCOMPARE(Applied.size(), size_t(1));
  }
};

static TRegisterUiTest<FilterFormTest> registerFilterFormTest;

}  // namespace mirel::test

#include "FilterFormTest.moc"
