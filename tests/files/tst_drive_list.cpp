#include "files/drive_list.h"
#include "platform/files/files.h"
#include "support/system_fixtures.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace tvx;

class DriveListTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void userVolumes_data();
    void userVolumes();
    void windowsDrives_data();
    void windowsDrives();
    void chosenDrives_data();
    void chosenDrives();
    void drivesStartWithTheRootAndHoldTheWorkingDirectory();
    void readiness();
    void listStartsAtTheWorkingDirectorysDrive();
    void scratchVolumeAsWorkingDirectory();
};

void DriveListTest::userVolumes_data()
{
    QTest::addColumn<QString>("root");
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<bool>("listed");
    QTest::newRow("root") << "/" << QByteArray("ext4") << true;
    QTest::newRow("root of a container") << "/" << QByteArray("overlay") << true;
    QTest::newRow("home") << "/home" << QByteArray("ext4") << true;
    QTest::newRow("data volume") << "/srv/data" << QByteArray("xfs") << true;
    QTest::newRow("mounted by hand") << "/mnt/backup" << QByteArray("ext4") << true;
    QTest::newRow("stick under media") << "/media/u/STICK" << QByteArray("vfat") << true;
    QTest::newRow("stick under run/media") << "/run/media/u/STICK" << QByteArray("exfat") << true;
    QTest::newRow("network share") << "/net/share" << QByteArray("nfs4") << true;
    QTest::newRow("proc") << "/proc" << QByteArray("proc") << false;
    QTest::newRow("sysfs") << "/sys" << QByteArray("sysfs") << false;
    QTest::newRow("devices") << "/dev" << QByteArray("devtmpfs") << false;
    QTest::newRow("terminals") << "/dev/pts" << QByteArray("devpts") << false;
    QTest::newRow("cgroups") << "/sys/fs/cgroup/cpu" << QByteArray("cgroup") << false;
    QTest::newRow("cgroup2") << "/sys/fs/cgroup" << QByteArray("cgroup2") << false;
    QTest::newRow("runtime tmpfs") << "/run" << QByteArray("tmpfs") << false;
    QTest::newRow("user runtime tmpfs") << "/run/user/1000" << QByteArray("tmpfs") << false;
    QTest::newRow("shared memory") << "/dev/shm" << QByteArray("tmpfs") << false;
    QTest::newRow("tmp as tmpfs") << "/tmp" << QByteArray("tmpfs") << false;
    QTest::newRow("scratch tmpfs elsewhere") << "/mnt/tools" << QByteArray("tmpfs") << false;
    QTest::newRow("tmpfs as removable media") << "/media/ram" << QByteArray("tmpfs") << true;
    QTest::newRow("container layer")
        << "/var/lib/docker/overlay2/x/merged" << QByteArray("overlay") << false;
    QTest::newRow("snap image") << "/snap/core/1" << QByteArray("squashfs") << false;
    QTest::newRow("boot partition") << "/boot" << QByteArray("ext4") << false;
    QTest::newRow("efi partition") << "/boot/efi" << QByteArray("vfat") << false;
    QTest::newRow("automounter") << "/home" << QByteArray("autofs") << false;
    QTest::newRow("desktop fuse") << "/run/user/1000/gvfs" << QByteArray("fuse.gvfsd-fuse")
                                  << false;
    QTest::newRow("media prefix only") << "/mediaextra" << QByteArray("tmpfs") << false;
}

void DriveListTest::userVolumes()
{
    QFETCH(QString, root);
    QFETCH(QByteArray, type);
    QFETCH(bool, listed);
    QCOMPARE(isUserVolumePosix(root, type), listed);
}

void DriveListTest::windowsDrives_data()
{
    QTest::addColumn<QString>("root");
    QTest::addColumn<bool>("listed");
    QTest::newRow("C:\\") << "C:\\" << true;
    QTest::newRow("as Qt writes it") << "D:/" << true;
    QTest::newRow("small letter") << "z:\\" << true;
    QTest::newRow("no separator") << "C:" << false;
    QTest::newRow("mounted into a folder") << "C:\\Mount\\Disk2\\" << false;
    QTest::newRow("two letters") << "CD:\\" << false;
    QTest::newRow("not a letter") << "1:\\" << false;
    QTest::newRow("not a Latin letter") << QStringLiteral("\u00c4:\\") << false;
    QTest::newRow("colon missing") << "C\\\\" << false;
    QTest::newRow("volume name") << "\\\\?\\Volume{1234}\\" << false;
}

void DriveListTest::windowsDrives()
{
    QFETCH(QString, root);
    QFETCH(bool, listed);
    QCOMPARE(isUserVolumeWindows(root), listed);
}

void DriveListTest::chosenDrives_data()
{
    // Lists separated by commas; a volume "root=x" does not count by itself.
    QTest::addColumn<QString>("mounted");
    QTest::addColumn<QString>("current");
    QTest::addColumn<QString>("drives");
    QTest::newRow("sorted by letter, whatever the case") << "d:\\,C:\\,a:\\"
                                                         << "C:\\"
                                                         << "a:\\,C:\\,d:\\";
    QTest::newRow("root first") << "/home,/,/media/u/STICK"
                                << "/home"
                                << "/,/home,/media/u/STICK";
    QTest::newRow("one that does not count is left out") << "C:\\,E:\\=x"
                                                         << "C:\\"
                                                         << "C:\\";
    QTest::newRow("the working directory's counts always") << "C:\\,E:\\=x"
                                                           << "E:\\"
                                                           << "C:\\,E:\\";
    QTest::newRow("a root mounted twice is listed once") << "/,/srv,/srv"
                                                         << "/"
                                                         << "/,/srv";
    QTest::newRow("nothing mounted") << ""
                                     << ""
                                     << "";
}

void DriveListTest::chosenDrives()
{
    QFETCH(QString, mounted);
    QFETCH(QString, current);
    QFETCH(QString, drives);
    QList<Volume> volumes;
    for (const QString &entry : mounted.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList parts = entry.split(QLatin1Char('='));
        volumes.append({parts.first(), QString(), parts.value(1).toLatin1()});
    }
    const auto counts = [](const Volume &v) { return v.fileSystemType != "x"; };
    QStringList roots;
    for (const Volume &volume : chooseDrives(volumes, current, counts))
        roots.append(volume.rootPath);
    QCOMPARE(roots.join(QLatin1Char(',')), drives);
}

void DriveListTest::drivesStartWithTheRootAndHoldTheWorkingDirectory()
{
    const QList<Volume> volumes = driveVolumes(QDir::currentPath());
    QVERIFY(!volumes.isEmpty());
    QCOMPARE(volumes.first().rootPath, QDir::toNativeSeparators(QDir::rootPath()));
    QStringList roots;
    for (const Volume &volume : volumes) {
        QVERIFY2(!roots.contains(volume.rootPath), qPrintable(volume.rootPath));
        QVERIFY2(QFileInfo(volume.rootPath).isDir(), qPrintable(volume.rootPath));
        roots.append(volume.rootPath);
    }
    QVERIFY(roots.contains(volumeRootOf(QDir::currentPath())));
}

void DriveListTest::readiness()
{
    QString reason;
    QVERIFY2(isDriveReady(QDir::rootPath(), &reason), qPrintable(reason));
    QVERIFY(!isDriveReady(QStringLiteral("/no/such/drive"), &reason));
    QVERIFY(!reason.isEmpty());
    // A folder that is no mount point is not a drive (any more).
    QTemporaryDir dir;
    if (volumeRootOf(dir.path()) != QDir::toNativeSeparators(dir.path())) {
        reason.clear();
        QVERIFY(!isDriveReady(dir.path(), &reason));
        QCOMPARE(reason, QStringLiteral("the volume is no longer mounted"));
    }
}

void DriveListTest::listStartsAtTheWorkingDirectorysDrive()
{
    DriveList list;
    QCOMPARE(list.drive(), volumeRootOf(QDir::currentPath()));
    QVERIFY(list.count() >= 1);
    QCOMPARE(list.itemData(0).toString(), QDir::toNativeSeparators(QDir::rootPath()));

    // Going to another folder shows its drive without telling of a change.
    QSignalSpy changed(&list, &DriveList::changed);
    list.showDriveOf(QDir::toNativeSeparators(QDir::rootPath()));
    QCOMPARE(list.drive(), QDir::toNativeSeparators(QDir::rootPath()));
    QCOMPARE(changed.count(), 0);
}

void DriveListTest::scratchVolumeAsWorkingDirectory()
{
    QTemporaryDir dir;
    const QString mountPoint = dir.filePath(QStringLiteral("vol"));
    QVERIFY(QDir().mkpath(mountPoint));
    test::ScratchVolume volume;
    QString reason;
    if (!volume.mount(mountPoint, 256, &reason))
        QSKIP(qPrintable(QStringLiteral("cannot mount a scratch volume here: ") + reason));
    QVERIFY(QDir().mkpath(mountPoint + QStringLiteral("/sub")));

    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(mountPoint + QStringLiteral("/sub")));
    // A tmpfs under /tmp is no user volume, but as the working directory's drive it is listed.
    const QList<Volume> volumes = driveVolumes(QDir::currentPath());
    DriveList list;
    QDir::setCurrent(before);

    QStringList roots;
    for (const Volume &v : volumes)
        roots.append(v.rootPath);
    QVERIFY(roots.contains(mountPoint));
    QCOMPARE(list.drive(), mountPoint);
    QVERIFY(isDriveReady(mountPoint, &reason));

    volume.unmount();
    QVERIFY(!isDriveReady(mountPoint, &reason));
    QCOMPARE(reason, QStringLiteral("the volume is no longer mounted"));
}

QTEST_MAIN(DriveListTest)
#include "tst_drive_list.moc"
