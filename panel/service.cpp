// The panel as a systemd service: it tells systemd that it is ready, that
// it reloads and that its loop still goes round, with the datagrams of the
// notification protocol on the socket NOTIFY_SOCKET names; and on SIGHUP
// it rereads its configuration file without a blink of the glass. The
// datagrams are sent here rather than through libsystemd: they are a few
// lines of text, and the library would bring its compression and crypto
// libraries into the panel for them.
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "panel_internal.h"
#include "server.h"

volatile std::sig_atomic_t panel_reload_asked;

namespace {

constexpr std::size_t ERROR_SIZE = 384;
constexpr std::size_t STATUS_SIZE = 512;
// A status line and the words before it.
constexpr std::size_t MESSAGE_SIZE = STATUS_SIZE + 64;
// A pass with a silent module takes a few seconds: keep-alives go four
// times a watchdog interval, so that one slow pass never misses it.
constexpr long long KEEP_ALIVES_AN_INTERVAL = 4;

int notify_socket = -1;
sockaddr_un notify_address{};
socklen_t notify_length = 0;
// 0: no watchdog.
long long watchdog_ms;
long long alive_said_ms;
bool ready_said;

PanelOptions *in_use;
PanelOptions command_line;
// The addresses served since the start: a reload does not change them.
std::array<ServerAddress, PANEL_MAX_LISTEN> served;
int served_count;

// Lost datagrams are systemd's loss only: the panel goes on either way.
void notify(const char *text)
{
  if (notify_socket >= 0)
    (void)sendto(notify_socket, text, strlen(text), MSG_NOSIGNAL | MSG_DONTWAIT,
                 reinterpret_cast<const sockaddr *>(&notify_address), notify_length);
}

// A path, or a name in the abstract namespace after '@'.
int address_of(const char *name)
{
  const std::size_t length = strlen(name);
  if ((name[0] != '/' && name[0] != '@') || length >= sizeof notify_address.sun_path) {
    errno = EINVAL;
    return -1;
  }
  notify_address.sun_family = AF_UNIX;
  memcpy(notify_address.sun_path, name, length);
  if (name[0] == '@')
    notify_address.sun_path[0] = '\0';
  notify_length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length + (name[0] == '/' ? 1 : 0));
  return 0;
}

// The watchdog is the panel's only when WATCHDOG_PID, if set, names it.
long long watchdog_interval_ms()
{
  const char *usec = getenv("WATCHDOG_USEC"); // NOLINT(concurrency-mt-unsafe)
  const char *pid = getenv("WATCHDOG_PID");   // NOLINT(concurrency-mt-unsafe)
  if (!usec || (pid && strtol(pid, nullptr, 10) != getpid()))
    return 0;
  const long long interval = strtoll(usec, nullptr, 10) / 1000;
  return interval > 0 ? interval : 0;
}

// systemd talks to the panel alone: its commands must not take the socket
// for theirs. The environment is read and changed before the panel starts
// any thread.
void open_notify_socket()
{
  const char *name = getenv("NOTIFY_SOCKET"); // NOLINT(concurrency-mt-unsafe)
  watchdog_ms = name ? watchdog_interval_ms() : 0;
  if (name) {
    notify_socket = address_of(name) == 0 ? socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0) : -1;
    if (notify_socket < 0) {
      char buffer[128];
      fprintf(stderr, "lcm-panel: NOTIFY_SOCKET=%s: %s; systemd will not hear from the panel\n", name,
              panel_reason(errno, buffer, sizeof buffer));
    }
  }
  for (const char *variable : {"NOTIFY_SOCKET", "WATCHDOG_USEC", "WATCHDOG_PID"})
    unsetenv(variable); // NOLINT(concurrency-mt-unsafe)
}

bool serves(const PanelOptions &options)
{
  if (options.listen_count != served_count)
    return false;
  for (int i = 0; i < served_count; i++) {
    ServerAddress address;
    const ServerAddress &kept = served[static_cast<std::size_t>(i)];
    if (server_parse_address(options.listen[static_cast<std::size_t>(i)], &address) < 0 ||
        address.length != kept.length || memcmp(&address.storage, &kept.storage, kept.length) != 0)
      return false;
  }
  return true;
}

void say_ready(const char *status)
{
  char message[MESSAGE_SIZE];
  snprintf(message, sizeof message, "READY=1\nSTATUS=%s", status);
  notify(message);
}

void describe(const PanelOptions &options, char *text, std::size_t size)
{
  snprintf(text, size, "%d page%s and %d action%s from %s", options.page_count,
           options.page_count == 1 ? "" : "s", options.action_count, options.action_count == 1 ? "" : "s",
           options.config ? options.config : "the command line");
}

// systemd learns of the reload with the moment it began.
void say_reloading()
{
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  char message[MESSAGE_SIZE];
  snprintf(message, sizeof message, "RELOADING=1\nMONOTONIC_USEC=%lld",
           static_cast<long long>(now.tv_sec) * 1000000 + now.tv_nsec / 1000);
  notify(message);
}

// The settings change between two passes, all at once: the screens and the
// connections stay, and the layers that hold on to what changed adjust.
bool reload(long long now_ms)
{
  say_reloading();
  PanelOptions fresh;
  char error[ERROR_SIZE];
  char status[STATUS_SIZE];
  if (panel_config_load(command_line, &fresh, error, sizeof error) < 0) {
    fprintf(stderr, "lcm-panel: %s; the configuration in use stays\n", error);
    snprintf(status, sizeof status, "reload failed, the configuration in use stays: %s", error);
    say_ready(status);
    return false;
  }
  if (!serves(fresh))
    fprintf(stderr, "lcm-panel: %s: the listen addresses change only when the panel starts again\n",
            fresh.config);
  *in_use = fresh;
  ring_reload(now_ms);
  view_reload(*in_use, now_ms);
  describe(*in_use, status, sizeof status);
  fprintf(stderr, "lcm-panel: reloaded: %s\n", status);
  say_ready(status);
  return true;
}

} // namespace

void service_begin(PanelOptions *options, const PanelOptions &line)
{
  in_use = options;
  command_line = line;
  served_count = 0;
  for (int i = 0; i < options->listen_count; i++) {
    if (server_parse_address(options->listen[static_cast<std::size_t>(i)],
                             &served[static_cast<std::size_t>(served_count)]) == 0)
      served_count++;
  }
  ready_said = false;
  open_notify_socket();
}

// Ready once the first screen is drawn: the loop calls this after each pass.
bool service_tend(long long now_ms)
{
  bool reloaded = false;
  if (panel_reload_asked != 0 && in_use->config) {
    panel_reload_asked = 0;
    reloaded = reload(now_ms);
  }
  if (!ready_said) {
    char status[STATUS_SIZE];
    describe(*in_use, status, sizeof status);
    say_ready(status);
    ready_said = true;
    alive_said_ms = now_ms;
  }
  if (watchdog_ms > 0 && now_ms - alive_said_ms >= watchdog_ms / KEEP_ALIVES_AN_INTERVAL) {
    notify("WATCHDOG=1");
    alive_said_ms = now_ms;
  }
  return reloaded;
}
