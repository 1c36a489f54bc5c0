// The files a user names: reading, checking before writing, creating folders, replacing durably.
#include "HostFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace host {

namespace {

constexpr size_t kReadChunk = 1 << 16;

std::string Reason(int Code) {
  return std::generic_category().message(Code);
}

std::filesystem::path FolderOf(const std::filesystem::path &File) {
  return File.has_parent_path() ? File.parent_path() : std::filesystem::path(".");
}

// What a regular file or a folder that exists is not, or empty.
std::string KindProblem(const struct stat &Info, bool WantFolder) {
  if (WantFolder) {
    return S_ISDIR(Info.st_mode) ? "" : "is not a folder";
  }
  if (S_ISDIR(Info.st_mode)) {
    return "is a directory";
  }
  return S_ISREG(Info.st_mode) ? "" : "is not a regular file";
}

// A missing folder is fine when it can be made: its nearest existing ancestor takes new entries.
std::string WritableFolderProblem(const std::filesystem::path &Folder) {
  struct stat Info {};
  if (::stat(Folder.c_str(), &Info) != 0) {
    const int Code = errno;
    std::error_code Failure;
    const std::filesystem::path Whole = std::filesystem::absolute(Folder, Failure);
    if (Code != ENOENT || Failure || Whole.parent_path() == Whole) {
      return "folder " + Folder.string() + ": " + Reason(Code);
    }
    return WritableFolderProblem(Whole.parent_path());
  }
  if (!S_ISDIR(Info.st_mode)) {
    return Folder.string() + " is not a folder";
  }
  if (::access(Folder.c_str(), W_OK | X_OK) != 0) {
    return "cannot write in folder " + Folder.string() + ": " + Reason(errno);
  }
  return "";
}

bool ReadAll(int Descriptor, std::vector<uint8_t> &Bytes) {
  for (;;) {
    const size_t Used = Bytes.size();
    Bytes.resize(Used + kReadChunk);
    const ssize_t Count = ::read(Descriptor, Bytes.data() + Used, kReadChunk);
    if (Count < 0 && errno == EINTR) {
      Bytes.resize(Used);
      continue;
    }
    Bytes.resize(Used + static_cast<size_t>(Count > 0 ? Count : 0));
    if (Count <= 0) {
      return Count == 0;
    }
  }
}

} // namespace

std::string PathMessage(const std::string &Option, const std::filesystem::path &Path,
                        const std::string &Problem) {
  return Option + " " + Path.string() + ": " + Problem;
}

PathError::PathError(const std::string &Option, const std::filesystem::path &Path, const std::string &Problem)
    : std::invalid_argument(PathMessage(Option, Path, Problem)) {}

std::optional<std::vector<uint8_t>> ReadFileBytes(const std::filesystem::path &File, std::string &Problem) {
  Problem = FileProblem(File, false, false);
  if (!Problem.empty()) {
    return std::nullopt;
  }
  const int Descriptor = ::open(File.c_str(), O_RDONLY | O_CLOEXEC);
  if (Descriptor < 0) {
    Problem = "cannot read: " + Reason(errno);
    return std::nullopt;
  }
  std::vector<uint8_t> Bytes;
  const bool Read = ReadAll(Descriptor, Bytes);
  const int Code = errno;
  ::close(Descriptor);
  if (!Read) {
    Problem = "cannot read: " + Reason(Code);
    return std::nullopt;
  }
  return Bytes;
}

std::vector<uint8_t> ReadUserFile(const std::string &Option, const std::filesystem::path &File) {
  std::string Problem;
  std::optional<std::vector<uint8_t>> Bytes = ReadFileBytes(File, Problem);
  if (!Bytes) {
    throw PathError(Option, File, Problem);
  }
  return *Bytes;
}

std::string FileProblem(const std::filesystem::path &File, bool MayBeMissing, bool Replaced) {
  if (File.empty()) {
    return "an empty path";
  }
  struct stat Info {};
  if (::stat(File.c_str(), &Info) != 0) {
    const int Code = errno;
    if (!MayBeMissing || (Code != ENOENT && Code != ENOTDIR)) {
      return Code == ENOENT ? "no such file" : Reason(Code);
    }
    return Replaced ? WritableFolderProblem(FolderOf(File)) : "";
  }
  if (std::string Kind = KindProblem(Info, false); !Kind.empty()) {
    return Kind;
  }
  if (::access(File.c_str(), R_OK) != 0) {
    return "cannot read: " + Reason(errno);
  }
  return Replaced ? WritableFolderProblem(FolderOf(File)) : "";
}

std::string FolderProblem(const std::filesystem::path &Folder) {
  struct stat Info {};
  if (::stat(Folder.c_str(), &Info) != 0) {
    return errno == ENOENT ? "no such folder" : Reason(errno);
  }
  if (std::string Kind = KindProblem(Info, true); !Kind.empty()) {
    return Kind;
  }
  return ::access(Folder.c_str(), R_OK | X_OK) == 0 ? "" : "cannot read: " + Reason(errno);
}

std::string CreateFolder(const std::filesystem::path &Folder) {
  struct stat Info {};
  if (::stat(Folder.c_str(), &Info) == 0 && !S_ISDIR(Info.st_mode)) {
    return "is not a folder";
  }
  std::error_code Failure;
  std::filesystem::create_directories(Folder, Failure);
  if (Failure) {
    return "cannot create the folder: " + Failure.message();
  }
  return ::access(Folder.c_str(), W_OK | X_OK) == 0 ? "" : "cannot write in it: " + Reason(errno);
}

namespace {

// Stops only in a test that set a hook (see SetSavePointHook).
std::function<void(SavePoint)> gSaveHook;

void AtSavePoint(SavePoint Point) {
  if (gSaveHook) {
    gSaveHook(Point);
  }
}

bool WriteAll(int Descriptor, const uint8_t *Bytes, size_t Size) {
  while (Size > 0) {
    const ssize_t Written = ::write(Descriptor, Bytes, Size);
    if (Written < 0 && errno == EINTR) {
      continue;
    }
    if (Written <= 0) {
      return false;
    }
    Bytes += Written;
    Size -= static_cast<size_t>(Written);
  }
  return true;
}

// The new image goes to a temporary file, which reaches the disk before it replaces the old
// one by a rename (atomic), and the folder's entry reaches the disk after it: a process or
// power lost at any point leaves either the old file or the new one.
bool WriteTemporary(const std::filesystem::path &Temporary, const std::vector<uint8_t> &Image) {
  const int Descriptor = ::open(Temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (Descriptor < 0) {
    return false;
  }
  const size_t Half = Image.size() / 2;
  bool Written = WriteAll(Descriptor, Image.data(), Half);
  AtSavePoint(SavePoint::TemporaryPartlyWritten);
  Written = Written && WriteAll(Descriptor, Image.data() + Half, Image.size() - Half);
  AtSavePoint(SavePoint::TemporaryWritten);
  Written = Written && ::fsync(Descriptor) == 0;
  return ::close(Descriptor) == 0 && Written;
}

void SyncFolder(const std::filesystem::path &File) {
  const int Descriptor = ::open(FolderOf(File).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (Descriptor >= 0) {
    ::fsync(Descriptor);
    ::close(Descriptor);
  }
}

} // namespace

void SetSavePointHook(std::function<void(SavePoint)> Hook) {
  gSaveHook = std::move(Hook);
}

bool ReplaceFileDurably(const std::filesystem::path &File, const std::vector<uint8_t> &Image,
                        std::string *Error) {
  std::filesystem::path Temporary = File;
  Temporary += ".tmp";
  std::error_code Code;
  if (!WriteTemporary(Temporary, Image)) {
    if (Error != nullptr) {
      *Error = "cannot write " + Temporary.string();
    }
    std::filesystem::remove(Temporary, Code);
    return false;
  }
  AtSavePoint(SavePoint::TemporarySynced);
  std::filesystem::rename(Temporary, File, Code);
  if (Code) {
    if (Error != nullptr) {
      *Error = "cannot replace " + File.string() + ": " + Code.message();
    }
    std::filesystem::remove(Temporary, Code);
    return false;
  }
  AtSavePoint(SavePoint::Renamed);
  SyncFolder(File);
  return true;
}

} // namespace host
