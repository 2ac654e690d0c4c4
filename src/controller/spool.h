// The plate spool: an image plate is erased in the scanner once it has been read, so from the
// moment the scanner library hands over a plate until the host has it, the raw plate also lives
// on disk. A process that dies on the way leaves the plate there, and the next start recovers it.
//
// An entry is PLATEnnnnn.tif (the raw plate as a TIFF: the caller's file head, then the bytes
// the scanner library gave, which may be a whole TIFF file themselves) with
// PLATEnnnnn.rec (a few key=value lines). The record comes first; the plate is written under a
// ".part" name, flushed and renamed, and so is the record when it is rewritten: a killed process
// never leaves a half-written file that looks complete, and a plate file without a record is
// never taken for a whole entry.
//
// A released plate file is kept as PLATE.spare (no entry: nothing reads it) and the next plate is
// written over it: a clinic reading plate after plate keeps the file's disk space and cached
// pages instead of giving up hundreds of megabytes and asking for them again at every plate.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/files.h"

namespace quilo::controller {

struct SpoolRecord {
    platform::LocalTime captured;
    std::int32_t paramSet = 0;   // the scanner's parameter set the plate was read with
    std::int32_t sensorNo = 0;   // the sensor number the host activated
    std::int32_t imageType = 0;  // intraoral, panoramic, cephalometric (the scanner's numbering)
    double pitchXUm = 0, pitchYUm = 0;
    std::int32_t imageId = 0;  // the host's image id once it has one, else 0
    std::string scannerImage;  // the scanner's name of the plate
    bool deleted = false;      // the scanner has forgotten the plate (Delete_Image done)
    int starts = 0;            // program starts that found the entry still in the scanner

    std::string text() const;
    // Reads the lines back; unknown keys and bad values leave the defaults.
    static SpoolRecord parse(std::string_view text);
};

class PlateSpool {
  public:
    struct Entry {
        int number = 0;
        std::string plateFile;  // the raw TIFF
        SpoolRecord record;
    };

    // folder: where the entries live (created when the first plate is kept).
    PlateSpool(platform::Files& files, std::string folder);
    // Removes the spare file; entries stay for the next start.
    ~PlateSpool();
    PlateSpool(const PlateSpool&) = delete;
    PlateSpool& operator=(const PlateSpool&) = delete;

    const std::string& folder() const { return folder_; }

    // Keeps a plate: writes its record, and starts writing head and plate beside the caller
    // (the plate's bytes must stay valid until finish()). Returns the entry number, or 0 when
    // the record could not be written. Every other call about the entry waits for the plate.
    int keep(std::vector<std::byte> head, std::span<const std::byte> plate,
             const SpoolRecord& record);
    int keep(std::span<const std::byte> plate, const SpoolRecord& record) {
        return keep({}, plate, record);
    }
    // Waits for the plate of an entry to be on disk; false (and the entry gone, nothing of it
    // left behind) when it could not be written. True for an entry with nothing pending.
    bool finish(int number);
    // Whether the plate file of an entry being written will hold exactly head and then the
    // bytes at `bytes` (the same memory), and a second name for it may be tried (linkPlate).
    bool writes(int number, std::span<const std::byte> head,
                std::span<const std::byte> bytes) const;
    // Waits for the plate of an entry and gives its file the name `to` too, replacing a file of
    // that name. False when the entry is gone or the link fails; after a failed link, writes()
    // says no for the rest of the session (a volume without links, a file held open).
    bool linkPlate(int number, const std::string& to);
    // Whether a write failed since the last time this was asked.
    bool writeFailed() { return std::exchange(writeFailed_, false); }
    // The host's image id of an entry, written into its record (false when that failed; the
    // entry stays and is recovered like one without id).
    bool setImageId(int number, std::int32_t imageId);
    // The scanner has deleted the plate of an entry this process holds.
    void markDeleted(int number);
    // The plate is delivered or deliberately discarded: its entry goes.
    void release(int number);
    // The entry whose plate went to the host with that image id, released; false when none.
    bool releaseImage(std::int32_t imageId);
    // The whole entries on disk, oldest first; leftovers of interrupted writes are removed.
    std::vector<Entry> entries();
    // At start: the entries to recover now. A plate the scanner had not yet deleted when the
    // last session ended is still in the scanner and will be read again: its entry waits one
    // session for that (superseded()) and is recovered at the start after, so that a plate
    // is recovered exactly once and never lost.
    std::vector<Entry> takeForRecovery();
    // The scanner hands over a plate of this name: an entry waiting for it goes.
    void superseded(const std::string& scannerImage);
    // Entries this process has kept and not released.
    std::size_t held() const { return held_.size(); }

  private:
    std::string path(int number, std::string_view extension) const;
    std::string sparePath() const;
    // Writes a whole file under a ".part" name and renames it (a file that must never be seen
    // half written), or straight under its name (`direct`).
    bool writeFile(const std::string& path, std::span<const std::byte> bytes, bool direct = false);
    bool rewriteRecord(int number, const std::function<void(SpoolRecord&)>& change);

    platform::Files& files_;
    std::string folder_;
    int next_ = 0;                      // 0: not yet looked at the folder
    std::map<int, std::int32_t> held_;  // entry number -> image id (0: none yet)
    // Acknowledgements that came before the id was written (a host may acknowledge while the
    // image is still being handed over); the most recent few.
    std::vector<std::int32_t> early_;
    std::map<std::string, int> waiting_;  // scanner image name -> entry of an earlier session
    struct Pending {
        std::vector<std::byte> head;
        std::span<const std::byte> bytes;
        std::unique_ptr<platform::PendingWrite> write;
    };
    std::map<int, Pending> pending_;  // plates being written
    bool writeFailed_ = false;
    bool spare_ = false;      // PLATE.spare is there to be written over
    bool linksFail_ = false;  // a link failed: no more tries
};

}  // namespace quilo::controller
