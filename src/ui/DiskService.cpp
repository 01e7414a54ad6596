#include "ui/DiskService.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>
#include <QFileInfo>

namespace mirel::ui {

namespace {

const QString Service = QStringLiteral("org.freedesktop.UDisks2");

}  // namespace

bool DiskServiceAvailable() {
  QDBusConnection bus = QDBusConnection::systemBus();
  if (!bus.isConnected() || !bus.interface()) return false;
  if (bus.interface()->isServiceRegistered(Service)) return true;
  QDBusReply<QStringList> names = bus.interface()->call(QStringLiteral("ListActivatableNames"));
  return names.isValid() && names.value().contains(Service);
}

QString BlockObjectPath(const QString& devicePath) {
  const QByteArray name = QFileInfo(devicePath).fileName().toUtf8();
  QString escaped;
  for (char c : name) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    escaped += plain ? QString(QLatin1Char(c))
                     : QStringLiteral("_%1").arg(static_cast<unsigned char>(c), 2, 16, QLatin1Char('0'));
  }
  return QStringLiteral("/org/freedesktop/UDisks2/block_devices/") + escaped;
}

std::optional<int> OpenForBackup(const QString& devicePath, QString& why) {
  if (!DiskServiceAvailable()) {
    why = NoAccessHint();
    return std::nullopt;
  }
  QDBusInterface block(Service, BlockObjectPath(devicePath), QStringLiteral("org.freedesktop.UDisks2.Block"),
                       QDBusConnection::systemBus());
  // The service may ask for a password first.
  block.setTimeout(10 * 60 * 1000);
  QDBusReply<QDBusUnixFileDescriptor> reply =
      block.call(QDBus::BlockWithGui, QStringLiteral("OpenForBackup"), QVariantMap{});
  if (!reply.isValid() || !reply.value().isValid()) {
    why =
        QStringLiteral("the disk service did not open %1: %2")
            .arg(devicePath, reply.error().message().isEmpty() ? QStringLiteral("no answer") : reply.error().message());
    return std::nullopt;
  }
  const int fd = ::fcntl(reply.value().fileDescriptor(), F_DUPFD_CLOEXEC, 0);
  if (fd < 0) {
    why = QStringLiteral("the descriptor for %1 cannot be kept").arg(devicePath);
    return std::nullopt;
  }
  // What comes back must be the device asked for, not some other one.
  struct stat want {
  }, got{};
  if (::stat(devicePath.toLocal8Bit().constData(), &want) == 0 && S_ISBLK(want.st_mode) &&
      (::fstat(fd, &got) != 0 || !S_ISBLK(got.st_mode) || got.st_rdev != want.st_rdev)) {
    ::close(fd);
    why = QStringLiteral("the disk service handed over another device than %1").arg(devicePath);
    return std::nullopt;
  }
  return fd;
}

QString NoAccessHint() {
  return QStringLiteral(
      "this user may not read it. Install and start the disk service (udisks2), join the "
      "'disk' group, or run mirel-gui with root rights.");
}

}  // namespace mirel::ui
