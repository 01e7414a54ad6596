#pragma once
// A job's events as the desktop program takes them: the volume's reports go
// on to the view updater (whose view bridge batches them onto the main
// thread); the recovery's questions and results and the job's end go to the
// calls the window sets, on the job's thread.
#include <functional>
#include <string>

#include "engine/JobEvents.h"

namespace mirel::ui {

class TJobViewEvents : public TJobEvents {
public:
  explicit TJobViewEvents(TUpdateTarget& views) : Views(views) {}

  std::function<void(const std::string& path, TFileInfo* entry)> OnFileStarted;
  std::function<TExistsAnswer(const std::string& path)> OnFileExists;
  std::function<void(const TRecoveredFile& result)> OnFileRecovered;
  std::function<void(const TJobResult& result)> OnDone;

  void FolderFound(TDiskObject* disk, TFileInfo* entry) override { Views.FolderFound(disk, entry); }
  void FileFound(TDiskObject* disk, TFileInfo* entry) override { Views.FileFound(disk, entry); }
  void ScanProgress(TDiskObject* disk, int64_t done, int64_t total) override { Views.ScanProgress(disk, done, total); }
  void ScanDone(TDiskObject* disk) override { Views.ScanDone(disk); }
  void EraseProgress(TDiskObject* disk, int64_t done, int64_t total) override {
    Views.EraseProgress(disk, done, total);
  }
  void EraseDone(TDiskObject* disk) override { Views.EraseDone(disk); }
  void FileStarted(const std::string& path, TFileInfo* entry) override {
    if (OnFileStarted) OnFileStarted(path, entry);
  }
  TExistsAnswer FileExists(const std::string& path) override {
    return OnFileExists ? OnFileExists(path) : TExistsAnswer{};
  }
  void FileRecovered(const TRecoveredFile& result) override {
    if (OnFileRecovered) OnFileRecovered(result);
  }
  void JobDone(const TJobResult& result) override {
    if (OnDone) OnDone(result);
  }

private:
  TUpdateTarget& Views;
};

}  // namespace mirel::ui
