#include "fake_port.h"

#include <cerrno>
#include <cstdio>
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

std::mutex lock;
std::vector<FakeWrite> writes;
std::deque<unsigned char> replies;
FakeResponder responder;
unsigned char last_code;
bool after_prefix;
bool open_fails;
bool opened;
int write_error;
int opens;
int reads;
int write_calls;

void note_code(unsigned char byte)
{
  if (after_prefix)
    last_code = byte;
  after_prefix = byte == 0xFE;
}

} // namespace

void fake_reset()
{
  std::lock_guard<std::mutex> guard(lock);
  writes.clear();
  replies.clear();
  responder = nullptr;
  write_error = 0;
  reads = 0;
  write_calls = 0;
  after_prefix = false;
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

void fake_queue_replies(std::initializer_list<unsigned char> replies_to_add)
{
  std::lock_guard<std::mutex> guard(lock);
  replies.insert(replies.end(), replies_to_add.begin(), replies_to_add.end());
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

int fake_write_count()
{
  std::lock_guard<std::mutex> guard(lock);
  return write_calls;
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
  return length;
}

int port_read(unsigned char *buffer, int length)
{
  std::lock_guard<std::mutex> guard(lock);
  reads++;
  if (!opened) {
    errno = EBADF;
    return -1;
  }
  if (length < 1)
    return 0;
  int reply = -1;
  if (responder) {
    reply = responder(last_code);
  } else if (!replies.empty()) {
    reply = replies.front();
    replies.pop_front();
  }
  if (reply < 0)
    return 0;
  buffer[0] = static_cast<unsigned char>(reply);
  return 1;
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
