// SPDX-License-Identifier: GPL-3.0-or-later
// A desktop notification (freedesktop.org, over the session bus), for what the user should hear
// of while looking at another window.
#pragma once

#include <QString>

namespace rendax {

// Sent and forgotten: no wait for the notification server's reply, and nothing at all when there
// is no session bus.
void NotifyDesktop(const QString& summary, const QString& body = {});

}  // namespace rendax
