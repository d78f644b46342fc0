#include "convert/quarnel_test_streams.h"

#include <fstream>

namespace quarnel_test {

TempFolder::TempFolder() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "." + info->name();
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  dir_ = std::filesystem::path(QUARNEL_TEST_TMPDIR) / name;
  std::filesystem::remove_all(dir_);
  std::filesystem::create_directories(dir_);
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

std::string TempFolder::Write(const std::string& name, const Bytes& bytes) const {
  const std::string path = Path(name);
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  EXPECT_TRUE(out.good()) << path;
  return path;
}

}  // namespace quarnel_test
