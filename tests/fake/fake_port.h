// A stand-in for the serial link, linked in place of serial/ in driver tests:
// records every port_write and answers port_read from a script.
//
//   fake_reset()                 forget what was sent, queued and configured
//   fake_sent()                  every byte written since the reset, in order
//   fake_writes()                each port_write call: its bytes and thread
//   fake_traffic()               bytes, input discards and drains in order: "discard FE 0A drain"
//   fake_read_delays()           for each port_read, the microseconds since the last write
//   fake_queue_replies({..})     replies for the next reads, one byte each
//   fake_late_reply(byte)        a reply to an earlier query, arriving as the next read starts
//   fake_set_responder(f)        choose each reply from the query code; -1 is silence
//   fake_fail_open(on)           make port_open fail as a missing device does
//   fake_fail_writes(error)      make writes fail with errno error (0: succeed)
//   fake_fail_drain(error)       make port_drain fail with errno error (0: succeed)
//   fake_open_count()            how many times port_open ran
//   fake_read_count()            how many times port_read ran
//   fake_write_count()           how many times port_write ran, refused calls included
//   fake_discard_count()         how many times port_discard_input ran (once a query), refused calls included
//   fake_set_holder(pid)         what port_holder answers for every path (0, none, at the reset)
//   fake_holder_paths()          each path port_holder was asked about, in order
#ifndef LCM_TESTS_FAKE_PORT_H
#define LCM_TESTS_FAKE_PORT_H

#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

struct FakeWrite {
  std::vector<unsigned char> bytes;
  std::thread::id thread;
};

using FakeResponder = int (*)(unsigned char query_code);

void fake_reset();
std::vector<unsigned char> fake_sent();
std::vector<FakeWrite> fake_writes();
std::string fake_traffic();
std::vector<long long> fake_read_delays();
void fake_queue_replies(std::initializer_list<unsigned char> replies_to_add);
void fake_late_reply(unsigned char byte);
void fake_set_responder(FakeResponder chosen_responder);
void fake_fail_open(bool on);
void fake_fail_writes(int error);
void fake_fail_drain(int error);
int fake_open_count();
int fake_read_count();
int fake_write_count();
int fake_discard_count();
void fake_set_holder(long pid);
std::vector<std::string> fake_holder_paths();

#endif
