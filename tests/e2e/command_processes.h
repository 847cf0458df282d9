// The processes of a command run under lcm-emu, seen from the machine.
//
//   processes_below(emulator)                 every process below lcm-emu, the zombies too
//   command_process_gone(emulator, inner)     waits until none of them with that inner pid lives
//
// The command counts its pids in a PID namespace of its own, so a pid it
// reports ($$, $!) names another process out here. Each process below the
// emulator is known by its machine pid and its inner pid (its pid in the
// innermost namespace, the last one of NSpid in /proc/PID/status; without a
// namespace of its own the two are the same).
#ifndef LCM_TESTS_COMMAND_PROCESSES_H
#define LCM_TESTS_COMMAND_PROCESSES_H

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

struct CommandProcess {
  pid_t pid = 0;
  pid_t parent = 0;
  pid_t inner = 0;
  bool zombie = false;
};

inline bool read_command_process(pid_t pid, CommandProcess *process)
{
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  process->pid = pid;
  bool read_any = false;
  for (std::string line; std::getline(status, line);) {
    read_any = true;
    std::istringstream fields(line);
    std::string name;
    fields >> name;
    if (name == "State:")
      process->zombie = line.find("Z (zombie)") != std::string::npos;
    else if (name == "PPid:")
      fields >> process->parent;
    else if (name == "NSpid:")
      for (pid_t inner = 0; fields >> inner;)
        process->inner = inner;
  }
  return read_any;
}

inline std::vector<CommandProcess> processes_below(pid_t emulator)
{
  std::vector<CommandProcess> all;
  std::error_code error;
  for (const auto &entry : std::filesystem::directory_iterator("/proc", error)) {
    const std::string name = entry.path().filename().string();
    CommandProcess process;
    const bool numeric = std::all_of(name.begin(), name.end(),
                                     [](char c) { return isdigit(static_cast<unsigned char>(c)) != 0; });
    if (numeric && read_command_process(static_cast<pid_t>(strtol(name.c_str(), nullptr, 10)), &process))
      all.push_back(process);
  }
  std::set<pid_t> parents = {emulator};
  std::vector<CommandProcess> below;
  for (bool grew = true; grew;) {
    grew = false;
    for (const CommandProcess &process : all) {
      if (parents.count(process.parent) == 0 || parents.count(process.pid) != 0)
        continue;
      parents.insert(process.pid);
      below.push_back(process);
      grew = true;
    }
  }
  return below;
}

// A killed process ends a moment after the signal; a zombie has ended.
inline bool command_process_gone(pid_t emulator, pid_t inner)
{
  // Generous: the emulator may share two busy cores with sanitizer builds.
  constexpr auto PATIENCE = std::chrono::seconds(30);
  const auto deadline = std::chrono::steady_clock::now() + PATIENCE;
  for (;;) {
    const std::vector<CommandProcess> below = processes_below(emulator);
    if (std::none_of(below.begin(), below.end(), [&](const CommandProcess &process) {
          return process.inner == inner && !process.zombie;
        }))
      return true;
    if (std::chrono::steady_clock::now() > deadline)
      return false;
    usleep(10000);
  }
}

#endif
