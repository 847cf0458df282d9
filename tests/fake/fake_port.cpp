#include "fake_port.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>

#include "serial.h"

int fd;
char devicename[80];
char message[256];
struct termios oldtio;
struct termios newtio;
int BAUD;
int DATABITS;
int PARITYON;
int STOPBITS;

namespace {

using Clock = std::chrono::steady_clock;

std::mutex lock;
std::vector<FakeWrite> writes;
std::string traffic;
std::vector<long long> read_delays;
Clock::time_point last_write;
std::deque<unsigned char> replies;
// A late reply is read before any answer; a read with no query sent since the
// last one (the driver waiting out a late reply) gets nothing else.
int late_reply = -1;
bool query_sent;
FakeResponder responder;
unsigned char last_code;
bool after_prefix;
bool open_fails;
bool opened;
int write_error;
int drain_error;
int opens;
int reads;
int write_calls;
int discard_calls;
long holder;
std::vector<std::string> holder_paths;

void note_traffic(const std::string &what)
{
  if (!traffic.empty())
    traffic += ' ';
  traffic += what;
}

void note_code(unsigned char byte)
{
  std::array<char, 4> hex{};
  snprintf(hex.data(), hex.size(), "%02X", byte);
  note_traffic(hex.data());
  if (after_prefix) {
    last_code = byte;
    query_sent = query_sent || byte == 0x0A || byte == 0x0B;
  }
  after_prefix = byte == 0xFE;
}

} // namespace

void fake_reset()
{
  std::lock_guard<std::mutex> guard(lock);
  writes.clear();
  traffic.clear();
  read_delays.clear();
  replies.clear();
  late_reply = -1;
  query_sent = false;
  responder = nullptr;
  write_error = 0;
  drain_error = 0;
  reads = 0;
  write_calls = 0;
  discard_calls = 0;
  after_prefix = false;
  holder = 0;
  holder_paths.clear();
}

std::vector<unsigned char> fake_sent()
{
  std::lock_guard<std::mutex> guard(lock);
  std::vector<unsigned char> all;
  for (const FakeWrite &w : writes)
    all.insert(all.end(), w.bytes.begin(), w.bytes.end());
  return all;
}

std::vector<FakeWrite> fake_writes()
{
  std::lock_guard<std::mutex> guard(lock);
  return writes;
}

std::string fake_traffic()
{
  std::lock_guard<std::mutex> guard(lock);
  return traffic;
}

std::vector<long long> fake_read_delays()
{
  std::lock_guard<std::mutex> guard(lock);
  return read_delays;
}

void fake_queue_replies(std::initializer_list<unsigned char> replies_to_add)
{
  std::lock_guard<std::mutex> guard(lock);
  replies.insert(replies.end(), replies_to_add.begin(), replies_to_add.end());
}

void fake_late_reply(unsigned char byte)
{
  std::lock_guard<std::mutex> guard(lock);
  late_reply = byte;
}

void fake_set_responder(FakeResponder chosen_responder)
{
  std::lock_guard<std::mutex> guard(lock);
  responder = chosen_responder;
}

void fake_fail_open(bool on)
{
  std::lock_guard<std::mutex> guard(lock);
  open_fails = on;
}

void fake_fail_writes(int error)
{
  std::lock_guard<std::mutex> guard(lock);
  write_error = error;
}

void fake_fail_drain(int error)
{
  std::lock_guard<std::mutex> guard(lock);
  drain_error = error;
}

int fake_open_count()
{
  std::lock_guard<std::mutex> guard(lock);
  return opens;
}

int fake_read_count()
{
  std::lock_guard<std::mutex> guard(lock);
  return reads;
}

int fake_discard_count()
{
  std::lock_guard<std::mutex> guard(lock);
  return discard_calls;
}

int fake_write_count()
{
  std::lock_guard<std::mutex> guard(lock);
  return write_calls;
}

void fake_set_holder(long pid)
{
  std::lock_guard<std::mutex> guard(lock);
  holder = pid;
}

std::vector<std::string> fake_holder_paths()
{
  std::lock_guard<std::mutex> guard(lock);
  return holder_paths;
}

// As the link's: LCM_DEVICE names the device when set.
const char *port_name(std::uint16_t port_number)
{
  const char *chosen = getenv("LCM_DEVICE"); // NOLINT(concurrency-mt-unsafe)
  if (chosen != nullptr && chosen[0] != '\0')
    return chosen;
  thread_local std::array<char, sizeof devicename> name{};
  snprintf(name.data(), name.size(), "/dev/ttyS%01d", port_number - 1);
  return name.data();
}

int port_open(std::uint16_t port_number)
{
  std::lock_guard<std::mutex> guard(lock);
  opens++;
  snprintf(devicename, sizeof devicename, "/dev/ttyS%01d", port_number - 1);
  if (open_fails) {
    snprintf(message, sizeof message, "Open %s fail!!\r\n", devicename);
    fd = 0;
    opened = false;
    return 0;
  }
  opened = true;
  fd = 99;
  return fd;
}

int port_write(const unsigned char *data, int length)
{
  std::lock_guard<std::mutex> guard(lock);
  write_calls++;
  if (!opened || write_error != 0) {
    errno = opened ? write_error : EBADF;
    return -1;
  }
  FakeWrite w{std::vector<unsigned char>(data, data + length), std::this_thread::get_id()};
  for (unsigned char byte : w.bytes)
    note_code(byte);
  writes.push_back(std::move(w));
  last_write = Clock::now();
  return length;
}

int port_read(unsigned char *buffer, int length)
{
  std::lock_guard<std::mutex> guard(lock);
  reads++;
  read_delays.push_back(
      std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - last_write).count());
  if (!opened) {
    errno = EBADF;
    return -1;
  }
  if (length < 1)
    return 0;
  int reply = -1;
  if (late_reply >= 0) {
    reply = late_reply;
    late_reply = -1;
  } else if (query_sent && responder) {
    reply = responder(last_code);
  } else if (query_sent && !replies.empty()) {
    reply = replies.front();
    replies.pop_front();
  }
  query_sent = false;
  if (reply < 0)
    return 0;
  buffer[0] = static_cast<unsigned char>(reply);
  return 1;
}

// Nothing waits unread in the stand-in: scripted replies are answers to
// queries still to come, so a discard only leaves its mark.
int port_discard_input()
{
  std::lock_guard<std::mutex> guard(lock);
  discard_calls++;
  if (!opened) {
    errno = EBADF;
    return -1;
  }
  note_traffic("discard");
  return 0;
}

int port_drain()
{
  std::lock_guard<std::mutex> guard(lock);
  if (!opened || drain_error != 0) {
    errno = opened ? drain_error : EBADF;
    return -1;
  }
  note_traffic("drain");
  return 0;
}

void port_close()
{
  std::lock_guard<std::mutex> guard(lock);
  opened = false;
}

int port_is_open()
{
  std::lock_guard<std::mutex> guard(lock);
  return opened ? 1 : 0;
}

long port_holder(const char *path)
{
  std::lock_guard<std::mutex> guard(lock);
  holder_paths.emplace_back(path);
  return holder;
}
