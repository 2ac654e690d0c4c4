#include "controller/spool.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace quilo::controller {

namespace {

constexpr std::string_view kPrefix = "PLATE";
constexpr std::string_view kSpare = "PLATE.spare";
constexpr std::size_t kMaxRecordBytes = 4096;

std::span<const std::byte> bytesOf(const std::string& s) {
    return {reinterpret_cast<const std::byte*>(s.data()), s.size()};
}

template <class T>
void parseNumber(std::string_view text, T& out) {
    T v{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec == std::errc() && end == text.data() + text.size()) out = v;
}

// The entry number of "PLATE00012.tif"; 0 for any other name.
int numberOf(std::string_view name) {
    if (name.size() < kPrefix.size() + 5 || name.substr(0, kPrefix.size()) != kPrefix) return 0;
    const std::string_view digits = name.substr(kPrefix.size(), 5);
    int n = 0;
    parseNumber(digits, n);
    return n;
}

}  // namespace

std::string SpoolRecord::text() const {
    char when[32];
    std::snprintf(when, sizeof when, "%04d-%02d-%02d %02d:%02d:%02d.%03d", captured.year,
                  captured.month, captured.day, captured.hour, captured.minute, captured.second,
                  captured.millisecond);
    auto number = [](double v) {
        char b[32];
        const auto [end, ec] = std::to_chars(b, b + sizeof b, v);
        return ec == std::errc() ? std::string(b, end) : std::string("0");
    };
    return std::string("captured=") + when + "\r\nparamSet=" + std::to_string(paramSet) +
           "\r\nsensorNo=" + std::to_string(sensorNo) +
           "\r\nimageType=" + std::to_string(imageType) + "\r\npitchXUm=" + number(pitchXUm) +
           "\r\npitchYUm=" + number(pitchYUm) + "\r\nimageId=" + std::to_string(imageId) +
           "\r\nscannerImage=" + scannerImage + "\r\ndeleted=" + (deleted ? "1" : "0") +
           "\r\nstarts=" + std::to_string(starts) + "\r\n";
}

SpoolRecord SpoolRecord::parse(std::string_view text) {
    SpoolRecord r;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        const std::string_view key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "captured") {
            platform::LocalTime t;
            if (std::sscanf(std::string(value).c_str(), "%4d-%2d-%2d %2d:%2d:%2d.%3d", &t.year,
                            &t.month, &t.day, &t.hour, &t.minute, &t.second, &t.millisecond) == 7)
                r.captured = t;
        } else if (key == "paramSet") {
            parseNumber(value, r.paramSet);
        } else if (key == "sensorNo") {
            parseNumber(value, r.sensorNo);
        } else if (key == "imageType") {
            parseNumber(value, r.imageType);
        } else if (key == "pitchXUm") {
            parseNumber(value, r.pitchXUm);
        } else if (key == "pitchYUm") {
            parseNumber(value, r.pitchYUm);
        } else if (key == "imageId") {
            parseNumber(value, r.imageId);
        } else if (key == "scannerImage") {
            r.scannerImage = std::string(value);
        } else if (key == "deleted") {
            r.deleted = value == "1";
        } else if (key == "starts") {
            parseNumber(value, r.starts);
        }
    }
    return r;
}

PlateSpool::PlateSpool(platform::Files& files, std::string folder)
    : files_(files), folder_(std::move(folder)) {
    if (!folder_.empty() && folder_.back() == '\\') folder_.pop_back();
}

PlateSpool::~PlateSpool() {
    pending_.clear();  // the writes end first
    if (spare_) files_.removeFile(sparePath());
}

std::string PlateSpool::sparePath() const {
    return folder_ + "\\" + std::string(kSpare);
}

std::string PlateSpool::path(int number, std::string_view extension) const {
    char name[16];
    std::snprintf(name, sizeof name, "%05d", number);
    return folder_ + "\\" + std::string(kPrefix) + name + std::string(extension);
}

bool PlateSpool::writeFile(const std::string& target, std::span<const std::byte> bytes,
                           bool direct) {
    const std::string part = direct ? target : target + ".part";
    bool ok = false;
    {
        auto file = files_.open(part, platform::OpenMode::CreateAlways);
        ok = file && file->write(bytes) && file->flush();
    }
    ok = ok && (direct || files_.moveFile(part, target));
    if (!ok) files_.removeFile(part);
    return ok;
}

int PlateSpool::keep(std::vector<std::byte> head, std::span<const std::byte> plate,
                     const SpoolRecord& record) {
    if (next_ == 0) {
        if (!files_.isDirectory(folder_) && !files_.createDirectories(folder_)) {
            writeFailed_ = true;
            return 0;
        }
        next_ = 1;
        for (const std::string& name : files_.list(folder_, std::string(kPrefix) + "*")) {
            next_ = std::max(next_, numberOf(name) + 1);
            spare_ = spare_ || name == kSpare;  // left by a session that did not end
        }
    }
    if (next_ > 99999) {  // a folder nobody has emptied for years: no new entries
        writeFailed_ = true;
        return 0;
    }
    const int number = next_;
    // The record first: the plate file's name is what makes an entry whole, so the new record
    // is written straight under its name (one left half written has no plate beside it).
    if (!writeFile(path(number, ".rec"), bytesOf(record.text()), true)) {
        writeFailed_ = true;
        return 0;
    }
    ++next_;
    held_[number] = record.imageId;
    const std::string part = path(number, ".tif.part");
    // Written over the spare when there is one; a new file when it cannot be had.
    if (spare_ && files_.moveFile(sparePath(), part)) spare_ = false;
    Pending& p = pending_[number];
    p.head = std::move(head);
    p.bytes = plate;
    p.write = files_.writeInBackground(part, p.head, plate);
    return number;
}

bool PlateSpool::finish(int number) {
    const auto it = pending_.find(number);
    if (it == pending_.end()) return true;
    const bool written = it->second.write->done();
    pending_.erase(it);
    const std::string part = path(number, ".tif.part");
    if (written && files_.moveFile(part, path(number, ".tif"))) return true;
    writeFailed_ = true;
    files_.removeFile(part);
    files_.removeFile(path(number, ".rec"));
    held_.erase(number);
    return false;
}

bool PlateSpool::writes(int number, std::span<const std::byte> head,
                        std::span<const std::byte> bytes) const {
    const auto it = pending_.find(number);
    return !linksFail_ && it != pending_.end() && it->second.bytes.data() == bytes.data() &&
           it->second.bytes.size() == bytes.size() && std::ranges::equal(it->second.head, head);
}

bool PlateSpool::linkPlate(int number, const std::string& to) {
    if (!finish(number) || !held_.contains(number)) return false;
    files_.removeFile(to);  // a link takes only a free name
    if (files_.link(path(number, ".tif"), to)) return true;
    linksFail_ = true;
    return false;
}

bool PlateSpool::setImageId(int number, std::int32_t imageId) {
    if (!finish(number)) return false;
    const auto it = held_.find(number);
    if (it == held_.end()) return false;
    if (const auto e = std::find(early_.begin(), early_.end(), imageId); e != early_.end()) {
        early_.erase(e);
        release(number);
        return true;
    }
    it->second = imageId;
    return rewriteRecord(number, [&](SpoolRecord& r) { r.imageId = imageId; });
}

void PlateSpool::markDeleted(int number) {
    if (finish(number) && held_.contains(number))
        rewriteRecord(number, [](SpoolRecord& r) { r.deleted = true; });
}

bool PlateSpool::rewriteRecord(int number, const std::function<void(SpoolRecord&)>& change) {
    const std::string rec = path(number, ".rec");
    auto bytes = platform::readWholeFile(files_, rec, kMaxRecordBytes);
    if (!bytes) return false;
    SpoolRecord r =
        SpoolRecord::parse({reinterpret_cast<const char*>(bytes->data()), bytes->size()});
    change(r);
    return writeFile(rec, bytesOf(r.text()));
}

std::vector<PlateSpool::Entry> PlateSpool::takeForRecovery() {
    std::vector<Entry> now;
    for (Entry& e : entries()) {
        if (e.record.deleted || e.record.starts > 0 || e.record.scannerImage.empty()) {
            now.push_back(std::move(e));
            continue;
        }
        waiting_[e.record.scannerImage] = e.number;
        rewriteRecord(e.number, [](SpoolRecord& r) { ++r.starts; });
    }
    return now;
}

void PlateSpool::superseded(const std::string& scannerImage) {
    const auto it = waiting_.find(scannerImage);
    if (it == waiting_.end()) return;
    release(it->second);
    waiting_.erase(it);
}

void PlateSpool::release(int number) {
    if (number <= 0) return;
    finish(number);
    held_.erase(number);
    // The plate file first: without it what is left is no entry.
    const std::string plate = path(number, ".tif");
    if (!spare_ && files_.moveFile(plate, sparePath()))
        spare_ = true;
    else
        files_.removeFile(plate);
    files_.removeFile(path(number, ".rec"));
}

bool PlateSpool::releaseImage(std::int32_t imageId) {
    if (imageId == 0) return false;
    for (const auto& [number, id] : held_) {
        if (id != imageId) continue;
        release(number);
        return true;
    }
    if (early_.size() >= 64) early_.erase(early_.begin());
    early_.push_back(imageId);
    return false;
}

std::vector<PlateSpool::Entry> PlateSpool::entries() {
    std::vector<Entry> out;
    if (!files_.isDirectory(folder_)) return out;
    std::vector<std::string> names = files_.list(folder_, std::string(kPrefix) + "*");
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const std::string full = folder_ + "\\" + name;
        const int number = numberOf(name);
        if (name.ends_with(".part")) {
            files_.removeFile(full);  // an interrupted write
        } else if (number > 0 && name == path(number, ".tif").substr(folder_.size() + 1)) {
            Entry e{number, full, {}};
            if (auto bytes = platform::readWholeFile(files_, path(number, ".rec"), kMaxRecordBytes))
                e.record = SpoolRecord::parse(
                    {reinterpret_cast<const char*>(bytes->data()), bytes->size()});
            out.push_back(std::move(e));
        } else if (number > 0 && name.ends_with(".rec") && !files_.exists(path(number, ".tif"))) {
            files_.removeFile(full);  // a record whose plate never got its name
        }
    }
    return out;
}

}  // namespace quilo::controller
