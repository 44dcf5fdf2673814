// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/qt/desktop_notice.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

#include "transfer/texts.h"

namespace rendax {

void NotifyDesktop(const QString& summary, const QString& body) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;
  QDBusMessage notify = QDBusMessage::createMethodCall("org.freedesktop.Notifications",
                                                       "/org/freedesktop/Notifications",
                                                       "org.freedesktop.Notifications", "Notify");
  // The desktop entry lets the notification server show the menu entry's name and icon.
  const QString entry = QStringLiteral("io.github.rendax.companion");
  QVariantMap hints{{"desktop-entry", entry}};
  // app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout (-1: the
  // server's own).
  notify << QString(kAppName) << uint(0) << entry << summary << body << QStringList() << hints
         << int(-1);
  bus.send(notify);
}

}  // namespace rendax
