#include "support/ql_temp_dir.h"

#include <stdlib.h>

#include <algorithm>
#include <boost/filesystem.hpp>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "protocol/ql_cache_file_name.h"

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

std::vector<std::string> CacheFolderEntries(std::string const& folder) {
  std::vector<std::string> names;
  boost::system::error_code error;
  for (boost::filesystem::directory_iterator it(folder, error), end; !error && it != end; ++it) {
    std::string name = it->path().filename().string();
    if (name != kCacheDirTagName) names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end());
  return names;
}
