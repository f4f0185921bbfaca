#include "base/SameFile.h"

#include <filesystem>
#include <system_error>

namespace {

std::filesystem::path PathOf(const std::string& name) {
  return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
  if (a.empty() || b.empty()) return false;
  const std::filesystem::path pa = PathOf(a), pb = PathOf(b);
  std::error_code error;
  if (std::filesystem::equivalent(pa, pb, error)) return true;
  // Not both there: compare where they would be, links of the folders followed.
  std::error_code ea, eb;
  const std::filesystem::path ca = std::filesystem::weakly_canonical(pa, ea);
  const std::filesystem::path cb = std::filesystem::weakly_canonical(pb, eb);
  return !ea && !eb && ca == cb;
}
