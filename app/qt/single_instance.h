// SPDX-License-Identifier: GPL-3.0-or-later
// One window per user: the first `rendax` owns a per-user lock and listens on a local socket; a
// later one (a second start, or the desktop's "Open With" while the window is open) hands its
// file, or nothing, to the first and ends, so two windows never fight over one pedal.
#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>

class QLocalSocket;

namespace rendax {

class SingleInstance {
 public:
  // The owner answers within this; a later start that hears nothing gives up.
  static constexpr std::chrono::milliseconds kAnswerBound{3000};

  // `name` names the lock and the server; tests pick their own so they never meet a real window.
  explicit SingleInstance(const QString& name = DefaultName());
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // $RENDAX_INSTANCE when set, else "rendax-" and the user's id.
  static QString DefaultName();

  enum class Claim {
    Owner,       // this process owns the name and listens (or could not listen: it runs alone)
    HandedOver,  // a running window took `file`: this process ends, successfully
    NoAnswer,    // a running window holds the name but did not take the file in time
  };
  // Takes the name, or hands `file` ("" for none; a relative path is made absolute here) to the
  // process that holds it. A lock or server left by an owner that died is taken over. Blocks for
  // at most `bound`.
  Claim Take(const QString& file, std::chrono::milliseconds bound = kAnswerBound);

  // The owner's: called from its event loop with each path handed over ("" for none), after the
  // sender has been answered, so `take` may ask the user.
  void OnHandOver(std::function<void(const QString& file)> take) { take_ = std::move(take); }

  QString LockPath() const;
  QString ServerPath() const;

 private:
  bool Listen();
  void Serve();
  bool HandOver(QLocalSocket& socket, const QByteArray& message,
                std::chrono::steady_clock::time_point deadline);

  QString name_;
  QString folder_;
  QLockFile lock_;
  std::unique_ptr<QLocalServer> server_;
  std::function<void(const QString&)> take_;
};

}  // namespace rendax
