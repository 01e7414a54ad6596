#pragma once
// Registry of the desktop program's test classes.
#include <QObject>
#include <functional>
#include <memory>
#include <vector>

namespace mirel::test {

std::vector<std::function<std::unique_ptr<QObject>()>>& UiTestClasses();

template <class T>
struct TRegisterUiTest {
  TRegisterUiTest() {
    UiTestClasses().push_back([] { return std::make_unique<T>(); });
  }
};

}  // namespace mirel::test
