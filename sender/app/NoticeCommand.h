#pragma once

#include "sender/app/NoticeCheck.h"

#include <cstdint>

// The glue of the notice check to the desktop: the keyring that holds the mailbox's password and
// the desktop's notifications.

// "Sendwell --check-notices", run by Pagewatch every few minutes without a window (a
// QCoreApplication is enough): does nothing when watching is off, no fax awaits word or the
// back-off has not passed; else polls with the password from the keyring (none: records that
// failure), stores the word and shows a desktop notification for each fax with new word. The
// exit code: 0, or 1 when the poll failed (the failure is recorded for the window and written,
// filtered, to standard error).
int CheckNoticesCommand(const NoticePollFunction& fnPoll, std::int64_t nNow);

// A desktop notification (org.freedesktop.Notifications on the session bus) for a fax with new
// word; without a bus or a notification service nothing happens.
void ShowFaxNotification(const SSentFax& fax);

// The notification's two texts, filtered (NotificationText).
struct SFaxNotification
{
    std::string m_strSummary;
    std::string m_strBody;
};
SFaxNotification FaxNotification(const SSentFax& fax);
