// The rules of the enforced account policy: what each security attribute's
// value allows. Pure functions of the value and the moment or address, so
// the checks of AdminMgt only read the value and ask.
//
// Value formats (blanks around items are ignored; an empty value sets no limit):
//   IpLimit        addresses and CIDR ranges, IPv4 or IPv6, separated by
//                  commas, semicolons or blanks: "10.0.0.0/8, 192.168.1.7, 2001:db8::/32".
//                  An IPv4 address written as IPv6 (::ffff:10.1.2.3) counts as IPv4.
//   TimeLimit      windows separated by ';', each "[days ]HH:MM-HH:MM", days a
//                  comma list of names or ranges (Mon..Sun, any letter case):
//                  "Mon-Fri 08:00-18:30; Sat 09:00-12:00". The start is in, the
//                  end is out, "24:00" ends a day; an end before the start runs
//                  past midnight into the next day (the days name the start).
//   AcntLimitDate  a date "YYYY-MM-DD" (the last day allowed) or a date and
//   PwdLimitDate   time "YYYY-MM-DD HH:MM[:SS]" (allowed up to that moment).
//   PwdFirstLimit  "1": the password must be changed first; "0": no demand.
//   LogErrNum      a whole number of wrong passwords in a row.
//   LogErrLockNum  a whole number: the count that locks the account (0: never).
// Times are the server's local time, as the system's dates are.
#pragma once

#include <string_view>

#include "platform/com/variant.h"

namespace tivel::mgt::policy {

// A rule's answer; Unreadable is a value the rule cannot read, which refuses.
enum class Verdict { Pass, Refuse, Unreadable };

// IpLimit: whether `address` is in the list; an address that is not one refuses.
Verdict addressAllowed(std::string_view list, std::string_view address);
// TimeLimit: whether `now` falls in one of the windows.
Verdict timeAllowed(std::string_view windows, const com::DateTime& now);
// AcntLimitDate, PwdLimitDate: whether `now` is not yet past the limit.
Verdict beforeLimit(std::string_view limit, const com::DateTime& now);
// PwdFirstLimit: whether no password change is demanded.
Verdict noChangeDemanded(std::string_view flag);
// LogErrNum and LogErrLockNum: Refuse when the count has reached a lock
// threshold greater than 0.
Verdict belowLockThreshold(std::string_view count, std::string_view threshold);

// A whole number >= 0 written in decimal (blanks around allowed); "" reads as
// 0; false for anything else.
bool readCount(std::string_view text, long* out);

// Whether a lock taken at `lockedAt` (a date and time) is over at `now` after
// `minutes`; never over when minutes is 0 or lockedAt is not a date.
bool lockOver(std::string_view lockedAt, int minutes, const com::DateTime& now);

}  // namespace tivel::mgt::policy
