// How the board's tools open the files a user names: reading a whole file, checking a path
// before anything is written, creating an output folder and replacing a file durably. Every
// problem is one line that names the option, the path and what is wrong
// ("--eeprom /tmp/x: is a directory"), so that each command reports it the same way.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace host {

// A path a user named that cannot serve: what() is "<option> <path>: <problem>". Thrown where a
// reader is deep inside the board's assembly; boardsim turns it into exit status 2.
class PathError : public std::invalid_argument {
public:
  PathError(const std::string &Option, const std::filesystem::path &Path, const std::string &Problem);
};

// "<option> <path>: <problem>"
std::string PathMessage(const std::string &Option, const std::filesystem::path &Path,
                        const std::string &Problem);

// The whole content of a regular file; nothing, with Problem set ("no such file", "is a
// directory", "cannot read: <reason>"), otherwise. Never throws on a bad path.
std::optional<std::vector<uint8_t>> ReadFileBytes(const std::filesystem::path &File, std::string &Problem);
// ReadFileBytes, throwing PathError for Option.
std::vector<uint8_t> ReadUserFile(const std::string &Option, const std::filesystem::path &File);

// What is wrong (empty: nothing) with a file a command reads and may later replace: it may be
// missing when MayBeMissing, otherwise it must be a readable regular file; when Replaced, its
// folder must take new files or be one CreateFolder can make (a replacement is a new file
// renamed over the old one).
std::string FileProblem(const std::filesystem::path &File, bool MayBeMissing, bool Replaced);
// What is wrong with a folder a command reads from (empty: nothing).
std::string FolderProblem(const std::filesystem::path &Folder);
// Creates an output folder with its parents; what went wrong, or empty.
std::string CreateFolder(const std::filesystem::path &Folder);

// Where a durable replacement can be cut short by a lost process or power. Tests set a hook
// that runs at each point (and may end the process there); none is set otherwise.
enum class SavePoint { TemporaryPartlyWritten, TemporaryWritten, TemporarySynced, Renamed };
void SetSavePointHook(std::function<void(SavePoint)> Hook);
// Replaces File with Image so that a process or power lost at any point leaves the old file or
// the new one: a temporary file synced to disk, renamed over File, then the folder synced.
bool ReplaceFileDurably(const std::filesystem::path &File, const std::vector<uint8_t> &Image,
                        std::string *Error);

} // namespace host
