#include "support/ql_temp_dir.h"

#include <stdlib.h>

#include <boost/filesystem.hpp>
#include <fstream>
#include <sstream>
#include <stdexcept>

QLTempDir::QLTempDir() {
  char const* root = getenv("TMPDIR");
  std::string pattern = std::string(root && root[0] ? root : "/tmp") + "/ql_test_XXXXXX";
  if (mkdtemp(&pattern[0]) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

QLTempDir::~QLTempDir() {
  boost::system::error_code ignored;
  boost::filesystem::remove_all(path_, ignored);
}

std::string ReadFileText(std::string const& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool WriteFileText(std::string const& path, std::string const& text) {
  std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  return static_cast<bool>(out);
}
