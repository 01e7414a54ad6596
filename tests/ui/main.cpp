// Runs every Qt Test class of the desktop program's tests in one process
// (the volume list and the updating thread are process-wide).
#include <QApplication>
#include <QTest>

#include "UiTests.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  int failures = 0;
  for (auto& make : mirel::test::UiTestClasses()) {
    std::unique_ptr<QObject> t = make();
    failures += QTest::qExec(t.get(), argc, argv);
  }
  return failures == 0 ? 0 : 1;
}
