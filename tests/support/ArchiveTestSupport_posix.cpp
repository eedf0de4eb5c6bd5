#include "support/ArchiveTestSupport.h"

#include <QFile>

#include <cstring>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace kavlento::testing {

int listenAt(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, name.constData(), sizeof address.sun_path - 1);
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(s);
        throw std::runtime_error("bind " + name.toStdString());
    }
    return s;
}

void grantWriteToOthers(const QString& path) {
    struct stat info {};
    const QByteArray name = QFile::encodeName(path);
    if (::stat(name.constData(), &info) != 0 ||
        ::chmod(name.constData(), info.st_mode | 022) != 0) {
        throw std::runtime_error("chmod " + path.toStdString());
    }
}

void makePipe(const QString& path) {
    if (::mkfifo(QFile::encodeName(path).constData(), 0600) != 0) {
        throw std::runtime_error("mkfifo " + path.toStdString());
    }
}

} // namespace kavlento::testing
