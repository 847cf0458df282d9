// lcm-panel run for real through lcm-emu, for the panel's end-to-end tests:
// the run, its wire and trace, and what to compare them with.
#ifndef LCM_TESTS_PANEL_PANEL_SESSION_H
#define LCM_TESTS_PANEL_PANEL_SESSION_H

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "bytes.h"
#include "command_processes.h"
#include "emulator_session.h"
#include "needs_namespaces.h"
#include "wire.h"

struct Session : EmulatorSession {
  std::string wire_path;
  int status = -1;
  Bytes wire;
};

// lcm-emu --trace --wire FILE OPTIONS -- lcm-panel ARGUMENTS, standard
// output and error read through pipes.
inline void launch(Session *run, const std::string &dir, const std::vector<std::string> &emulator_options,
                   const std::vector<std::string> &panel_arguments,
                   const std::string &program = LCM_PANEL_PATH)
{
  run->wire_path = dir + "/wire";
  std::vector<std::string> words = {LCM_EMU_PATH, "--trace", "--wire", run->wire_path};
  words.insert(words.end(), emulator_options.begin(), emulator_options.end());
  words.insert(words.end(), {"--", program});
  words.insert(words.end(), panel_arguments.begin(), panel_arguments.end());
  session_spawn(run, words, false);
}

// Sends the signal (0: none) to lcm-emu, which passes it on to the panel,
// and waits for the end.
inline void finish(Session *run, int signal_number = SIGTERM)
{
  if (signal_number != 0)
    kill(run->pid, signal_number);
  run->status = wait_for_exit(run);
  const std::string wire = read_file(run->wire_path);
  run->wire = Bytes(wire.begin(), wire.end());
}

// Presses held 200 ms, one every 500 ms from start on; "wait" skips one.
inline std::vector<std::string> presses(const std::vector<std::string> &keys, int start_ms = 600)
{
  std::vector<std::string> options;
  int at = start_ms;
  for (const std::string &key : keys) {
    if (key != "wait")
      options.insert(options.end(), {"--press", key + "@" + std::to_string(at) + "+200"});
    at += 500;
  }
  return options;
}

inline size_t count_of(const std::string &text, const std::string &part)
{
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    count++;
  return count;
}

// Milliseconds of the trace lines that contain part, in order.
inline std::vector<long> times_of(const std::string &err, const std::string &part)
{
  std::vector<long> times;
  std::istringstream lines(err);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("lcm-emu +", 0) == 0 && line.find(part) != std::string::npos)
      times.push_back(strtol(line.c_str() + 9, nullptr, 10));
  return times;
}

// The wire after the start-up sequence, without the button queries.
inline Bytes drawn(const Session &run)
{
  EXPECT_EQ(Bytes(run.wire.begin(),
                  run.wire.begin() + static_cast<long>(std::min(run.wire.size(), INIT_SEQUENCE.size()))),
            INIT_SEQUENCE);
  return without_key_queries(run.wire, INIT_SEQUENCE.size());
}

// The panel's own lines. Where the emulator's pseudo-terminal belongs to a
// group the tests' user cannot give (a user namespace without the tty
// group), the panel says once that its socket is its owner's only: a fact
// of the machine, which ServerTest checks, not of what a test does.
inline std::string panel_lines(const std::string &err)
{
  std::string lines;
  std::istringstream stream(err);
  for (std::string line; std::getline(stream, line);)
    if (line.rfind("lcm-emu +", 0) != 0 && line.find("; only its owner may connect") == std::string::npos)
      lines += line + "\n";
  return lines;
}

// A page command that hangs with a process in the background, which writes
// its pid (in the command's PID namespace) to the file.
inline std::string hang(const std::string &pid_file)
{
  return "sleep 1000 & echo $! >> " + pid_file + "; wait";
}

// Whether the process the command knows by that pid has ended.
inline bool process_gone(const Session &run, const std::string &pid)
{
  return command_process_gone(run.pid, static_cast<pid_t>(strtol(pid.c_str(), nullptr, 10)));
}

#endif
