#pragma once
// Test fixtures over real files: a fresh temporary folder per test, and scoped
// environment overrides (the configuration folder follows XDG_CONFIG_HOME).
#include <filesystem>
#include <optional>
#include <set>
#include <string>

namespace quorvel::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::optional<std::string>& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

std::string readFile(const std::filesystem::path& p);
void writeFile(const std::filesystem::path& p, std::string_view bytes);
// The names of what a folder holds (files, folders, links), sorted.
std::set<std::string> fileNames(const std::filesystem::path& folder);

}  // namespace quorvel::test
