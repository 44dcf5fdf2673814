// SPDX-License-Identifier: GPL-3.0-or-later
// A later start hands its file to the owner; an owner that died blocks no one. The later start
// runs on a thread (it blocks until the owner, on the test's event loop, answers).
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <vector>

#include "app/qt/single_instance.h"
#include "tests/support/wait.h"

namespace rendax {
namespace {

using Claim = SingleInstance::Claim;
using testing::kWaitBound;

// The child process's part: owns `name` until the test, its parent, kills it.
constexpr const char* kHoldVariable = "RENDAX_TEST_HOLD";

// A name of this run's own, so parallel runs and an open window never meet.
QString UniqueName() {
  static int count = 0;
  return QString("rendax-test-%1-%2").arg(QCoreApplication::applicationPid()).arg(++count);
}

::testing::AssertionResult Spin(const std::function<bool()>& done, const std::string& what) {
  return testing::WaitUntil(done, kWaitBound, what,
                            [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 20); });
}

// Another start of the program, handing over `file`; the owner's event loop runs meanwhile.
Claim LaterStart(const QString& name, const QString& file) {
  auto claim = std::async(std::launch::async,
                          [&] { return SingleInstance(name).Take(file, kWaitBound / 3); });
  EXPECT_TRUE(
      Spin([&] { return claim.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
           "the later start's answer"));
  return claim.get();
}

TEST(SingleInstanceTest, ALaterStartHandsItsFileToTheOwnerAndEnds) {
  const QString name = UniqueName();
  SingleInstance owner(name);
  std::vector<QString> received;
  owner.OnHandOver([&](const QString& file) { received.push_back(file); });
  ASSERT_EQ(owner.Take({}), Claim::Owner);

  const struct {
    const char* what;
    QString file;
    QString arrives;
  } rows[] = {
      {"no file", "", ""},
      {"an absolute name outside ASCII, with a newline",
       "/tmp/Schleife gr\u00fcn \u5faa\u73af\n2.flac",
       "/tmp/Schleife gr\u00fcn \u5faa\u73af\n2.flac"},
      {"a relative name, from the later start's folder", "take 1.wav",
       QDir::current().absoluteFilePath("take 1.wav")},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const size_t before = received.size();
    EXPECT_EQ(LaterStart(name, row.file), Claim::HandedOver);
    ASSERT_TRUE(Spin([&] { return received.size() > before; }, "the hand-over"));
    EXPECT_EQ(received.back(), row.arrives);
  }
}

TEST(SingleInstanceTest, AnOwnerThatDiedDoesNotBlockTheNextStart) {
  const QString name = UniqueName();
  QProcess dead;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(kHoldVariable, name);
  dead.setProcessEnvironment(environment);
  dead.start(QCoreApplication::applicationFilePath(), {});
  ASSERT_TRUE(dead.waitForStarted(int(kWaitBound.count())));
  ASSERT_TRUE(testing::WaitUntil([&] { return dead.canReadLine(); }, kWaitBound,
                                 "the child owning the name", [&] { dead.waitForReadyRead(100); }));
  ASSERT_EQ(dead.readLine(), "owner\n");
  dead.kill();
  ASSERT_TRUE(dead.waitForFinished(int(kWaitBound.count())));

  SingleInstance next(name);
  QString received;
  next.OnHandOver([&](const QString& file) { received = file; });
  // What the dead owner left behind.
  ASSERT_TRUE(QFile::exists(next.LockPath()) && QFile::exists(next.ServerPath()));
  ASSERT_EQ(next.Take({}), Claim::Owner);
  EXPECT_EQ(LaterStart(name, "/music/Loop.wav"), Claim::HandedOver);
  ASSERT_TRUE(Spin([&] { return !received.isEmpty(); }, "the hand-over"));
  EXPECT_EQ(received, "/music/Loop.wav");
}

}  // namespace
}  // namespace rendax

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (const char* name = std::getenv(rendax::kHoldVariable)) {
    rendax::SingleInstance holder{QString::fromUtf8(name)};
    if (holder.Take({}) != rendax::SingleInstance::Claim::Owner) return 2;
    std::puts("owner");
    std::fflush(stdout);
    // Held until killed, or until the parent goes and its end of the pipe closes.
    while (std::getchar() != EOF) {
    }
    return 0;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
