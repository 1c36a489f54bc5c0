// What the core's parts report through: the board log and the errors of the boot, which the
// platform holds. Host-only; firmware never sees it.
#pragma once

#include <string>

namespace host {

class CoreReport {
public:
  // One line of the board log, from the core, stamped with the virtual time.
  virtual void LogLine(const std::string &Text) = 0;
  // Records an error of the boot against the image running now (or the one named).
  virtual void Error(const std::string &Rule, const std::string &Text) = 0;
  virtual void ErrorOf(const std::string &Rule, const std::string &Image, const std::string &Text) = 0;
  // Records a whole error line as it stands ("<family>: <what>"), without logging it.
  virtual void AddError(const std::string &Text) = 0;
  // The image a report names when it names the one running now ("core" outside any image).
  virtual std::string CurrentImageName() const = 0;

protected:
  ~CoreReport() = default;
};

} // namespace host
