#include "ui/IconList.h"

#include <QApplication>
#include <QMimeDatabase>
#include <QStyle>
#include <algorithm>

namespace mirel::ui {

namespace {

const QString FolderKey = QStringLiteral("**FOLDER");
const QString NoneKey = QStringLiteral("**NONE");

QIcon StyleIcon(QStyle::StandardPixmap which) { return qApp ? qApp->style()->standardIcon(which) : QIcon(); }

}  // namespace

int TImageList::Add(const QIcon& icon) {
  Icons.push_back(icon);
  return Count() - 1;
}

QIcon TImageList::Icon(int index) const {
  return index >= 0 && index < Count() ? Icons[static_cast<size_t>(index)] : QIcon();
}

void TIconList::SetImageList(TImageList* imageList) {
  if (imageList == ImageList) return;
  ImageList = imageList;
  Items.clear();
}

QString TIconList::CacheKey(const QString& name) {
  QString upper = name.toUpper();
  QString key;
  qsizetype dot = upper.lastIndexOf(u'.');
  if (dot >= 0)
    key = upper.mid(dot);
  else
    key = upper == FolderKey ? FolderKey : NoneKey;
  if (key.size() < 9 && key != FolderKey) key = key.repeated(3);
  return key;
}

int64_t TIconList::KeyHash(const QString& key) {
  // Each product is taken as a signed 32-bit number before it is added.
  uint64_t h = static_cast<uint64_t>(key.size());
  for (qsizetype i = 0; i < key.size(); ++i) {
    int32_t product = static_cast<int32_t>(static_cast<uint32_t>(i + 1) * key[i].unicode());
    h += static_cast<uint64_t>(static_cast<int64_t>(product));
  }
  h = h ^ (h >> 10) ^ (h >> 20);
  return static_cast<int64_t>(h);
}

QIcon TIconList::LoadIconFor(const QString& key) {
  if (key == FolderKey) {
    QIcon icon = QIcon::fromTheme(QStringLiteral("folder"));
    return icon.isNull() ? StyleIcon(QStyle::SP_DirIcon) : icon;
  }
  QIcon fallback = StyleIcon(QStyle::SP_FileIcon);
  qsizetype dot = key.lastIndexOf(u'.');
  if (dot < 0) return QIcon::fromTheme(QStringLiteral("text-x-generic"), fallback);
  static QMimeDatabase mimes;
  QMimeType type = mimes.mimeTypeForFile(QStringLiteral("x") + key.mid(dot).toLower(), QMimeDatabase::MatchExtension);
  if (!type.isValid() || type.isDefault()) return QIcon::fromTheme(QStringLiteral("text-x-generic"), fallback);
  QIcon icon = QIcon::fromTheme(type.iconName());
  if (icon.isNull()) icon = QIcon::fromTheme(type.genericIconName(), fallback);
  return icon;
}

int TIconList::IndexOf(const QString& name) {
  QString key = CacheKey(name);
  int64_t h = KeyHash(key);
  auto it = std::lower_bound(Items.begin(), Items.end(), h, [](const TEntry& e, int64_t v) { return e.Hash < v; });
  if (it != Items.end() && it->Hash == h) return it->ImageIndex;
  return AddIcon(key, h);
}

int TIconList::AddIcon(const QString& key, int64_t hash) {
  ++LoadCount;
  QIcon icon = Loader ? Loader(key) : LoadIconFor(key);
  int index = ImageList ? ImageList->Add(icon) : -1;
  TEntry e{index, hash};
  Items.insert(
      std::upper_bound(Items.begin(), Items.end(), hash, [](int64_t v, const TEntry& x) { return v < x.Hash; }), e);
  return index;
}

void SetUpIconTheme() {
  // Desktops without a configured theme still have the freedesktop icons.
  if (QIcon::themeName().isEmpty() || QIcon::themeName() == QLatin1String("hicolor")) {
    for (const char* name : {"Adwaita", "breeze", "oxygen", "Tango", "gnome"}) {
      QIcon::setThemeName(QString::fromLatin1(name));
      if (QIcon::hasThemeIcon(QStringLiteral("folder"))) return;
    }
    QIcon::setThemeName(QStringLiteral("hicolor"));
  }
  QIcon::setFallbackThemeName(QStringLiteral("hicolor"));
}

}  // namespace mirel::ui
