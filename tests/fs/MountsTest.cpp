#include "fs/Mounts.h"
#include "fs/File.h"
#include "support/ArchiveTestSupport.h"
#include "support/TempFolder.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace kavlento;
using namespace kavlento::testing;

// Targets against the mount tables of a machine with a USB disk in fstab
// (a name with a blank, written as \040), one in a systemd mount unit, and
// only the first of them mounted now.
TEST(Mounts, AFolderOnAConfiguredDiskThatIsNotMountedIsNamed) {
    TempFolder tables;
    tables.write("fstab", "# /etc/fstab\n"
                          "UUID=1 /               ext4 defaults 0 1\n"
                          "UUID=2 none            swap sw 0 0\n"
                          "UUID=3 /srv/arsiv\\040disk ext4 nofail 0 2\n"
                          "UUID=4 /mnt/usb/       exfat noauto 0 0\n");
    tables.write("units/yedek.mount", "[Mount]\nWhat=/dev/sdc1\nWhere=/data/yedek\n");
    tables.write("units/readme.txt", "Where=/data/baska\n");
    tables.write("mountinfo", "22 1 8:1 / / rw - ext4 /dev/vda rw\n"
                              "40 22 8:17 / /srv/arsiv\\040disk rw - ext4 /dev/sdb1 rw\n");
    fs::MountTables system;
    system.fstab = tables.file("fstab").toStdString();
    system.unitFolders = {tables.file("units").toStdString()};
    system.mounted = tables.file("mountinfo").toStdString();

    const std::pair<const char*, const char*> cases[] = {
        {"/mnt/usb", "/mnt/usb"},
        {"/mnt/usb/yedek/", "/mnt/usb"},
        {"/mnt//usb/yedek", "/mnt/usb"},
        {"/mnt/usbdisk", "/mnt/usbdisk"}, // not configured, but under /mnt on the root disk
        {"/data/yedek/gece", "/data/yedek"},
        {"/data/baska", ""},           // only a unit file names it
        {"/srv/arsiv disk/yedek", ""}, // mounted
        {"/srv/arsiv", ""},
        {"/home/kullanici/yedek", ""},
    };
    for (const auto& [target, absent] : cases) {
        EXPECT_EQ(fs::absentDiskFolder(target, system), absent) << target;
    }
}

// A link or ".." in the target's path hides no rule: the disk a backup would
// really write to is judged.
TEST(Mounts, ALinkOrDotDotLeadingToAnAbsentDiskIsNamedAsWell) {
    TempFolder tables;
    const std::string base = *fs::resolvedPath(tables.path().toStdString());
    QDir().mkpath(tables.file("disk"));
    QDir().mkpath(tables.file("bir"));
    makeLink(tables.file("kisayol"), tables.file("disk"));
    tables.write("fstab", QByteArray::fromStdString("UUID=5 " + base + "/disk exfat noauto 0 0\n"));
    tables.write("mountinfo", "22 1 8:1 / / rw - ext4 /dev/vda rw\n");
    fs::MountTables system;
    system.fstab = tables.file("fstab").toStdString();
    system.unitFolders = {};
    system.mounted = tables.file("mountinfo").toStdString();
    for (const char* target :
         {"/kisayol", "/kisayol/yedek", "/bir/../disk", "/yok/../disk/yedek"}) {
        EXPECT_EQ(fs::absentDiskFolder(tables.path().toStdString() + target, system),
                  base + "/disk")
            << target;
    }
}
