// Devices this user may not read come through the disk service. The test runs
// its own bus (the real udisksd needs systemd and the machine's devices): a
// stand-in for org.freedesktop.UDisks2 made with python-dbusmock's object API
// whose OpenForBackup hands over a real descriptor of a fixture image.
#include <unistd.h>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusMetaType>
#include <QDBusReply>
#include <QProcess>
#include <QTest>
#include <filesystem>

#include "TestSupport.h"
#include "UiTests.h"
#include "platform/RawSource.h"
#include "ui/DiskService.h"

namespace fs = std::filesystem;

namespace mirel::test {

// One method of a mock object: name, in and out signatures, Python code.
struct TMockMethod {
  QString Name, In, Out, Code;
};

QDBusArgument& operator<<(QDBusArgument& arg, const TMockMethod& m) {
  arg.beginStructure();
  arg << m.Name << m.In << m.Out << m.Code;
  arg.endStructure();
  return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, TMockMethod& m) {
  arg.beginStructure();
  arg >> m.Name >> m.In >> m.Out >> m.Code;
  arg.endStructure();
  return arg;
}

}  // namespace mirel::test

Q_DECLARE_METATYPE(mirel::test::TMockMethod)

namespace mirel::test {

class DiskServiceTest : public QObject {
  Q_OBJECT

  QProcess Bus, Mock;
  QString Image;
  bool Ready = false;

private slots:
  void initTestCase() {
    if (!fs::exists("/usr/bin/dbus-daemon") || std::system("/usr/bin/python3 -c 'import dbusmock' 2>/dev/null") != 0)
      QSKIP("needs dbus-daemon and python3-dbusmock");
    // The system bus of this process is the test's own, set before Qt first
    // connects to it.
    Bus.start(QStringLiteral("dbus-daemon"),
              {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    QVERIFY(Bus.waitForReadyRead(5000));
    const QByteArray address = Bus.readLine().trimmed();
    QVERIFY(!address.isEmpty());
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", address);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), QString::fromUtf8(address));
    Mock.setProcessEnvironment(env);
    Mock.start(QStringLiteral("/usr/bin/python3"),
               {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--system"),
                QStringLiteral("org.freedesktop.UDisks2"), QStringLiteral("/org/freedesktop/UDisks2"),
                QStringLiteral("org.freedesktop.UDisks2.Manager")});
    QTRY_VERIFY_WITH_TIMEOUT(
        QDBusConnection::systemBus().interface()->isServiceRegistered(QStringLiteral("org.freedesktop.UDisks2")),
        10000);
    Image = QString::fromStdString(Fixture("fat12.img").string());
    QDBusInterface mock(QStringLiteral("org.freedesktop.UDisks2"), QStringLiteral("/org/freedesktop/UDisks2"),
                        QStringLiteral("org.freedesktop.DBus.Mock"), QDBusConnection::systemBus());
    qDBusRegisterMetaType<TMockMethod>();
    qDBusRegisterMetaType<QList<TMockMethod>>();
    const QList<TMockMethod> methods{{QStringLiteral("OpenForBackup"), QStringLiteral("a{sv}"), QStringLiteral("h"),
                                      QStringLiteral("ret = dbus.types.UnixFd(open('%1', 'rb'))").arg(Image)}};
    QDBusMessage added =
        mock.call(QStringLiteral("AddObject"), ui::BlockObjectPath(QStringLiteral("/dev/mirel-t1")),
                  QStringLiteral("org.freedesktop.UDisks2.Block"), QVariantMap{}, QVariant::fromValue(methods));
    QVERIFY2(added.type() == QDBusMessage::ReplyMessage, qPrintable(added.errorMessage()));
    Ready = true;
  }

  void cleanupTestCase() {
    for (QProcess* p : {&Mock, &Bus})
      if (p->state() != QProcess::NotRunning) {
        p->terminate();
        p->waitForFinished(3000);
      }
  }

  void objectPathsAreEscaped() {
    QCOMPARE(ui::BlockObjectPath(QStringLiteral("/dev/sdb1")),
             QStringLiteral("/org/freedesktop/UDisks2/block_devices/sdb1"));
    QCOMPARE(ui::BlockObjectPath(QStringLiteral("/dev/dm-0")),
             QStringLiteral("/org/freedesktop/UDisks2/block_devices/dm_2d0"));
  }

  void openForBackupHandsOverTheDevice() {
    QVERIFY(Ready);
    QVERIFY(ui::DiskServiceAvailable());
    QString why;
    const std::optional<int> fd = ui::OpenForBackup(QStringLiteral("/dev/mirel-t1"), why);
    QVERIFY2(fd, qPrintable(why));
    // The volume is read through the descriptor from now on, by its path.
    GrantSource("/dev/mirel-t1", *fd);
    TRawSource source = TRawSource::Open("/dev/mirel-t1");
    QVERIFY2(source.IsValid(), source.Error().c_str());
    const std::string want = ReadWholeFile(Image.toStdString());
    QCOMPARE(source.Size(), int64_t(want.size()));
    std::string got(512, '\0');
    QCOMPARE(source.Read(got.data(), got.size(), 0), size_t(512));
    QVERIFY(got == want.substr(0, 512));

    // A device the service does not know is refused with its answer.
    QVERIFY(!ui::OpenForBackup(QStringLiteral("/dev/mirel-none"), why));
    QVERIFY2(why.contains(QStringLiteral("/dev/mirel-none")), qPrintable(why));
  }
};

static TRegisterUiTest<DiskServiceTest> registerDiskServiceTest;

}  // namespace mirel::test

#include "DiskServiceTest.moc"
