#pragma once
// Block devices this user may not read, opened through the desktop's disk
// service (UDisks2 on the system bus), which asks polkit for the right: the
// program never has to run as root.
#include <QString>
#include <optional>

namespace mirel::ui {

// Whether the disk service runs or can be started on the system bus.
bool DiskServiceAvailable();

// UDisks2's object path for a device node: "/dev/sdb1" ->
// ".../block_devices/sdb1", bytes other than letters, digits and "_" as "_2d".
QString BlockObjectPath(const QString& devicePath);

// A read-only descriptor for the device from the service's OpenForBackup;
// nullopt, with why, when the service is absent, refuses or hands over
// something other than that device.
[[nodiscard]] std::optional<int> OpenForBackup(const QString& devicePath, QString& why);

// What to tell a user who may not read a device and has no disk service.
QString NoAccessHint();

}  // namespace mirel::ui
