#include "app/SingleInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QThread>
#include <unistd.h>

namespace sw {

namespace {

constexpr char kActivate[] = "activate\n";

} // namespace

TSingleInstance::TSingleInstance(const std::string& iniFile) : FName(ServerName(iniFile)) {}

TSingleInstance::~TSingleInstance() = default;

QString TSingleInstance::ServerName(const std::string& iniFile) {
    const QString path = QFileInfo(QString::fromStdString(iniFile)).absoluteFilePath();
    const QByteArray hash =
        QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    return QStringLiteral("streamwright-%1-%2").arg(::getuid()).arg(QString::fromLatin1(hash));
}

bool TSingleInstance::Acquire() {
    // A lock left by a program that died is taken over; the socket it left is removed.
    FLock = std::make_unique<QLockFile>(QDir::temp().filePath(FName + QStringLiteral(".lock")));
    FLock->setStaleLockTime(0);
    if (!FLock->tryLock(0)) {
        FLock.reset();
        return false;
    }
    QLocalServer::removeServer(FName);
    FServer = std::make_unique<QLocalServer>();
    FServer->setSocketOptions(QLocalServer::UserAccessOption);
    connect(FServer.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = FServer->nextPendingConnection()) {
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (socket->readAll().contains("activate") && OnActivate) {
                    OnActivate();
                }
                socket->disconnectFromServer();
            });
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    // Without the socket the program still runs; only a later start cannot reach it.
    FServer->listen(FName);
    return true;
}

bool TSingleInstance::ActivateFirst(int timeoutMs) {
    // The first program may hold the lock a moment before it listens.
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.connectToServer(FName);
        if (socket.waitForConnected(500)) {
            socket.write(kActivate);
            return socket.waitForBytesWritten(1000);
        }
        QThread::msleep(50);
    }
    return false;
}

} // namespace sw
