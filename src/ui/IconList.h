#pragma once
// Small file-type icons for the folder tree and the file list, cached per
// extension: the first request for an extension looks its icon up in the
// desktop's icon theme and adds it to the shared image list; later requests
// return the remembered index.
#include <QIcon>
#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

namespace mirel::ui {

// The window's shared images, addressed by index (the tree and the list both
// draw from it).
class TImageList {
public:
  int Add(const QIcon& icon);
  QIcon Icon(int index) const;
  int Count() const { return static_cast<int>(Icons.size()); }

private:
  std::vector<QIcon> Icons;
};

class TIconList {
public:
  explicit TIconList(TImageList* imageList = nullptr) : ImageList(imageList) {}

  // A different image list empties the cache; the old list is left alone.
  void SetImageList(TImageList* imageList);
  TImageList* GetImageList() const { return ImageList; }
  // The image index for a file name, or for "**FOLDER" / a name without a dot.
  int IndexOf(const QString& name);

  // Key of a name as the cache sees it (extension upper-cased, short keys
  // repeated three times).
  static QString CacheKey(const QString& name);
  static int64_t KeyHash(const QString& key);
  // The icon the theme gives a key; never null (a generic file or folder icon
  // stands in).
  static QIcon LoadIconFor(const QString& key);

  // Number of icons loaded so far (each distinct key costs one look-up).
  int Loads() const { return LoadCount; }
  // Replaces the theme look-up (tests count what is loaded).
  std::function<QIcon(const QString&)> Loader;

private:
  struct TEntry {
    int ImageIndex;
    int64_t Hash;
  };
  int AddIcon(const QString& key, int64_t hash);

  TImageList* ImageList;
  std::vector<TEntry> Items;  // sorted by Hash
  int LoadCount = 0;
};

// Makes theme icons available where the desktop configures no theme.
void SetUpIconTheme();

}  // namespace mirel::ui
