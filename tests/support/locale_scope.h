#pragma once
// A user's locale for one test: LC_ALL in the environment, where the
// program looks up the decimal separator, and the C library's numbers, as
// the toolkit sets them at start. Both are put back afterwards.

#include <clocale>
#include <cstdlib>
#include <string>

namespace qova {

class LocaleScope {
 public:
  explicit LocaleScope(const char* name) {
    const char* env = std::getenv("LC_ALL");
    hadEnv_ = env != nullptr;
    if (hadEnv_) env_ = env;
    const char* c = std::setlocale(LC_NUMERIC, nullptr);
    c_ = c != nullptr ? c : "C";
    installed_ = std::setlocale(LC_NUMERIC, name) != nullptr;
    if (installed_) setenv("LC_ALL", name, 1);
  }
  ~LocaleScope() {
    hadEnv_ ? setenv("LC_ALL", env_.c_str(), 1) : unsetenv("LC_ALL");
    std::setlocale(LC_NUMERIC, c_.c_str());
  }
  LocaleScope(const LocaleScope&) = delete;
  LocaleScope& operator=(const LocaleScope&) = delete;

  // False when the system lacks the locale; nothing was changed then.
  bool Installed() const { return installed_; }

 private:
  bool hadEnv_ = false;
  bool installed_ = false;
  std::string env_, c_;
};

}  // namespace qova
