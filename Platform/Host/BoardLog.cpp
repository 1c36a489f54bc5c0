// The board log: lines from the core, the producers and the firmware's diagnostics.
#include "HostPlatform.h"

#include <sstream>

namespace host {

namespace {
// Lines are one line each: a carriage return before the line end is dropped.
std::string TrimLineEnd(std::string Line) {
  if (!Line.empty() && Line.back() == '\r') {
    Line.pop_back();
  }
  return Line;
}
} // namespace

void BoardLog::Append(const std::string &Source, const std::string &Text, uint64_t VirtualTimeNs) {
  // A partial line from another source is closed first so that sources never mix in a line.
  if (!Pending_.empty() && PendingSource_ != Source) {
    Complete({VirtualTimeNs, PendingSource_, TrimLineEnd(Pending_)});
    Pending_.clear();
  }
  PendingSource_ = Source;
  size_t Start = 0;
  while (Start < Text.size()) {
    size_t End = Text.find('\n', Start);
    if (End == std::string::npos) {
      Pending_ += Text.substr(Start);
      break;
    }
    Pending_ += Text.substr(Start, End - Start);
    Complete({VirtualTimeNs, Source, TrimLineEnd(Pending_)});
    Pending_.clear();
    Start = End + 1;
  }
}

void BoardLog::Complete(LogLine Line) {
  Lines_.push_back(std::move(Line));
  if (Echo_ != nullptr) {
    *Echo_ << "[" << Lines_.back().Source << "] " << Lines_.back().Text << "\n";
    Echo_->flush();
  }
  if (Listener_) {
    Listener_(Lines_.back());
  }
}

std::string BoardLog::Text() const {
  std::ostringstream Out;
  for (const LogLine &Line : Lines_) {
    Out << "[" << Line.Source << "] " << Line.Text << "\n";
  }
  if (!Pending_.empty()) {
    Out << "[" << PendingSource_ << "] " << Pending_ << "\n";
  }
  return Out.str();
}

bool BoardLog::Contains(const std::string &Needle) const {
  for (const LogLine &Line : Lines_) {
    if (Line.Text.find(Needle) != std::string::npos) {
      return true;
    }
  }
  return Pending_.find(Needle) != std::string::npos;
}

} // namespace host
