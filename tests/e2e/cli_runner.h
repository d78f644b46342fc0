// Runs the kestrum program as a user would and captures what it prints.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace cli_test {

struct RunResult {
  int exit_code = -1;  // -1 when the program did not exit normally (a signal)
  std::string out;
  std::string err;
};

// Runs `program` with `args`; standard input from `stdin_path` (or empty).
RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& stdin_path = "");

// A program started without waiting for it: standard input from
// `stdin_path` (or empty), standard output and error to files.
class Started {
 public:
  Started(const std::string& program, const std::vector<std::string>& args,
          const std::string& stdin_path = "");
  ~Started();  // waits, if Wait was not called
  Started(const Started&) = delete;
  Started& operator=(const Started&) = delete;
  int pid() const { return pid_; }
  // Waits for it to end; exit_code is -1 and `signal` set when a signal
  // ended it.
  RunResult Wait(int* signal = nullptr);

 private:
  int pid_ = -1;
  std::filesystem::path folder_;
  bool waited_ = false;
};

// Starts the kestrum program under test.
std::unique_ptr<Started> StartKestrum(const std::vector<std::string>& args,
                                      const std::string& stdin_path = "");

// Runs the kestrum program under test.
RunResult Kestrum(const std::vector<std::string>& args, const std::string& stdin_path = "");

// The "label: value" lines of `text` (the first value of each label).
std::map<std::string, std::string> Fields(const std::string& text);

// The lines of `text` that start with `prefix`.
std::vector<std::string> LinesStartingWith(const std::string& text, const std::string& prefix);

std::vector<uint8_t> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// Runs `script` in python3 with `d` the JSON document `json`, read by
// python's own parser; what it prints (python failing fails the test).
std::string ReadJson(const std::string& json, const std::string& script);

// True when `tool` is found on PATH.
bool HaveTool(const std::string& tool);

// A folder of its own for each test, removed afterwards.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

 private:
  std::filesystem::path dir_;
};

}  // namespace cli_test
