#pragma once
// The eraser's record of the files it created, kept in a state file while they
// exist: a run that never got to remove them (killed, crashed) leaves the
// record, and the next erase removes exactly those files. A user's file that
// merely bears such a name is never in a record, so it is never touched.
//
// Each run's record is a file "erase-XXXXXX.list" in the state folder, locked
// (flock) for as long as the run lives: a record that can be locked belongs to
// a run that has ended.
#include <string>

namespace mirel {

class TEraseJournal {
public:
  explicit TEraseJournal(std::string folder);
  ~TEraseJournal();
  TEraseJournal(const TEraseJournal&) = delete;
  TEraseJournal& operator=(const TEraseJournal&) = delete;

  // Adds a file just created; durable: wait until the record is on the disk.
  // A record that cannot be kept is told once in the debug log, and the erase
  // goes on: its files are still removed when it ends, only a crash would
  // leave them.
  void Record(const std::string& path, bool durable);
  // Every recorded file is gone: the record goes too.
  void Clear();

  // Removes the files under root (a folder path ending with '/') that the
  // records of ended runs in folder list, where they still are regular files
  // with the eraser's names; those records keep their other entries.
  static void RemoveLeftovers(const std::string& folder, const std::string& root);

private:
  // Creates and locks this run's record; false when it cannot.
  [[nodiscard]] bool Open();

  std::string Folder;
  std::string Path;
  int Fd = -1;
  bool Failed = false;
};

}  // namespace mirel
