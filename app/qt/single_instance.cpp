// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/qt/single_instance.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <QtEndian>
#include <algorithm>
#include <memory>
#include <optional>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace rendax {

namespace {

using Clock = std::chrono::steady_clock;

// A message is the path's UTF-8 length (4 bytes, big-endian) and the path: a file name may hold
// a newline, so no byte can end it. The owner answers with one byte once it has the path.
constexpr qsizetype kLengthBytes = 4;
constexpr quint32 kLongestPath = 64 * 1024;
constexpr char kTaken = 'k';

QByteArray Message(const QString& file) {
  const QByteArray path = file.toUtf8();
  QByteArray message(kLengthBytes, '\0');
  qToBigEndian(quint32(path.size()), message.data());
  return message + path;
}

// What is left until `deadline`, for Qt's blocking waits (at least 1 ms: 0 would not wait).
int Left(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return int(std::max<long long>(left, 1));
}

// A per-user folder: the session's runtime folder (only the user may enter it), else the
// temporary folder, where the user's id in the name keeps users apart.
QString Folder() {
  const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  return runtime.isEmpty() ? QDir::tempPath() : runtime;
}

}  // namespace

SingleInstance::SingleInstance(const QString& name)
    : name_(name), folder_(Folder()), lock_(LockPath()) {
  // Only an owner that died leaves its lock behind to be taken; a live one keeps it however long
  // the window stays open.
  lock_.setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::DefaultName() {
  const QString chosen = qEnvironmentVariable("RENDAX_INSTANCE");
  if (!chosen.isEmpty()) return chosen;
#ifdef Q_OS_UNIX
  return QStringLiteral("rendax-") + QString::number(::getuid());
#else
  return QStringLiteral("rendax-") + qEnvironmentVariable("USERNAME");
#endif
}

QString SingleInstance::LockPath() const {
  return folder_ + "/" + name_ + ".lock";
}

QString SingleInstance::ServerPath() const {
  return folder_ + "/" + name_ + ".socket";
}

SingleInstance::Claim SingleInstance::Take(const QString& file, std::chrono::milliseconds bound) {
  const QByteArray message = Message(file.isEmpty() ? file : QFileInfo(file).absoluteFilePath());
  const Clock::time_point deadline = Clock::now() + bound;
  for (;;) {
    if (lock_.tryLock(0)) {
      Listen();
      return Claim::Owner;
    }
    // A folder where no lock can be made at all: nothing to coordinate with, the window runs.
    if (lock_.error() != QLockFile::LockFailedError) return Claim::Owner;
    QLocalSocket socket;
    socket.connectToServer(ServerPath());
    if (socket.waitForConnected(Left(deadline))) {
      return HandOver(socket, message, deadline) ? Claim::HandedOver : Claim::NoAnswer;
    }
    if (Clock::now() >= deadline) return Claim::NoAnswer;
    // The owner is between taking the lock and listening, or has just died: look again soon.
    QThread::msleep(20);
  }
}

bool SingleInstance::HandOver(QLocalSocket& socket, const QByteArray& message,
                              Clock::time_point deadline) {
  socket.write(message);
  while (socket.bytesToWrite() > 0) {
    if (!socket.waitForBytesWritten(Left(deadline))) return false;
  }
  while (socket.bytesAvailable() < 1) {
    if (Clock::now() >= deadline || !socket.waitForReadyRead(Left(deadline))) return false;
  }
  char answer = 0;
  return socket.getChar(&answer) && answer == kTaken;
}

bool SingleInstance::Listen() {
  server_ = std::make_unique<QLocalServer>();
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  // The lock is ours, so a socket of that name is an owner's that died.
  QLocalServer::removeServer(ServerPath());
  if (!server_->listen(ServerPath())) {
    server_.reset();
    return false;
  }
  QObject::connect(server_.get(), &QLocalServer::newConnection, server_.get(), [this] { Serve(); });
  return true;
}

void SingleInstance::Serve() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    // What has come so far; empty again once the path is taken.
    auto received = std::make_shared<std::optional<QByteArray>>(QByteArray());
    auto read = [this, socket, received] {
      if (!*received) return;
      **received += socket->readAll();
      const QByteArray& bytes = **received;
      if (bytes.size() < kLengthBytes) return;
      const quint32 length = qFromBigEndian<quint32>(bytes.constData());
      if (length > kLongestPath) {
        received->reset();
        socket->abort();
        return;
      }
      if (bytes.size() < kLengthBytes + qsizetype(length)) return;
      const QString file = QString::fromUtf8(bytes.mid(kLengthBytes, length));
      received->reset();
      socket->putChar(kTaken);
      socket->disconnectFromServer();  // after the answer has gone out
      // Taken from the event loop, so a question it asks never keeps the sender waiting.
      QTimer::singleShot(0, server_.get(), [this, file] {
        if (take_) take_(file);
      });
    };
    QObject::connect(socket, &QLocalSocket::readyRead, socket, read);
    read();
  }
}

}  // namespace rendax
