#include "support/procfs.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace testing_support {

namespace {

std::string proc(pid_t pid) {
  return "/proc/" + std::to_string(pid);
}

}  // namespace

long statusKb(pid_t pid, const std::string& field) {
  std::ifstream status(proc(pid) + "/status");
  std::string key;
  long value = -1;
  while (status >> key) {
    if (key == field + ":") status >> value;
  }
  return value;
}

std::size_t descriptors(pid_t pid) {
  std::size_t n = 0;
  std::error_code failed;
  for ([[maybe_unused]] const auto& fd :
       std::filesystem::directory_iterator(proc(pid) + "/fd", failed)) {
    ++n;
  }
  return n;
}

std::vector<Task> tasks(pid_t pid) {
  std::vector<Task> found;
  std::error_code failed;
  for (const auto& task : std::filesystem::directory_iterator(proc(pid) + "/task", failed)) {
    std::ifstream stat(task.path() / "stat"), wchan(task.path() / "wchan");
    std::string line, channel;
    std::getline(stat, line);
    wchan >> channel;
    std::size_t after = line.rfind(") ");  // the name may hold spaces and parentheses
    if (after != std::string::npos) found.push_back({line[after + 2], channel});
  }
  return found;
}

bool awaitTask(pid_t pid, const std::string& channel) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    std::vector<Task> now = tasks(pid);
    bool stopped = !now.empty();
    for (const Task& task : now) {
      if (!channel.empty() && task.channel.find(channel) != std::string::npos) return true;
      stopped = stopped && (task.state == 'T' || task.state == 't');
    }
    if (channel.empty() && stopped) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return false;
}

}  // namespace testing_support
