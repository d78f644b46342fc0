#include "e2e/cli_runner.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

extern char** environ;

namespace cli_test {

namespace {

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::filesystem::path RunFolder() {
  static int counter = 0;
  return std::filesystem::path(CLI_TEST_TMPDIR) /
         ("run." + std::to_string(::getpid()) + "." + std::to_string(counter++));
}

}  // namespace

Started::Started(const std::string& program, const std::vector<std::string>& args,
                 const std::string& stdin_path)
    : folder_(RunFolder()) {
  std::filesystem::create_directories(folder_);
  const std::string out_path = (folder_ / "out").string();
  const std::string err_path = (folder_ / "err").string();

  // Without an input the child reads an empty file of its own.
  const std::string in_path = stdin_path.empty() ? (folder_ / "in").string() : stdin_path;
  if (stdin_path.empty()) std::ofstream(in_path, std::ios::binary);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, in_path.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << program;
    return;
  }
  pid_ = pid;
}

Started::~Started() {
  if (!waited_) Wait();
}

RunResult Started::Wait(int* signal) {
  RunResult result;
  if (waited_ || pid_ < 0) return result;
  waited_ = true;
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0) {
  }
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  if (signal != nullptr) *signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  result.out = ReadText((folder_ / "out").string());
  result.err = ReadText((folder_ / "err").string());
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
  return result;
}

RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& stdin_path) {
  return Started(program, args, stdin_path).Wait();
}

std::unique_ptr<Started> StartKestrum(const std::vector<std::string>& args,
                                      const std::string& stdin_path) {
  return std::make_unique<Started>(KESTRUM_PROGRAM, args, stdin_path);
}

RunResult Kestrum(const std::vector<std::string>& args, const std::string& stdin_path) {
  return RunProgram(KESTRUM_PROGRAM, args, stdin_path);
}

std::map<std::string, std::string> Fields(const std::string& text) {
  std::map<std::string, std::string> fields;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t colon = line.find(": ");
    if (colon == std::string::npos) continue;
    fields.emplace(line.substr(0, colon), line.substr(colon + 2));
  }
  return fields;
}

std::vector<std::string> LinesStartingWith(const std::string& text, const std::string& prefix) {
  std::vector<std::string> found;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind(prefix, 0) == 0) found.push_back(line);
  }
  return found;
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

std::string ReadJson(const std::string& json, const std::string& script) {
  const std::filesystem::path file = RunFolder().string() + ".json";
  WriteBytes(file.string(), {json.begin(), json.end()});
  const RunResult r =
      RunProgram("python3", {"-c", "import json, sys\nd = json.load(sys.stdin)\n" + script}, file.string());
  std::filesystem::remove(file);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  return r.out;
}

bool HaveTool(const std::string& tool) {
  return RunProgram("sh", {"-c", "command -v " + tool}).exit_code == 0;
}

TempFolder::TempFolder() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "." + info->name();
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  dir_ = std::filesystem::path(CLI_TEST_TMPDIR) / name;
  std::filesystem::remove_all(dir_);
  std::filesystem::create_directories(dir_);
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

}  // namespace cli_test
