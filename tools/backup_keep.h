// Which backup folders a rotation removes: a pure choice made from the
// folder names under the backup folder and today's date, so that it can be
// run over simulated days.
//
// A complete backup is named "YYYY-MM-DD_HHMMSS" (with "-K" when a second
// one was made in the same second); an unfinished one is that name after
// "unfinished-" (kdbtool_backup.h). Everything else under the backup
// folder is not a backup and is never chosen.
//
// Kept:
//   * every complete backup of the last `keepDays` days (today and the
//     keepDays - 1 days before it);
//   * the newest complete backup of each of the last `keepMonths` months
//     (this month and the keepMonths - 1 months before it);
//   * every backup dated after today (a clock set back is no reason to
//     lose them), and the one just made;
//   * an unfinished folder of the last `keepDays` days, and always one
//     dated today or yesterday (it may still be being written: a day is
//     the least age at which one is taken as left behind).
// Every other backup and unfinished folder is removed.
#pragma once

#include <string>
#include <vector>

namespace kdbtool {

struct Date {
  int year = 0, month = 0, day = 0;
};

// "2024-05-31" into *out; false for anything else or a day that does not exist.
bool parseDate(const std::string& text, Date* out);
// A day as the runtime numbers it (days since 1899-12-30), and back.
long daysFromCivil(const Date& d);
Date civilFromDays(long days);
std::string dateText(const Date& d);

// What a name under the backup folder is: a complete backup, an unfinished
// one, or not a backup (kind kOther). `when` orders backups: date, time of
// day, then the "-K" number.
struct BackupName {
  enum Kind { kOther, kComplete, kUnfinished } kind = kOther;
  Date date;
  long long when = 0;
};
BackupName parseBackupName(const std::string& name);

// The names to remove, in the order given. `justMade` is never chosen.
std::vector<std::string> backupsToRemove(const std::vector<std::string>& names, const Date& today, int keepDays,
                                         int keepMonths, const std::string& justMade);

}  // namespace kdbtool
