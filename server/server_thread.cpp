// The clients' server on a thread of its own: the sockets are served while
// the panel's loop waits on the display module. The client store and the
// connections are behind one lock; the thread holds it for a pass at a time,
// the loop whenever it reads or changes the store.
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include "server.h"
#include "server_internal.h"

namespace {

// Without a socket ready the thread still looks round this often, for the
// connections that owe a hello.
constexpr int TICK_MS = 200;
constexpr int WATCHED_MAX = 1 + SERVER_LISTENERS_MAX + CLIENTS_MAX;

pthread_mutex_t store = PTHREAD_MUTEX_INITIALIZER;
pthread_t thread;
bool running;
std::atomic<bool> ending{false};
// A byte in the pipe wakes the thread: the loop queued a reply or an event,
// or the thread is to end.
std::array<int, 2> wake{-1, -1};
// Whether the thread's poll watches a connection for room to write; kept
// under the lock.
std::array<bool, CLIENTS_MAX> watched_out{};

long long clock_ms()
{
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void wake_thread()
{
  const char byte = 0;
  // A full pipe already wakes it.
  (void)!write(wake[1], &byte, 1);
}

void empty_pipe()
{
  std::array<char, 64> bytes{};
  while (read(wake[0], bytes.data(), bytes.size()) > 0) {
  }
}

// Connections are watched in slot order, as server_connection_fds lists them.
void note_watched(const pollfd *fds, int count)
{
  watched_out.fill(false);
  int at = 0;
  for (int client = 0; client < CLIENTS_MAX && at < count; client++) {
    if (clients_connection(client) == 0)
      continue;
    watched_out[static_cast<std::size_t>(client)] = (fds[at].events & POLLOUT) != 0;
    at++;
  }
}

void *serve_clients(void * /*unused*/)
{
  std::array<pollfd, WATCHED_MAX> fds{};
  fds[0] = pollfd{wake[0], POLLIN, 0};
  int count = 0;
  bool polled = false;
  while (!ending.load(std::memory_order_acquire)) {
    pthread_mutex_lock(&store);
    if (polled)
      server_note_ready(fds.data() + 1, count - 1);
    const bool more = server_poll(clock_ms());
    count = 1 + server_listener_fds(fds.data() + 1, WATCHED_MAX - 1);
    const int connections = server_connection_fds(fds.data() + count, WATCHED_MAX - count);
    note_watched(fds.data() + count, connections);
    count += connections;
    pthread_mutex_unlock(&store);
    const int found = poll(fds.data(), static_cast<nfds_t>(count), more ? 0 : TICK_MS);
    polled = found >= 0;
    if (found > 0 && (fds[0].revents & POLLIN) != 0)
      empty_pipe();
  }
  return nullptr;
}

} // namespace

// The thread takes no signal: the loop's waits are the ones a signal cuts.
int server_start()
{
  if (running)
    return 0;
  if (pipe2(wake.data(), O_CLOEXEC | O_NONBLOCK) < 0)
    return -1;
  ending.store(false, std::memory_order_release);
  sigset_t all;
  sigset_t before;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &before);
  const int made = pthread_create(&thread, nullptr, serve_clients, nullptr);
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  if (made != 0) {
    close(wake[0]);
    close(wake[1]);
    wake = {-1, -1};
    errno = made;
    return -1;
  }
  running = true;
  return 0;
}

void server_end()
{
  if (!running)
    return;
  ending.store(true, std::memory_order_release);
  wake_thread();
  pthread_join(thread, nullptr);
  running = false;
  close(wake[0]);
  close(wake[1]);
  wake = {-1, -1};
}

void server_lock()
{
  pthread_mutex_lock(&store);
}

// What the loop queued goes out at once: the thread is woken when a client
// has unsent lines its poll does not wait to write.
void server_unlock()
{
  bool unwatched = false;
  for (int client = 0; running && client < CLIENTS_MAX && !unwatched; client++) {
    std::size_t unsent = 0;
    (void)clients_outbox(client, &unsent);
    unwatched = unsent > 0 && !watched_out[static_cast<std::size_t>(client)];
  }
  pthread_mutex_unlock(&store);
  if (unwatched)
    wake_thread();
}
