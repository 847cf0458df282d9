// lcm-panel: keep the display module showing the output of page commands and
// page through them with its buttons.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include "panel.h"
#include "serial.h"

namespace {

constexpr int EXIT_USAGE = 2;
// --check-config on a file that does not check.
constexpr int EXIT_FILE_REFUSED = 1;

constexpr const char *USAGE = "usage: lcm-panel [options] PAGE...\n"
                              "       lcm-panel [options] --config FILE [PAGE...]\n"
                              "       lcm-panel [options] --check-config FILE [PAGE...]\n";

constexpr const char *HELP = "Shows the first two lines of a PAGE's output on the display module on\n"
                             "/dev/ttyS1 (or the device LCM_DEVICE names) and keeps them current. A\n"
                             "PAGE is a shell command line, run with /bin/sh -c. Down and Right show\n"
                             "the next page, Up and Left the previous one, wrapping round.\n"
                             "\n"
                             "With actions, Up and Down page and Right opens the action menu: Up and\n"
                             "Down move through it, Right chooses, and Right again confirms (Left, Up or\n"
                             "Down say no); Left goes back to the pages. The outcome (ok, failed N,\n"
                             "killed SIG or timed out) and the first line of the command's output stay\n"
                             "on the display until a press or 10 s.\n"
                             "\n"
                             "Display clients (the LCDproc client protocol, 0.3) draw through the panel\n"
                             "on the Unix socket /run/lcm-panel/ttyS1.sock (named for the port; those who\n"
                             "may open the port may connect; LCM_PANEL_SOCKET moves it), and on TCP with\n"
                             "--listen. Their foreground and info screens join the ring after the pages;\n"
                             "an alert goes in front until a press dismisses it. lcm-show hands its lines\n"
                             "to a running panel, which shows them as an alert.\n"
                             "\n"
                             "  --every SEC          run the shown page's command again every SEC seconds\n"
                             "                       (default 5), and at once after a page change\n"
                             "  --timeout SEC        kill a page command that has not finished after SEC\n"
                             "                       seconds (default 2); the page keeps what it read\n"
                             "                       before, or its last text\n"
                             "  --refresh SEC        send the whole screen again every SEC seconds\n"
                             "                       (default 60; 0: never), in case the glass changed\n"
                             "  --action LABEL CMD   add an action (up to 16; LABEL at most 15 bytes);\n"
                             "                       CMD is a shell command line\n"
                             "  --action-timeout SEC kill an action's command that has not finished\n"
                             "                       after SEC seconds (default 60)\n"
                             "  --listen ADDR:PORT   serve display clients on TCP too (repeatable), e.g.\n"
                             "                       127.0.0.1:13666; every local user may then draw\n"
                             "  --rotate SEC         turn to the next screen every SEC seconds, or after\n"
                             "                       a client screen's own -duration (default 0: never)\n"
                             "  --hold SEC           after a press, the ring stays SEC seconds before it\n"
                             "                       turns by itself again (default 0: as --rotate)\n"
                             "  --display-off-after SEC  switch the display off after SEC seconds without\n"
                             "                       a press or another screen (default 0: never); a\n"
                             "                       press then only wakes it\n"
                             "  --exit-text L1 L2    show L1 and L2 when stopped\n"
                             "  --config FILE        take pages, actions and settings from FILE (see\n"
                             "                       lcm-panel.conf(5)); options given here win over it,\n"
                             "                       and SIGHUP reads it again\n"
                             "  --check-config FILE  check FILE, print the settings it gives and exit\n"
                             "                       (status 1 when it does not check)\n"
                             "  --help               show this help and exit\n"
                             "  --version            show the version and exit\n"
                             "  --                   every later argument is a PAGE\n"
                             "\n"
                             "SIGTERM, SIGINT and SIGHUP stop the panel with status 0; with --config,\n"
                             "SIGHUP reads the file again instead. Status 1: the port could not be\n"
                             "opened or failed; 2: a usage error or a file that does not check.\n";

// A module that does not answer must not hold the stop up: the driver's
// waits for replies end at once, and the exit text goes out unasked.
void on_stop_signal(int signal_number)
{
  panel_stop = signal_number;
  port_stop_waiting();
}

void on_reload_signal(int /*signal_number*/)
{
  panel_reload_asked = 1;
}

// No SA_RESTART: a pause cut short by the signal only makes the pass
// shorter. From a configuration file, SIGHUP rereads it.
int watch_stop_signals(bool reloads)
{
  struct sigaction action {};
  sigemptyset(&action.sa_mask);
  sigset_t stops;
  sigemptyset(&stops);
  for (const int signal_number : {SIGTERM, SIGINT, SIGHUP}) {
    action.sa_handler = reloads && signal_number == SIGHUP ? on_reload_signal : on_stop_signal;
    if (sigaction(signal_number, &action, nullptr) < 0)
      return -1;
    sigaddset(&stops, signal_number);
  }
  // Inherited blocked, they would never reach the handler.
  if (pthread_sigmask(SIG_UNBLOCK, &stops, nullptr) != 0)
    return -1;
  // A closed standard error must not end the panel; page commands get
  // the default back.
  signal(SIGPIPE, SIG_IGN);
  // Inherited as ignored, the page commands would be collected unseen.
  signal(SIGCHLD, SIG_DFL);
  return 0;
}

// A standard stream the panel was started without would be taken by the
// next descriptor opened: a page command's pipe or a display client's
// socket, and the panel's messages would go into it. Filled here, no
// descriptor the panel opens later can land there.
void fill_standard_streams()
{
  for (int stream = STDIN_FILENO; stream <= STDERR_FILENO; stream++) {
    if (fcntl(stream, F_GETFD) < 0 && open("/dev/null", O_RDWR) != stream)
      return;
  }
}

// What was printed must have reached standard output; 0, or 1 (said) when not.
int flush_output()
{
  errno = 0;
  if (fflush(stdout) == 0 && ferror(stdout) == 0)
    return 0;
  if (errno == 0)
    errno = EIO;
  perror("lcm-panel: standard output");
  return 1;
}

// The settings in use; a reload changes them in place.
PanelOptions options;

} // namespace

int main(int argc, char **argv)
{
  fill_standard_streams();
  PanelOptions command_line;
  char error[1024];
  if (panel_parse_options(argc, argv, &command_line, error, sizeof error) < 0) {
    fprintf(stderr, "lcm-panel: %s\n%s", error, USAGE);
    return EXIT_USAGE;
  }
  if (command_line.help) {
    printf("%s%s", USAGE, HELP);
    return flush_output();
  }
  if (command_line.version) {
    printf("lcm-panel %s\n", LCM_VERSION);
    return flush_output();
  }
  options = command_line;
  if (command_line.config && panel_config_load(command_line, &options, error, sizeof error) < 0) {
    fprintf(stderr, "lcm-panel: %s\n", error);
    return command_line.check_config ? EXIT_FILE_REFUSED : EXIT_USAGE;
  }
  if (command_line.check_config) {
    const int printed = panel_config_print(options, stdout);
    return flush_output() != 0 || printed < 0 ? 1 : 0;
  }
  if (watch_stop_signals(options.config != nullptr) < 0) {
    perror("lcm-panel: signals");
    return 1;
  }
  service_begin(&options, command_line);
  return panel_run(options);
}
