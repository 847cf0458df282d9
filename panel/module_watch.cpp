// Whether the display module is there, as the button queries tell it, and
// what the journal hears about it. A flaky line garbles or loses a reply
// now and then; that is not the module being away, and it is counted, not
// told one by one. The module is away once its queries have failed for a
// second; it is back at the first answer after that, and only then is the
// whole glass sent again.
#include <cerrno>
#include <climits>
#include <cstdio>

#include "panel_internal.h"

namespace {

// A button reply clears one of its low four bits for each held button; a
// reply with any higher bit set was garbled on the line.
constexpr int BUTTON_REPLY_BITS = 0x0F;
// Queries that failed in a row, the first at least this long before the
// latest, make an absence; two at the least, so that one wait that ran out
// is never one.
constexpr long long AWAY_AFTER_MS = 1000;
constexpr int AWAY_AFTER_FAILURES = 2;
// The journal hears about the line at most once a minute, and of an
// absence at most once a minute.
constexpr long long JOURNAL_MINUTE_MS = 60000;

std::FILE *journal;
// Failed queries since the last answered one, and when the first was made.
int in_row;
long long first_failure_ms;
bool away;
// The journal was told of this absence.
bool away_said;
// When the journal was last told of an absence; LLONG_MIN: never.
long long away_said_ms;
// The minute being counted, from the first failure in it; -1: none.
long long minute_ms = -1;
// Failed queries that made no absence, and absences the journal was not
// told of, in the minute being counted.
int bad_replies;
int unsaid_absences;

void say(const char *what)
{
  std::fprintf(journal, "lcm-panel: %s: %s\n", lcm_port_name(), what);
  std::fflush(journal);
}

void count_in_minute(long long now_ms)
{
  if (minute_ms < 0)
    minute_ms = now_ms;
}

void end_minute(long long now_ms)
{
  if (minute_ms < 0 || now_ms - minute_ms < JOURNAL_MINUTE_MS)
    return;
  const char *port = lcm_port_name();
  const char *replies = bad_replies == 1 ? "reply" : "replies";
  const char *times = unsaid_absences == 1 ? "time" : "times";
  if (unsaid_absences == 0)
    std::fprintf(journal, "lcm-panel: %s: %d %s garbled or missing in the last minute\n", port, bad_replies,
                 replies);
  else if (bad_replies == 0)
    std::fprintf(journal, "lcm-panel: %s: the display module was away %d more %s in the last minute\n", port,
                 unsaid_absences, times);
  else
    std::fprintf(journal,
                 "lcm-panel: %s: %d %s garbled or missing in the last minute; the display module was away %d "
                 "more %s\n",
                 port, bad_replies, replies, unsaid_absences, times);
  std::fflush(journal);
  minute_ms = -1;
  bad_replies = 0;
  unsaid_absences = 0;
}

void tell_absence(long long now_ms)
{
  if (away_said || (away_said_ms != LLONG_MIN && now_ms - away_said_ms < JOURNAL_MINUTE_MS))
    return;
  say("the display module does not answer");
  away_said = true;
  away_said_ms = now_ms;
}

void failed(long long now_ms)
{
  if (in_row == 0)
    first_failure_ms = now_ms;
  in_row++;
  if (!away && in_row >= AWAY_AFTER_FAILURES && now_ms - first_failure_ms >= AWAY_AFTER_MS) {
    away = true;
    away_said = false;
  }
  // An absence the journal could not be told of yet is told once it may be.
  if (away)
    tell_absence(now_ms);
}

int answered(long long now_ms)
{
  int result = WATCH_ANSWERED;
  if (away) {
    if (away_said) {
      say("the display module answers again");
    } else {
      unsaid_absences++;
      count_in_minute(now_ms);
    }
    away = false;
    result = WATCH_BACK;
  } else if (in_row > 0) {
    bad_replies += in_row;
    count_in_minute(first_failure_ms);
  }
  in_row = 0;
  return result;
}

} // namespace

void watch_begin(std::FILE *stream)
{
  journal = stream;
  in_row = 0;
  first_failure_ms = 0;
  away = false;
  away_said = false;
  away_said_ms = LLONG_MIN;
  minute_ms = -1;
  bad_replies = 0;
  unsaid_absences = 0;
}

int watch_buttons(long long now_ms, int *reply)
{
  *reply = lcm_get_buttons();
  int result = WATCH_UNANSWERED;
  if (*reply >= 0 && *reply <= BUTTON_REPLY_BITS) {
    result = answered(now_ms);
  } else {
    if (*reply >= 0)
      errno = EBADMSG;
    if (!screen_is_silence(errno))
      return -1;
    failed(now_ms);
  }
  end_minute(now_ms);
  return result;
}

int watch_state()
{
  if (away)
    return WATCH_AWAY;
  return in_row > 0 ? WATCH_DOUBTFUL : WATCH_PRESENT;
}

int watch_go_on(int result)
{
  if (result >= 0 || screen_is_silence(errno))
    return 0;
  return -1;
}
