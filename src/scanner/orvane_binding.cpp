#include "scanner/orvane_binding.h"

#include <cstring>

#include "core/error.h"

namespace quilo::scanner {

namespace {

enum Export : int {
    kInit_Dll,
    kGet_IniFileName,
    kSet_IniFileName,
    kGet_Paramcount,
    kGet_Paramname,
    kOpen_Scanner,
    kSet_Prescanmode,
    kGet_Serialnumber,
    kGet_DriverVersion,
    kSet_ImageExtraHeader,
    kAktivate_Scanner,
    kGet_Status,
    kGetPrescanImage,
    kClearPrescanImage,
    kGet_ImageName,
    kGet_ImageInfo,
    kGetRawImage,
    kDelete_Image,
    kDeaktivate_Scanner,
    kClose_Scanner,
};

// A caller buffer for a text result: `size` characters the library may fill, plus a NUL of
// our own behind them so a library that writes one character too many cannot run past it.
class TextBuffer {
  public:
    explicit TextBuffer(int size) : size_(size), bytes_(static_cast<std::size_t>(size) + 1, 0) {}
    char* data() { return bytes_.data(); }
    std::string text() const { return std::string(bytes_.data(), static_cast<std::size_t>(size_)); }

  private:
    int size_;
    std::vector<char> bytes_;
};

}  // namespace

ImageInfo parseImageInfo(const ImageInfoRecord& record) {
    auto at = [&](std::size_t offset) {
        std::uint32_t v = 0;
        for (std::size_t i = 0; i < 4; ++i)
            v |= static_cast<std::uint32_t>(record[offset + i]) << (8 * i);
        return static_cast<Long>(v);
    };
    ImageInfo info;
    info.width = at(4);
    info.height = at(8);
    info.pitchXNm = at(12);
    info.pitchYNm = at(16);
    info.bitsPerPixel = static_cast<int>(record[20]);
    return info;
}

std::string untilNul(std::string_view buffer) {
    return std::string(buffer.substr(0, buffer.find('\0')));
}

OrvaneBinding::OrvaneBinding(platform::Libraries& libraries, std::string path)
    : libraries_(libraries), path_(std::move(path)) {}

OrvaneBinding::~OrvaneBinding() = default;

void OrvaneBinding::load() {
    if (library_) return;
    library_ = libraries_.load(path_);
    if (!library_) {
        throw RuntimeError(kErrFileNotFound, "File not found: " + path_, "OrvaneBinding");
    }
    for (int i = 0; i < abi::kExportCount; ++i)
        exports_[i] = library_->symbol(abi::kExportNames[i]);
}

void OrvaneBinding::unload() {
    library_.reset();
    std::memset(exports_, 0, sizeof exports_);
}

std::vector<std::string> OrvaneBinding::missingExports() const {
    std::vector<std::string> missing;
    if (!library_) return missing;
    for (int i = 0; i < abi::kExportCount; ++i)
        if (!exports_[i]) missing.emplace_back(abi::kExportNames[i]);
    return missing;
}

template <typename Fn>
Fn OrvaneBinding::resolve(int index) {
    load();
    void* fn = exports_[index];
    if (!fn) {
        throw RuntimeError(
            kErrNoEntryPoint,
            std::string("Can't find DLL entry point ") + abi::kExportNames[index] + " in " + path_,
            "OrvaneBinding");
    }
    return reinterpret_cast<Fn>(fn);
}

Long OrvaneBinding::Init_Dll(std::string_view dllName) {
    const std::string name(dllName);
    return resolve<abi::Init_Dll>(kInit_Dll)(name.c_str());
}

Long OrvaneBinding::Get_IniFileName(std::string& buffer) {
    auto fn = resolve<abi::Get_IniFileName>(kGet_IniFileName);
    TextBuffer text(abi::kTextBuffer);
    const Long r = fn(text.data());
    buffer = text.text();
    return r;
}

Long OrvaneBinding::Set_IniFileName(std::string_view path) {
    const std::string p(path);
    return resolve<abi::Set_IniFileName>(kSet_IniFileName)(p.c_str());
}

Long OrvaneBinding::Get_Paramcount() {
    return resolve<abi::Get_Paramcount>(kGet_Paramcount)();
}

Long OrvaneBinding::Get_Paramname(std::string& buffer, Long setNumber) {
    auto fn = resolve<abi::Get_Paramname>(kGet_Paramname);
    TextBuffer text(abi::kTextBuffer);
    const Long r = fn(text.data(), setNumber);
    buffer = text.text();
    return r;
}

Long OrvaneBinding::Open_Scanner(Long setNumber) {
    return resolve<abi::Open_Scanner>(kOpen_Scanner)(setNumber);
}

Long OrvaneBinding::Set_Prescanmode(Long mode) {
    return resolve<abi::Set_Prescanmode>(kSet_Prescanmode)(mode);
}

Long OrvaneBinding::Get_Serialnumber(std::string& buffer) {
    auto fn = resolve<abi::Get_Serialnumber>(kGet_Serialnumber);
    TextBuffer text(abi::kTextBuffer);
    const Long r = fn(text.data());
    buffer = text.text();
    return r;
}

Long OrvaneBinding::Get_DriverVersion(std::string& buffer) {
    auto fn = resolve<abi::Get_DriverVersion>(kGet_DriverVersion);
    TextBuffer text(abi::kTextBuffer);
    const Long r = fn(text.data());
    buffer = text.text();
    return r;
}

Long OrvaneBinding::Set_ImageExtraHeader(Long a, Long b) {
    return resolve<abi::Set_ImageExtraHeader>(kSet_ImageExtraHeader)(a, b);
}

Long OrvaneBinding::Aktivate_Scanner() {
    return resolve<abi::Aktivate_Scanner>(kAktivate_Scanner)();
}

Long OrvaneBinding::Get_Status() {
    return resolve<abi::Get_Status>(kGet_Status)();
}

Long OrvaneBinding::GetPrescanImage(platform::HGlobal& picture, Long& bytes) {
    auto fn = resolve<abi::GetPrescanImage>(kGetPrescanImage);
    abi::HandleOut handle = 0;
    Long n = 0;
    const Long r = fn(&handle, &n);
    picture = static_cast<platform::HGlobal>(handle);
    bytes = n;
    return r;
}

Long OrvaneBinding::ClearPrescanImage() {
    return resolve<abi::ClearPrescanImage>(kClearPrescanImage)();
}

Long OrvaneBinding::Get_ImageName(std::string& buffer) {
    auto fn = resolve<abi::Get_ImageName>(kGet_ImageName);
    TextBuffer text(abi::kImageNameBuffer);
    const Long r = fn(text.data());
    buffer = text.text();
    return r;
}

Long OrvaneBinding::Get_ImageInfo(std::string_view name, ImageInfoRecord& record) {
    auto fn = resolve<abi::Get_ImageInfo>(kGet_ImageInfo);
    const std::string n(name);
    unsigned char bytes[abi::kImageInfoBytes] = {};
    const Long r = fn(n.c_str(), bytes);
    std::memcpy(record.data(), bytes, record.size());
    return r;
}

Long OrvaneBinding::GetRawImage(std::string_view name, Long width, Long height,
                                platform::HGlobal& image, Long& bytes, Long optimise,
                                Long mappingType, Long limitLow, Long limitHigh) {
    auto fn = resolve<abi::GetRawImage>(kGetRawImage);
    const std::string n(name);
    abi::HandleOut handle = 0;
    Long size = 0;
    const Long r =
        fn(n.c_str(), width, height, &handle, &size, optimise, mappingType, limitLow, limitHigh);
    image = static_cast<platform::HGlobal>(handle);
    bytes = size;
    return r;
}

Long OrvaneBinding::Delete_Image(std::string_view name) {
    const std::string n(name);
    return resolve<abi::Delete_Image>(kDelete_Image)(n.c_str());
}

Long OrvaneBinding::Deaktivate_Scanner() {
    return resolve<abi::Deaktivate_Scanner>(kDeaktivate_Scanner)();
}

Long OrvaneBinding::Close_Scanner() {
    return resolve<abi::Close_Scanner>(kClose_Scanner)();
}

}  // namespace quilo::scanner
