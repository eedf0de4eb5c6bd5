#include "app/TargetFolder.h"

#include "base/Failure.h"
#include "fs/File.h"
#include "fs/Mounts.h"
#include "fs/OpenFolder.h"
#include "store/Codepage.h"

#include <QDir>

#include <algorithm>
#include <cerrno>

namespace kavlento::app {

namespace {

const QString kChooseAnother = QStringLiteral(" LÜTFEN BAŞKA BİR KLASÖR SEÇİN.");

TargetProblem writeProblem(int error) {
    switch (error) {
    case 0:
        return TargetProblem::None;
    case ENOENT:
    case ENOTDIR:
        return TargetProblem::Missing;
    case EROFS:
        return TargetProblem::ReadOnly;
    case EACCES:
    case EPERM:
        return TargetProblem::NoPermission;
    default:
        return TargetProblem::Unwritable;
    }
}

QString absentDiskText(const QString& folder) {
    return QStringLiteral("YEDEKLEME DİSKİ TAKILI DEĞİL GİBİ GÖRÜNÜYOR: %1 BİR DİSKİN ÜZERİNDE "
                          "OLMALI, AMA O DİSK ŞU AN BAĞLI DEĞİL. LÜTFEN DİSKİ TAKIP TEKRAR "
                          "DENEYİN YA DA GÖZAT... İLE BAŞKA BİR KLASÖR SEÇİN.")
        .arg(folder);
}

} // namespace

TargetCheck checkTarget(const QString& folder) {
    if (folder.contains(QLatin1Char('"')) || folder.contains(QLatin1Char('\r')) ||
        folder.contains(QLatin1Char('\n'))) {
        return {TargetProblem::UnstorableMarks, 0};
    }
    if (!store::fitsWindows1254(folder)) {
        return {TargetProblem::UnstorableLetters, 0};
    }
    if (!fs::absentDiskFolder(fs::toSystemPath(folder)).empty()) {
        return {TargetProblem::DiskAbsent, 0};
    }
    const int error = fs::creationRefusal(fs::toSystemPath(folder));
    if (error != 0) {
        return {writeProblem(error), error};
    }
    if (fs::lookUpFollowing(fs::toSystemPath(folder)).kind != fs::PathKind::Folder) {
        return {TargetProblem::Missing, 0};
    }
    return {};
}

QString targetRefusal(const QString& folder) {
    const TargetCheck check = checkTarget(folder);
    switch (check.problem) {
    case TargetProblem::None:
        return QString();
    case TargetProblem::UnstorableMarks:
        return QStringLiteral("SEÇTİĞİNİZ KLASÖRÜN YOLUNDA KAYDEDİLEMEYEN İŞARETLER VAR (TIRNAK "
                              "YA DA SATIR SONU).") +
               kChooseAnother;
    case TargetProblem::UnstorableLetters:
        return QStringLiteral("SEÇTİĞİNİZ KLASÖRÜN YOLUNDA KAYDEDİLEMEYEN HARFLER VAR. LÜTFEN "
                              "YOLUNDA YALNIZCA TÜRKÇE VE LATİN HARFLERİ OLAN BİR KLASÖR SEÇİN.");
    case TargetProblem::DiskAbsent:
        return absentDiskText(folder);
    case TargetProblem::Missing:
        return QStringLiteral("BÖYLE BİR KLASÖR YOK: %1").arg(folder);
    case TargetProblem::ReadOnly:
        return QStringLiteral("SEÇTİĞİNİZ KLASÖRÜN DİSKİ YALNIZCA OKUNABİLİR, BU KLASÖRE YEDEK "
                              "ALINAMAZ: %1.")
                   .arg(folder) +
               kChooseAnother;
    case TargetProblem::NoPermission:
        return QStringLiteral("SEÇTİĞİNİZ KLASÖRE YAZMA İZNİNİZ YOK, BU KLASÖRE YEDEK ALINAMAZ: "
                              "%1.")
                   .arg(folder) +
               kChooseAnother;
    case TargetProblem::Unwritable:
        break;
    }
    return QStringLiteral("SEÇTİĞİNİZ KLASÖRE YAZILAMIYOR (%1), BU KLASÖRE YEDEK ALINAMAZ: %2.")
               .arg(describeSystemError(check.error), folder) +
           kChooseAnother;
}

QString absentDiskRefusal(const QString& folder) {
    return fs::absentDiskFolder(fs::toSystemPath(folder)).empty() ? QString()
                                                                  : absentDiskText(folder);
}

QString folderIfPresent(const QString& folder) {
    try {
        const bool present =
            !folder.isEmpty() &&
            fs::lookUpFollowing(fs::toSystemPath(folder)).kind == fs::PathKind::Folder;
        return present ? folder : QString();
    } catch (const Failure&) {
        return QString(); // a folder on the way that cannot be looked into: open elsewhere
    }
}

Absence absenceOf(const std::string& path) {
    try {
        if (fs::lookUpFollowing(path).kind == fs::PathKind::File) {
            return Absence::None;
        }
        return fs::lookUpFollowing(fs::folderOf(path)).kind == fs::PathKind::Folder
                   ? Absence::FileGone
                   : Absence::FolderAway;
    } catch (const Failure&) {
        return Absence::FolderAway;
    }
}

std::vector<std::string> datedFolderNames(const std::optional<store::History>& history,
                                          const QString& target) {
    const std::string inTarget = fs::toSystemPath(QDir::cleanPath(target));
    std::vector<std::string> names;
    for (std::size_t i = 0; history && i < history->size(); ++i) {
        const std::string dated =
            fs::folderOf(fs::toSystemPath(QDir::cleanPath(history->archivePath(i))));
        if (fs::folderOf(dated) == inTarget) {
            names.emplace_back(fs::lastName(dated));
        }
    }
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

} // namespace kavlento::app
