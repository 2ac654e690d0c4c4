// Port: files and folders. Paths are Windows paths ("C:\folder\file.ext") on every backend;
// the simulation maps them onto a real directory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/types.h"

namespace quilo::platform {

// Local date and time, as the system clock gives it.
struct LocalTime {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
    friend bool operator==(const LocalTime&, const LocalTime&) = default;
};

class File {
  public:
    virtual ~File() = default;  // closes the file
    // Reads up to buffer.size() bytes at the current position; returns the count (0 at end),
    // or nothing on error.
    virtual std::optional<std::size_t> read(std::span<std::byte> buffer) = 0;
    // Writes all bytes; false on error (lastError of Files).
    virtual bool write(std::span<const std::byte> bytes) = 0;
    virtual bool seek(std::uint64_t offset) = 0;
    virtual std::uint64_t size() = 0;
    virtual bool flush() = 0;
};

// A file being written beside the caller's thread (Files::writeInBackground).
class PendingWrite {
  public:
    // Waits for the write if it is still under way.
    virtual ~PendingWrite() = default;
    // Waits for the write; true when every byte is written and flushed to the disk. On false
    // the error is the Files port's lastError.
    virtual bool done() = 0;
};

enum class OpenMode {
    Read,          // OPEN_EXISTING, GENERIC_READ, FILE_SHARE_READ
    CreateAlways,  // CREATE_ALWAYS, GENERIC_WRITE
    CreateNew,     // CREATE_NEW, GENERIC_WRITE, no sharing: fails with kFileExists
    Append,        // OPEN_ALWAYS, GENERIC_WRITE, positioned at the end
    Overwrite,     // OPEN_ALWAYS, GENERIC_WRITE, at the start: the old bytes stay till written over
};

class Files {
  public:
    virtual ~Files() = default;
    // The folder of the running program, without a trailing backslash.
    virtual std::string programFolder() = 0;
    // The running program's file name without folder and extension ("QuiloPlugin").
    virtual std::string programName() = 0;
    // GetTempPathA: ends with a backslash.
    virtual std::string tempFolder() = 0;
    // GetTempFileNameA(folder, prefix, 0): creates a new empty file with a unique name built
    // from the first three characters of the prefix; empty string on failure.
    virtual std::string tempFileName(std::string_view folder, std::string_view prefix) = 0;
    // The per-user application data folder (CSIDL_APPDATA), without a trailing backslash.
    virtual std::string userDataFolder() = 0;
    virtual bool setCurrentDirectory(std::string_view path) = 0;

    virtual std::unique_ptr<File> open(std::string_view path, OpenMode mode) = 0;
    virtual bool exists(std::string_view path) = 0;
    virtual bool isDirectory(std::string_view path) = 0;
    // Creates the folder and any missing parents.
    virtual bool createDirectories(std::string_view path) = 0;
    virtual bool removeFile(std::string_view path) = 0;
    // Renames a file, replacing one of the new name, and returns once the change is on the disk
    // (MoveFileEx with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH): a file written
    // under a temporary name appears complete or not at all.
    virtual bool moveFile(std::string_view from, std::string_view to) = 0;
    // Gives an existing file a second name on its volume (CreateHardLink): both names are one
    // file, whose bytes stay until its last name goes. Fails when the new name is taken and
    // where the file system has no such links (FAT volumes, some network shares).
    virtual bool link(std::string_view existing, std::string_view newName) = 0;
    // The names a file has (1 but for link()); 0 when it cannot be read.
    virtual int linkCount(std::string_view path) = 0;
    // Creates (replacing) a file and writes and flushes `head` and then `bytes` into it beside
    // the caller, on a thread of its own, so the caller goes on meanwhile (the simulation decides
    // its faults when the write starts). Both must stay valid and unchanged until done() has
    // returned or the PendingWrite is gone. A file of that name is written over and then cut to
    // the new length, not emptied first: a file rewritten at each plate keeps its disk space
    // and cached pages, which the system would otherwise give up and supply again. Until done()
    // the file may hold old bytes after the new ones; the caller removes it when the write fails.
    virtual std::unique_ptr<PendingWrite> writeInBackground(std::string_view path,
                                                            std::span<const std::byte> head,
                                                            std::span<const std::byte> bytes) = 0;
    std::unique_ptr<PendingWrite> writeInBackground(std::string_view path,
                                                    std::span<const std::byte> bytes) {
        return writeInBackground(path, {}, bytes);
    }
    virtual std::optional<LocalTime> lastModified(std::string_view path) = 0;
    // The names (not paths) of the files in a folder that match a pattern with * and ?.
    virtual std::vector<std::string> list(std::string_view folder, std::string_view pattern) = 0;
    // The path on the machine running this code that a path names (identity on Windows),
    // for outside libraries that open files themselves.
    virtual std::string nativePath(std::string_view path) = 0;
    virtual ErrorCode lastError() = 0;
};

// Reads a whole file of at most maxBytes; nothing when it is missing, unreadable or larger.
std::optional<std::vector<std::byte>> readWholeFile(Files& files, std::string_view path,
                                                    std::size_t maxBytes);
// Writes (replaces) a whole file.
bool writeWholeFile(Files& files, std::string_view path, std::span<const std::byte> bytes);
// Joins a folder and a name with exactly one backslash.
std::string joinPath(std::string_view folder, std::string_view name);

}  // namespace quilo::platform
