// Runs every Qt Test class of the desktop program's tests in one process
// (the volume list and the updating thread are process-wide).
#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include "UiTests.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // The windows remember their sizes: in a folder of the run's own, never
  // in the user's settings.
  QTemporaryDir settings;
  QApplication::setOrganizationName(QStringLiteral("mirel-test"));
  QApplication::setApplicationName(QStringLiteral("mirel-test"));
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
  int failures = 0;
  for (auto& make : mirel::test::UiTestClasses()) {
    std::unique_ptr<QObject> t = make();
    failures += QTest::qExec(t.get(), argc, argv);
  }
  return failures == 0 ? 0 : 1;
}
