// The program's commands. Each takes the arguments after its name and
// returns the process exit code (see ExitCode in cli.h).
#pragma once

#include <string>
#include <vector>

namespace kestrum_cli {

int RunConvert(const std::vector<std::string>& args);
int RunRecord(const std::vector<std::string>& args);
int RunGenerate(const std::vector<std::string>& args);
int RunInspect(const std::vector<std::string>& args);
int RunVersion(const std::vector<std::string>& args);
int RunExtract(const std::vector<std::string>& args);
int RunRepair(const std::vector<std::string>& args);
int RunCut(const std::vector<std::string>& args);

}  // namespace kestrum_cli
