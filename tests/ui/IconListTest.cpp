#include <QTest>

#include "UiTests.h"
#include "ui/IconList.h"

namespace mirel::test {

std::vector<std::function<std::unique_ptr<QObject>()>>& UiTestClasses() {
  static std::vector<std::function<std::unique_ptr<QObject>()>> classes;
  return classes;
}

using ui::TIconList;
using ui::TImageList;

class IconListTest : public QObject {
  Q_OBJECT
private slots:
  void hashOfKnownKey() {
    QCOMPARE(TIconList::KeyHash(QStringLiteral("abc")), int64_t(593));
    // Long keys reach the shifted terms of the mix.
    const QString key = QStringLiteral(".JPEG.JPEG.JPEG");
    int64_t h = key.size();
    for (int i = 0; i < key.size(); ++i) h += (i + 1) * key[i].unicode();
    QCOMPARE(TIconList::KeyHash(key), h ^ (h >> 10) ^ (h >> 20));
  }

  void keysOfNames() {
    QCOMPARE(TIconList::CacheKey(QStringLiteral("report.txt")), QStringLiteral(".TXT.TXT.TXT"));
    QCOMPARE(TIconList::CacheKey(QStringLiteral("archive.tar.gz")), QStringLiteral(".GZ.GZ.GZ"));
    QCOMPARE(TIconList::CacheKey(QStringLiteral("README")), QStringLiteral("**NONE**NONE**NONE"));
    QCOMPARE(TIconList::CacheKey(QStringLiteral("**folder")), QStringLiteral("**FOLDER"));
    QCOMPARE(TIconList::CacheKey(QStringLiteral("x.longextension")), QStringLiteral(".LONGEXTENSION"));
  }

  void oneLoadPerExtension() {
    TImageList images;
    TIconList icons(&images);
    QStringList loaded;
    icons.Loader = [&](const QString& key) {
      loaded << key;
      return QIcon();
    };
    int a = icons.IndexOf(QStringLiteral("report.txt"));
    int b = icons.IndexOf(QStringLiteral("NOTES.TXT"));
    int c = icons.IndexOf(QStringLiteral("README"));
    int d = icons.IndexOf(QStringLiteral("Makefile"));
    int e = icons.IndexOf(QStringLiteral("photo.jpg"));
    int f = icons.IndexOf(QStringLiteral("**FOLDER"));
    QCOMPARE(a, b);
    QCOMPARE(c, d);
    QVERIFY(a != c && a != e && c != e && f != a);
    QCOMPARE(loaded, (QStringList{".TXT.TXT.TXT", "**NONE**NONE**NONE", ".JPG.JPG.JPG", "**FOLDER"}));
    QCOMPARE(images.Count(), 4);
    // Interleaved look-ups keep finding the right entry (sorted by hash).
    QCOMPARE(icons.IndexOf(QStringLiteral("other.jpg")), e);
    QCOMPARE(icons.IndexOf(QStringLiteral("x.TxT")), a);
  }

  void newImageListReloads() {
    TImageList first, second;
    TIconList icons(&first);
    int loads = 0;
    icons.Loader = [&](const QString&) {
      ++loads;
      return QIcon();
    };
    icons.IndexOf(QStringLiteral("a.txt"));
    icons.SetImageList(&first);
    icons.IndexOf(QStringLiteral("b.txt"));
    QCOMPARE(loads, 1);
    icons.SetImageList(&second);
    QCOMPARE(icons.IndexOf(QStringLiteral("c.txt")), 0);
    QCOMPARE(loads, 2);
    QCOMPARE(first.Count(), 1);
    QCOMPARE(second.Count(), 1);
  }

  void themeIconsNeverNull() {
    ui::SetUpIconTheme();
    for (const char* key : {"**FOLDER", "**NONE**NONE**NONE", ".TXT.TXT.TXT", ".NOSUCHEXT", ".EXE.EXE.EXE"})
      QVERIFY2(!TIconList::LoadIconFor(QString::fromLatin1(key)).isNull(), key);
  }
};

static TRegisterUiTest<IconListTest> registerIconListTest;

}  // namespace mirel::test

#include "IconListTest.moc"
