#include "orvane-sim/simulator.h"

#include <algorithm>
#include <cstring>

#include "platform/global_memory.h"

namespace quilo::orvanesim {

namespace {

constexpr std::size_t kMaxPlateFileBytes = 256u << 20;
constexpr Long kSlotBits[4] = {0x10000, 0x40000, 0x100000, 0x400000};
constexpr Long kPreviewBit = 0x1000000;
constexpr Long kTransportBit = 0x2000000;

Long copyText(char* buffer, const std::string& text, std::size_t capacity) {
    if (!buffer) return result::kOutOfRange;
    const std::size_t n = std::min(text.size(), capacity - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return result::kOk;
}

void put32(unsigned char* at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<unsigned char>(v >> (8 * i));
}

// log2(x) in 16.16 fixed point for x >= 1: the bit length plus a linear mantissa.
std::int64_t log2fx(std::int64_t x) {
    if (x < 1) return 0;
    int bits = 0;
    while ((x >> (bits + 1)) != 0)
        ++bits;
    const std::int64_t base = std::int64_t{1} << bits;
    return (std::int64_t{bits} << 16) + ((x - base) << 16) / base;
}

std::string plateName(int number) {
    std::string digits = std::to_string(number);
    if (digits.size() < 5) digits.insert(0, 5 - digits.size(), '0');
    return "PLATE" + digits + ".RAW";
}

}  // namespace

std::vector<std::uint16_t> mapGrey(const std::vector<std::uint16_t>& pixels, bool optimise,
                                   int mappingType, std::int64_t limitLow, std::int64_t limitHigh) {
    if (!optimise || pixels.empty()) return pixels;
    const std::int64_t total = static_cast<std::int64_t>(pixels.size());
    const std::int64_t cutLow = total * limitLow / 1000000;
    const std::int64_t cutHigh = total * limitHigh / 1000000;
    // The lowest level with more than cutLow pixels at or below it, and the highest with more
    // than cutHigh at or above it. A small plate ranks a copy of its pixels; a larger one counts
    // a histogram of every level (a quarter of a megabyte) where that copy would be a plate.
    int lo = 0, hi = 65535;
    if (pixels.size() <= 65536) {
        std::vector<std::uint16_t> ranked(pixels);
        const auto rank = [&](std::int64_t k) {
            std::nth_element(ranked.begin(), ranked.begin() + k, ranked.end());
            return static_cast<int>(ranked[static_cast<std::size_t>(k)]);
        };
        lo = cutLow < 0 ? 0 : cutLow >= total ? 65535 : rank(cutLow);
        hi = cutHigh < 0 ? 65535 : cutHigh >= total ? 0 : rank(total - 1 - cutHigh);
    } else {
        std::vector<std::uint32_t> histogram(65536, 0);
        for (auto v : pixels)
            ++histogram[v];
        for (std::int64_t seen = 0; lo < 65535; ++lo) {
            seen += histogram[static_cast<std::size_t>(lo)];
            if (seen > cutLow) break;
        }
        for (std::int64_t seen = 0; hi > 0; --hi) {
            seen += histogram[static_cast<std::size_t>(hi)];
            if (seen > cutHigh) break;
        }
    }
    if (hi <= lo) hi = std::min(65535, lo + 1);
    if (hi <= lo) lo = hi - 1;
    const std::int64_t span = hi - lo;
    const std::int64_t logSpan = log2fx(1 + span);
    std::vector<std::uint16_t> out(pixels.size());
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const std::int64_t d = std::clamp<std::int64_t>(pixels[i] - lo, 0, span);
        const std::int64_t v =
            mappingType == 1 ? log2fx(1 + d) * 65535 / logSpan : d * 65535 / span;
        out[i] = static_cast<std::uint16_t>(std::clamp<std::int64_t>(v, 0, 65535));
    }
    return out;
}

std::uint64_t plateSeed(std::uint64_t phantomSeed, int plateNumber) {
    return phantomSeed * 1000003u + static_cast<std::uint64_t>(plateNumber);
}

Simulator::Simulator(std::unique_ptr<DeviceEnvironment> env) : env_(std::move(env)) {
    epochTick_ = env_->tickCount();
    iniPath_ = env_->defaultIniPath();
    reloadConfig();
}

Simulator::~Simulator() {
    freePreview();
}

std::int64_t Simulator::now() {
    return static_cast<std::int64_t>(static_cast<std::uint32_t>(env_->tickCount() - epochTick_));
}

void Simulator::reloadConfig() {
    // The configuration follows from the file's bytes alone: when they are the same as last
    // time, every value need not be looked up again. (Only for a full path: a relative one
    // could name another file for the INI calls than for a plain read.)
    constexpr std::size_t kMaxIniBytes = 1u << 20;
    const bool fullPath = iniPath_.size() > 2 && iniPath_[1] == ':' && iniPath_[2] == '\\';
    auto bytes = fullPath ? env_->readFile(iniPath_, kMaxIniBytes) : std::nullopt;
    if (bytes && configBytes_ == bytes) return;
    config_ = readConfig(*env_, iniPath_);
    configBytes_ = std::move(bytes);
}

bool Simulator::scripted(std::string_view exportName, Long& result) {
    auto it = calls_.find(exportName);
    if (it == calls_.end()) it = calls_.emplace(std::string(exportName), 0).first;
    const int n = ++it->second;
    for (const CallFault& f : config_.callFaults) {
        if (f.nth == n && f.exportName == exportName) {
            result = f.result;
            return true;
        }
    }
    return false;
}

int Simulator::calls(std::string_view exportName) const {
    const auto it = calls_.find(exportName);
    return it == calls_.end() ? 0 : it->second;
}

Long Simulator::nextResult(const std::vector<Long>& list, std::size_t& used) {
    if (used >= list.size()) return result::kOk;
    return list[used++];
}

GreyImage Simulator::platePixels(int plateNumber, int setNumber) {
    const ParameterSet& set = config_.sets.at(static_cast<std::size_t>(setNumber - 1));
    if (!config_.feedFolder.empty()) {
        const auto names = env_->listFiles(config_.feedFolder, "*.tif*");
        if (!names.empty()) {
            const std::string& name =
                names[static_cast<std::size_t>(plateNumber - 1) % names.size()];
            const std::string folder = config_.feedFolder;
            const std::string path = folder.back() == '\\' ? folder + name : folder + "\\" + name;
            if (auto bytes = env_->readFile(path, kMaxPlateFileBytes)) {
                if (auto image = readGreyTiff(*bytes)) return std::move(*image);
            }
            // A file that is not an uncompressed grey TIFF reads as a phantom of the set.
        }
    }
    return makePhantom(set.kind, set.widthPx(), set.heightPx(),
                       plateSeed(config_.phantomSeed, plateNumber));
}

void Simulator::feedPlate() {
    if (!open_ || openSet_ < 1) return;
    Plate p;
    p.number = ++platesFed_;
    p.slot = (p.number - 1) % 4 + 1;
    p.setNumber = openSet_;
    p.inserted = now();
    p.start = -1;
    p.pixels = platePixels(p.number, p.setNumber);
    plates_.push_back(std::move(p));
    update();
}

void Simulator::schedule(Plate& p, std::int64_t) {
    std::int64_t start = std::max(p.inserted, activatedAt_) + config_.transportStartMs;
    start = std::max(start, lastEnd_);
    p.start = start;
    p.readEnd = start + config_.readMs;
    p.end = p.readEnd + config_.ejectMs;
    lastEnd_ = p.end;
}

void Simulator::update() {
    const std::int64_t t = now();
    if (active_) {
        while (autoFed_ < config_.autoPlates) {
            const std::int64_t due = activatedAt_ + config_.firstPlateMs +
                                     std::int64_t{autoFed_} * config_.plateIntervalMs;
            if (due > t) break;
            ++autoFed_;
            Plate p;
            p.number = ++platesFed_;
            p.slot = (p.number - 1) % 4 + 1;
            p.setNumber = openSet_;
            p.inserted = due;
            p.start = -1;
            p.pixels = platePixels(p.number, p.setNumber);
            plates_.push_back(std::move(p));
        }
        for (auto& p : plates_)
            if (p.start < 0) schedule(p, t);
    }
    while (!plates_.empty() && plates_.front().start >= 0 && plates_.front().end <= t) {
        Plate& p = plates_.front();
        if (!p.lost) {
            Image img;
            img.name = plateName(p.number);
            img.plateNumber = p.number;
            img.setNumber = p.setNumber;
            img.pitchNm = config_.sets.at(static_cast<std::size_t>(p.setNumber - 1)).pitchNm;
            img.pixels = std::move(p.pixels);
            images_.push_back(std::move(img));
        }
        plates_.pop_front();
    }
}

int Simulator::linesRead(const Plate& p, std::int64_t t) const {
    if (p.start < 0 || t < p.start) return 0;
    if (t >= p.readEnd) return p.pixels.height;
    return static_cast<int>(std::int64_t{p.pixels.height} * (t - p.start) / config_.readMs);
}

Simulator::Plate* Simulator::reading(std::int64_t t) {
    for (auto& p : plates_)
        if (p.start >= 0 && p.start <= t && t < p.end) return &p;
    return nullptr;
}

Simulator::Image* Simulator::findImage(const char* name) {
    if (!name) return nullptr;
    update();
    for (auto& img : images_)
        if (img.name == name) return &img;
    return nullptr;
}

void Simulator::freePreview() {
    if (previewBlock_) env_->memory().free(previewBlock_);
    previewBlock_ = 0;
}

std::uintptr_t Simulator::giveBlock(const std::vector<std::byte>& bytes) {
    auto& mem = env_->memory();
    const platform::HGlobal block = mem.alloc(platform::gmem::kMoveableZeroed, bytes.size());
    if (!block) return 0;
    void* p = mem.lock(block);
    if (!p) {
        mem.free(block);
        return 0;
    }
    std::memcpy(p, bytes.data(), bytes.size());
    mem.unlock(block);
    return block;
}

// --- exports ---------------------------------------------------------------------------

Long Simulator::Init_Dll(const char*) {
    if (Long r; scripted("Init_Dll", r)) return r;
    reloadConfig();
    // 2 leaves the library unusable; the caller tries again next time.
    if (config_.initDll == 2) return 2;
    initialized_ = true;
    return config_.initDll;
}

Long Simulator::Get_IniFileName(char* buffer) {
    if (Long r; scripted("Get_IniFileName", r)) {
        if (buffer) buffer[0] = '\0';
        return r;
    }
    if (config_.iniFileName != 0) {
        if (buffer) buffer[0] = '\0';
        return config_.iniFileName;
    }
    return copyText(buffer, iniPath_, 256);
}

Long Simulator::Set_IniFileName(const char* path) {
    if (Long r; scripted("Set_IniFileName", r)) return r;
    if (!path) return result::kOutOfRange;
    if (open_) return result::kAlreadyOpen;
    iniPath_ = path;
    reloadConfig();
    return result::kOk;
}

Long Simulator::Get_Paramcount() {
    if (Long r; scripted("Get_Paramcount", r)) return r;
    return static_cast<Long>(config_.sets.size());
}

Long Simulator::Get_Paramname(char* buffer, Long setNumber) {
    if (Long r; scripted("Get_Paramname", r)) {
        if (buffer) buffer[0] = '\0';
        return r;
    }
    if (setNumber < 1 || setNumber > static_cast<Long>(config_.sets.size())) {
        return result::kNoSuchParameter;
    }
    const ParameterSet& set = config_.sets[static_cast<std::size_t>(setNumber - 1)];
    if (set.unreadable) return -3;
    return copyText(buffer, set.name, 256);
}

Long Simulator::Open_Scanner(Long setNumber) {
    if (Long r; scripted("Open_Scanner", r)) return r;
    if (!initialized_) return result::kNotInitialized;
    if (open_) return result::kAlreadyOpen;
    reloadConfig();
    const Long planned = nextResult(config_.openResults, openResultsUsed_);
    // A planned -7 stands for a scanner left open by another program: it is open.
    if (planned != result::kOk && planned != result::kAlreadyOpen) return planned;
    if (setNumber < 1 || setNumber > static_cast<Long>(config_.sets.size())) {
        return result::kNoSuchParameter;
    }
    open_ = true;
    openSet_ = setNumber;
    return planned;
}

Long Simulator::Set_Prescanmode(Long mode) {
    if (Long r; scripted("Set_Prescanmode", r)) return r;
    if (!open_) return result::kNotOpen;
    if (mode != 0 && mode != 256) return result::kBadCtrlCode;
    prescanMode_ = mode;
    return result::kOk;
}

Long Simulator::Get_Serialnumber(char* buffer) {
    if (Long r; scripted("Get_Serialnumber", r)) {
        if (buffer) buffer[0] = '\0';
        return r;
    }
    if (!open_) return result::kNotOpen;
    if (config_.serialResult != 0) return config_.serialResult;
    if (config_.serial.empty()) return result::kNotFound;
    return copyText(buffer, config_.serial, 256);
}

Long Simulator::Get_DriverVersion(char* buffer) {
    if (Long r; scripted("Get_DriverVersion", r)) {
        if (buffer) buffer[0] = '\0';
        return r;
    }
    return copyText(buffer, config_.driverVersion, 256);
}

Long Simulator::Set_ImageExtraHeader(Long a, Long b) {
    if (Long r; scripted("Set_ImageExtraHeader", r)) return r;
    if (!open_) return result::kNotOpen;
    extraHeader_[0] = a;
    extraHeader_[1] = b;
    return result::kOk;
}

Long Simulator::Aktivate_Scanner() {
    if (Long r; scripted("Aktivate_Scanner", r)) return r;
    if (!initialized_) return result::kNotInitialized;
    if (!open_) return result::kNotOpen;
    const Long planned = nextResult(config_.activateResults, activateResultsUsed_);
    if (planned != result::kOk && planned != result::kAlreadyActive) return planned;
    if (active_) return result::kAlreadyActive;
    active_ = true;
    activatedAt_ = now();
    autoFed_ = 0;
    lastEnd_ = 0;
    statusFaultCallsUsed_ = 0;
    update();
    return planned;
}

Long Simulator::Get_Status() {
    if (Long r; scripted("Get_Status", r)) return r;
    if (!initialized_) return result::kNotInitialized;
    if (!open_) return result::kNotOpen;
    update();
    const std::int64_t t = now();
    for (auto& p : plates_) {
        if (p.number != config_.statusFaultPlate || p.start < 0 || t < p.start || t >= p.end) {
            continue;
        }
        if (config_.statusFaultCalls != 0 && statusFaultCallsUsed_ >= config_.statusFaultCalls) {
            break;
        }
        ++statusFaultCallsUsed_;
        // A checksum error spoils the plate being read.
        if (config_.statusFaultCode == result::kChecksum) p.lost = true;
        return config_.statusFaultCode;
    }
    Long word = static_cast<Long>(std::min<std::size_t>(images_.size(), 255));
    for (const auto& p : plates_) {
        if (p.inserted <= t && (p.start < 0 || t < p.end))
            word |= kSlotBits[static_cast<std::size_t>(p.slot - 1)];
        if (p.start >= 0 && p.start <= t && t < p.end) word |= kTransportBit;
    }
    if (t < beltUntil_) word |= kTransportBit;
    if (prescanMode_ == 256) {
        if (const Plate* p = reading(t); p && !p->lost) {
            const int lines = linesRead(*p, t);
            if (lines - p->previewDelivered >= config_.previewLines ||
                (lines == p->pixels.height && p->previewDelivered < lines)) {
                word |= kPreviewBit;
            }
        }
    }
    return word;
}

Long Simulator::GetPrescanImage(std::intptr_t* picture, Long* bytes) {
    if (!picture || !bytes) return result::kOutOfRange;
    *picture = 0;
    *bytes = 0;
    if (Long r; scripted("GetPrescanImage", r)) return r;
    if (!open_) return result::kNotOpen;
    update();
    const std::int64_t t = now();
    Plate* p = reading(t);
    if (prescanMode_ != 256 || !p || p->lost) return result::kNotFound;
    const int lines = linesRead(*p, t);
    if (lines <= p->previewDelivered) return result::kNotFound;

    // The lines read so far, scaled down to the preview width, 8 bits deep.
    const int w = p->pixels.width;
    const int factor = std::max(1, (w + config_.previewWidth - 1) / config_.previewWidth);
    const int pw = std::max(1, w / factor);
    const int ph = std::max(1, lines / factor);
    std::vector<std::uint16_t> small(static_cast<std::size_t>(pw) * ph);
    for (int y = 0; y < ph; ++y) {
        for (int x = 0; x < pw; ++x) {
            const auto v = p->pixels.pixels[static_cast<std::size_t>(y * factor) * w + x * factor];
            small[static_cast<std::size_t>(y) * pw + x] = static_cast<std::uint16_t>(v >> 8);
        }
    }
    const auto file = writeGreyTiff(pw, ph, 8, small, 0);
    freePreview();
    previewBlock_ = giveBlock(file);
    if (!previewBlock_) return result::kOutOfMemory;
    p->previewDelivered = lines;
    // The block stays the library's until the next picture, ClearPrescanImage or closing.
    *picture = static_cast<std::intptr_t>(previewBlock_);
    *bytes = static_cast<Long>(file.size());
    return result::kOk;
}

Long Simulator::ClearPrescanImage() {
    if (Long r; scripted("ClearPrescanImage", r)) return r;
    freePreview();
    return result::kOk;
}

Long Simulator::Get_ImageName(char* buffer) {
    if (Long r; scripted("Get_ImageName", r)) {
        if (buffer) buffer[0] = '\0';
        return r;
    }
    if (!buffer) return 0;
    buffer[0] = '\0';
    if (!open_) return 0;
    update();
    if (images_.empty()) return 0;
    copyText(buffer, images_.front().name, 255);
    return 1;
}

Long Simulator::Get_ImageInfo(const char* name, unsigned char* record) {
    if (Long r; scripted("Get_ImageInfo", r)) return r;
    if (!record) return result::kOutOfRange;
    if (!open_) return result::kNotOpen;
    Image* img = findImage(name);
    if (!img) return result::kNoSuchParameter;
    if (config_.infoFaultPlate > 0 && img->plateNumber == config_.infoFaultPlate &&
        (config_.infoFaultCalls == 0 || img->infoCalls < config_.infoFaultCalls)) {
        ++img->infoCalls;
        return config_.infoFaultResult;
    }
    std::memset(record, 0, 108);
    put32(record + 0, 108);
    put32(record + 4, static_cast<std::uint32_t>(img->pixels.width));
    put32(record + 8, static_cast<std::uint32_t>(img->pixels.height));
    put32(record + 12, static_cast<std::uint32_t>(img->pitchNm));
    put32(record + 16, static_cast<std::uint32_t>(img->pitchNm));
    record[20] = 16;
    record[21] = static_cast<unsigned char>(img->setNumber);
    put32(record + 24, static_cast<std::uint32_t>(img->plateNumber));
    const std::string& setName = config_.sets.at(static_cast<std::size_t>(img->setNumber - 1)).name;
    std::memcpy(record + 28, setName.data(), std::min<std::size_t>(setName.size(), 63));
    return result::kOk;
}

Long Simulator::GetRawImage(const char* name, Long width, Long height, std::intptr_t* image,
                            Long* bytes, Long optimise, Long mappingType, Long limitLow,
                            Long limitHigh) {
    if (!image || !bytes) return result::kOutOfRange;
    *image = 0;
    *bytes = 0;
    if (Long r; scripted("GetRawImage", r)) return r;
    if (!open_) return result::kNotOpen;
    Image* img = findImage(name);
    if (!img) return result::kNoSuchParameter;
    if (width != img->pixels.width || height != img->pixels.height) return result::kOutOfRange;
    if ((optimise != 0 && optimise != 1) || (mappingType != 0 && mappingType != 1) ||
        limitLow < 0 || limitLow > 400000 || limitHigh < 0 || limitHigh > 400000) {
        return result::kOutOfRange;
    }
    if (config_.rawFaultPlate > 0 && img->plateNumber == config_.rawFaultPlate &&
        (config_.rawFaultCalls == 0 || img->rawCalls < config_.rawFaultCalls)) {
        ++img->rawCalls;
        return config_.rawFaultResult;
    }
    // The file is written straight into the caller's block, so a whole plate is held here twice
    // at most (three times when mapped), as a driver would.
    std::vector<std::uint16_t> mapped;
    if (optimise == 1) mapped = mapGrey(img->pixels.pixels, true, mappingType, limitLow, limitHigh);
    const std::span<const std::uint16_t> pixels =
        optimise == 1 ? std::span<const std::uint16_t>(mapped) : img->pixels.pixels;
    const double pixelsPerCm = 1e7 / img->pitchNm;
    const auto header = writeGreyTiff(img->pixels.width, img->pixels.height, 16, {}, pixelsPerCm);
    const std::size_t size = header.size() + 2 * pixels.size();
    auto& mem = env_->memory();
    const platform::HGlobal block = mem.alloc(platform::gmem::kMoveableZeroed, size);
    auto* out = block ? static_cast<std::byte*>(mem.lock(block)) : nullptr;
    if (!out) {
        if (block) mem.free(block);
        return result::kOutOfMemory;
    }
    std::memcpy(out, header.data(), header.size());
    std::byte* at = out + header.size();
    for (const std::uint16_t v : pixels) {  // little-endian samples
        *at++ = static_cast<std::byte>(v & 0xFF);
        *at++ = static_cast<std::byte>(v >> 8);
    }
    mem.unlock(block);
    // The caller owns the block from here and frees it.
    *image = static_cast<std::intptr_t>(block);
    *bytes = static_cast<Long>(size);
    ++handedOver_[img->name];
    return result::kOk;
}

Long Simulator::Delete_Image(const char* name) {
    if (Long r; scripted("Delete_Image", r)) return r;
    if (!open_) return result::kNotOpen;
    update();
    for (auto it = images_.begin(); it != images_.end(); ++it) {
        if (name && it->name == name) {
            images_.erase(it);
            return result::kOk;
        }
    }
    return result::kNoSuchParameter;
}

Long Simulator::Deaktivate_Scanner() {
    if (Long r; scripted("Deaktivate_Scanner", r)) return r;
    if (!open_) return result::kNotOpen;
    update();
    // Plates not read to the end are pushed out unread.
    plates_.clear();
    active_ = false;
    lastEnd_ = 0;
    return result::kOk;
}

Long Simulator::Close_Scanner() {
    if (Long r; scripted("Close_Scanner", r)) return r;
    if (!open_) return result::kNotOpen;
    if (active_) Deaktivate_Scanner();
    plates_.clear();
    freePreview();
    const Long r = images_.empty() ? result::kOk : result::kUnreportedImages;
    images_.clear();
    open_ = false;
    openSet_ = 0;
    prescanMode_ = 0;
    beltUntil_ = -1;
    return r;
}

// --- further exports -------------------------------------------------------------------

Long Simulator::Get_Prescanline(Long line, std::uint16_t* buffer, Long capacity) {
    if (!open_) return result::kNotOpen;
    update();
    const Plate* p = reading(now());
    if (!p || p->lost) return result::kNotFound;
    if (!buffer || line < 0 || capacity < p->pixels.width) return result::kOutOfRange;
    if (line >= linesRead(*p, now())) return result::kNotFound;
    std::memcpy(buffer, p->pixels.pixels.data() + static_cast<std::size_t>(line) * p->pixels.width,
                static_cast<std::size_t>(p->pixels.width) * sizeof(std::uint16_t));
    return p->pixels.width;
}

Long Simulator::Ext_ScannerCTRL(Long code, Long value) {
    if (!open_) return result::kNotOpen;
    switch (code) {
        case 1:
            if (value != 0 && value != 1) return result::kOutOfRange;
            eraseLamp_ = value == 1;
            return result::kOk;
        case 2:
            if (value < 50 || value > 150) return result::kOutOfRange;
            beltSpeed_ = value;
            return result::kOk;
        default:
            return result::kBadCtrlCode;
    }
}

Long Simulator::Get_ImageExtraHeader(Long* a, Long* b) {
    if (!a || !b) return result::kOutOfRange;
    *a = extraHeader_[0];
    *b = extraHeader_[1];
    return result::kOk;
}

Long Simulator::Read_DiskImage(const char* path) {
    if (!open_) return result::kNotOpen;
    if (!path) return result::kOutOfRange;
    auto bytes = env_->readFile(path, kMaxPlateFileBytes);
    if (!bytes) return result::kNotFound;
    auto pixels = readGreyTiff(*bytes);
    if (!pixels) return result::kNotFound;
    Image img;
    std::string digits = std::to_string(++diskImages_);
    if (digits.size() < 5) digits.insert(0, 5 - digits.size(), '0');
    img.name = "DISK" + digits + ".RAW";
    img.setNumber = openSet_;
    img.pitchNm = config_.sets.at(static_cast<std::size_t>(openSet_ - 1)).pitchNm;
    img.pixels = std::move(*pixels);
    images_.push_back(std::move(img));
    return result::kOk;
}

Long Simulator::Opt_ImageGreyscale(const char* name, Long mappingType, Long limitLow,
                                   Long limitHigh) {
    if (!open_) return result::kNotOpen;
    Image* img = findImage(name);
    if (!img) return result::kNoSuchParameter;
    if ((mappingType != 0 && mappingType != 1) || limitLow < 0 || limitLow > 400000 ||
        limitHigh < 0 || limitHigh > 400000) {
        return result::kOutOfRange;
    }
    img->pixels.pixels = mapGrey(img->pixels.pixels, true, mappingType, limitLow, limitHigh);
    return result::kOk;
}

Long Simulator::Invert_Image(const char* name) {
    if (!open_) return result::kNotOpen;
    Image* img = findImage(name);
    if (!img) return result::kNoSuchParameter;
    for (auto& v : img->pixels.pixels)
        v = static_cast<std::uint16_t>(65535 - v);
    return result::kOk;
}

Long Simulator::Get_FirstOldImageName(char* buffer) {
    oldImageCursor_ = 0;
    return Get_NextOldImageName(buffer);
}

Long Simulator::Get_NextOldImageName(char* buffer) {
    if (!buffer) return 0;
    buffer[0] = '\0';
    if (!open_) return 0;
    update();
    if (oldImageCursor_ >= images_.size()) return 0;
    copyText(buffer, images_[oldImageCursor_++].name, 255);
    return 1;
}

Long Simulator::Run_Beltdrive(Long milliseconds) {
    if (!open_) return result::kNotOpen;
    if (milliseconds < 0 || milliseconds > 600000) return result::kOutOfRange;
    beltUntil_ = now() + milliseconds;
    return result::kOk;
}

}  // namespace quilo::orvanesim
