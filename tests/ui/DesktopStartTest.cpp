// What a user started from the desktop sees without a terminal: the version
// in the About box, and why the sources handed over ("Open with") could not
// be opened.
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <filesystem>

#include "Engine.h"
#include "TestSupport.h"
#include "UiTests.h"
#include "core/DebugLog.h"
#include "core/DiskList.h"
#include "core/RecoveryManager.h"
#include "core/UpdateView.h"
#include "ui/Dialogs.h"
#include "ui/MainForm.h"
#include "workers/ViewUpdater.h"

namespace mirel::test {

class DesktopStartTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TTempDir> Temp;
  std::unique_ptr<TViewUpdater> Updating;
  std::unique_ptr<ui::TfrmMainForm> W;
  QStringList Messages;

private slots:
  void initTestCase() {
    Temp = std::make_unique<TTempDir>();
    SetDebugLogPath((Temp->Path() / "debug.log").string());
    StartEngine();
    CreateRecoveryManager({}, false);
    Updating = std::make_unique<TViewUpdater>();
    ui::Dialogs().Message = [this](QWidget*, QMessageBox::Icon, const QString& title, const QString& text,
                                   QMessageBox::StandardButtons) {
      Messages << title + QStringLiteral("|") + text;
      return QMessageBox::Ok;
    };
    W = std::make_unique<ui::TfrmMainForm>(*Updating, QString());
  }

  void cleanupTestCase() {
    W.reset();
    Updating.reset();
    DestroyRecoveryManager();
  }

  void init() { Messages.clear(); }

  void aboutShowsTheBuildsVersion() {
    QMenu* help = W->menuBar()->findChild<QMenu*>(QStringLiteral("HelpMenu"));
    QVERIFY(help);
    QVERIFY(help->actions().contains(W->AboutAction));
    W->AboutAction->trigger();
    QCOMPARE(Messages.size(), 1);
    QVERIFY2(Messages[0].startsWith(QStringLiteral("About|Corvane Mirel " MIREL_VERSION "\n")),
             qPrintable(Messages[0]));
    // The terms the program comes under, as data/copyright states them.
    QVERIFY(Messages[0].contains(QStringLiteral("All rights reserved")));
  }

  void sourcesThatCannotBeOpenedAreNamedInOneMessage() {
    // A volume that can be listed (even one that cannot be read, which a
    // scan explains) is no rejected source.
    const std::string fat12 = Fixture("fat12.img").string();
    TDiskList list({Fixture("disk-mbr.img").string() + "#9", fat12 + "#3", fat12, "/nonexistent/card.img"}, false);
    QCOMPARE(list.Rejected.size(), size_t(2));
    W->SayRejectedSources(list.Rejected);
    QCOMPARE(Messages.size(), 1);
    const QString& m = Messages[0];
    QVERIFY2(m.startsWith(QStringLiteral("Cannot open|")), qPrintable(m));
    QVERIFY2(m.contains(QStringLiteral("disk-mbr.img#9: no partition 9")), qPrintable(m));
    QVERIFY2(m.contains(QStringLiteral("fat12.img#3: holds no partition table")), qPrintable(m));
    QCOMPARE(m.count(QStringLiteral("fat12.img")), 1);

    Messages.clear();
    W->SayRejectedSources({});
    QVERIFY(Messages.isEmpty());
  }
};

static TRegisterUiTest<DesktopStartTest> registerDesktopStartTest;

}  // namespace mirel::test

#include "DesktopStartTest.moc"
