// The image hand-over of the endpoint: an image control's bitmap becomes a TIFF file image in
// global memory with the next image id, goes to the host as an image message and is kept until
// the host acknowledges it; images never acknowledged are offered for saving at the end.
#include <cstdio>
#include <new>
#include <type_traits>

#include "core/error.h"
#include "host/plugin.h"

namespace quilo::host {

namespace {

constexpr const char* kCrLf = "\r\n";
constexpr int kTextNotInitialised = 2100;
constexpr int kTextNotTransferred = 2110;
constexpr int kTextNoBitmap = 2120;
constexpr int kTextSizeMismatch = 2130;
constexpr int kTextNotPrepared = 2140;
constexpr int kTextNotAccepted = 2150;

// The texts of a file-based transfer, which this plug-in never makes.
const std::string kNoFileTransfer = "Doesn't support File-Based transfer (yet).";

}  // namespace

// What differs between the two variants of the hand-over: record, command, store and the
// method names its messages carry (spelt as the host's support staff know them).
template <class Rec>
struct HandOver;

template <>
struct HandOver<ImageExRecord> {
    static constexpr const char* kWhere = "clsPlugin.SendLeadImageEx";
    static constexpr const char* kNotInitialised = " clsPlugin.SendLeadImageEx()";
    static constexpr const char* kNoBitmap = "clsPugin.SendLeadImageEx()";
    static constexpr const char* kMismatch = " clsPugin.SendLeadImageEx()";
    static constexpr const char* kNotPrepared = " clsPlugin.SendLeadImageEx()";
    static constexpr const char* kNotAccepted = " clsPlugin.SendLeadImageex()";
    static constexpr const char* kSaveLostSource = ".SaveLostImageEx()";
    static constexpr const char* kSaveLostIn = "In: clsPlugin.privSaveLostImageEx()";
    static ImageStore<ImageExRecord>& store(clsPlugin& p) { return p.extendedStore_; }
};

template <>
struct HandOver<ImageRecord> {
    static constexpr const char* kWhere = "clsPlugin.SendLeadImage";
    static constexpr const char* kNotInitialised = " clsPlugin.SendLeadImage()";
    static constexpr const char* kNoBitmap = "clsPugin.SendLeadImage()";
    static constexpr const char* kMismatch = " clsPugin.SendLeadImage()";
    static constexpr const char* kNotPrepared = " clsPlugin.SendLeadImage()";
    static constexpr const char* kNotAccepted = " clsPlugin.SendLeadImage()";
    static constexpr const char* kSaveLostSource = ".SaveLostImage()";
    static constexpr const char* kSaveLostIn = "In: clsPlugin.privSaveLostImage()";
    static ImageStore<ImageRecord>& store(clsPlugin& p) { return p.basicStore_; }
};

namespace {

// The screen's hourglass for the length of a scope.
class Hourglass {
  public:
    explicit Hourglass(platform::Process& process) : process_(process) {
        process_.setMousePointer(platform::pointer::kHourglass);
    }
    ~Hourglass() { process_.setMousePointer(platform::pointer::kDefault); }
    Hourglass(const Hourglass&) = delete;
    Hourglass& operator=(const Hourglass&) = delete;

  private:
    platform::Process& process_;
};

template <class Rec>
void sendMessage(XrayIfc& xray, Hwnd host, Hwnd self, Rec& record, HGlobal block,
                 std::uint32_t size, std::string_view text1, std::string_view text2,
                 platform::LResult& answer) {
    if constexpr (std::is_same_v<Rec, ImageExRecord>)
        answer = xray.SendImageCapturedEx(host, self, record, {}, block, size, text1, text2);
    else
        answer = xray.SendImageCaptured(host, self, record, {}, block, size);
}

}  // namespace

// Shared by both variants; `Text1` and `Text2` are ignored by the basic one.
template <class Rec>
static bool handOver(clsPlugin& p, platform::Platform& platform,
                     const std::function<std::string(int)>& langText, Rec& record,
                     const imaging::ImageControl& control, bool AsFile, std::string_view Text1,
                     std::string_view Text2) {
    using H = HandOver<Rec>;
    const std::string title = platform.process().version().title;
    auto text = [&](int n) { return langText ? langText(n) : std::string(); };
    auto refuse = [&](int n, const char* suffix, int style) {
        p.ShowDialog(text(n) + kCrLf + text(kTextNotTransferred) + suffix, title, style, true);
        return false;
    };
    Hourglass hourglass(platform.process());
    try {
        if (!p.Initialized()) return refuse(kTextNotInitialised, H::kNotInitialised, 1);
        if (AsFile)
            throw RuntimeError(-1, " Invalid value: AsFile=TRUE (unsupported)",
                               std::string(H::kWhere) + "()");
        if (control.bitmap() == 0) return refuse(kTextNoBitmap, H::kNoBitmap, 1);
        if (record.get(Rec::widthPixels) != static_cast<std::int32_t>(control.bitmapWidth()) ||
            record.get(Rec::heightPixels) != static_cast<std::int32_t>(control.bitmapHeight()))
            return refuse(kTextSizeMismatch, H::kMismatch, 0);
        platform::GlobalBlock block;
        std::uint32_t size = 0;
        if (!SaveLeadToMemory(record, block, size, control))
            return refuse(kTextNotPrepared, H::kNotPrepared, 0);
        record.set(Rec::size, static_cast<std::int32_t>(Rec::kSize));
        record.set(Rec::dataFormat, kFormatTiffInMemory);
        bool sent = false;
        if constexpr (std::is_same_v<Rec, ImageExRecord>)
            sent = p.SendImageEx(record, {}, std::move(block), size, Text1, Text2);
        else
            sent = p.SendImage(record, {}, std::move(block), size);
        if (!sent) return refuse(kTextNotAccepted, H::kNotAccepted, 0);
        return true;
    } catch (...) {
        p.ShowDialog(formatError(currentError("clsPlugin"), H::kWhere), title, 0, true);
    }
    return false;
}

bool clsPlugin::SendLeadImageEx(ImageExRecord& record, const imaging::ImageControl& control,
                                bool AsFile, std::string_view Text1, std::string_view Text2) {
    return handOver(*this, platform_, langText_, record, control, AsFile, Text1, Text2);
}

bool clsPlugin::SendLeadImage(ImageRecord& record, const imaging::ImageControl& control,
                              bool AsFile) {
    return handOver(*this, platform_, langText_, record, control, AsFile, {}, {});
}

// Sending: the id, the store (with KeepImages), the message, and the block freed at once when
// images are not kept. A stored image whose send failed stays stored.
template <class Rec>
static bool sendStored(clsPlugin& p, XrayIfc& xray, std::int32_t& counter, Rec& record,
                       std::string_view FileName, platform::GlobalBlock block, std::uint32_t size,
                       std::string_view Text1, std::string_view Text2) {
    if (!p.Initialized()) return false;
    const HGlobal handle = block.get();
    if (!p.KeepImages()) {
        record.set(Rec::imageId, ++counter);
    } else {
        if (!FileName.empty()) throw RuntimeError(65535, kNoFileTransfer, ".SaveNewImage()");
        auto& store = HandOver<Rec>::store(p);
        if (store.slots.size() >= ImageStore<Rec>::kCapacity) {
            // The id is used up even so: ids never repeat within a process.
            ++counter;
            throw RuntimeError(65535, "Image storage (memory) array full.",
                               "mdlImageStorage.doNewImage");
        }
        record.set(Rec::imageId, ++counter);
        store.slots.push_back({record, std::string(), std::move(block), size});
    }
    platform::LResult answer = 0;
    sendMessage(xray, p.KV2hWnd(), p.HookedHWnd(), record, handle, size, Text1, Text2, answer);
    return answer != 0;
}

bool clsPlugin::SendImageEx(ImageExRecord& record, std::string_view FileName,
                            platform::GlobalBlock hMem, std::uint32_t size, std::string_view Text1,
                            std::string_view Text2) {
    return sendStored(*this, xray_, imageCounter_, record, FileName, std::move(hMem), size, Text1,
                      Text2);
}

bool clsPlugin::SendImage(ImageRecord& record, std::string_view FileName,
                          platform::GlobalBlock hMem, std::uint32_t size) {
    return sendStored(*this, xray_, imageCounter_, record, FileName, std::move(hMem), size, {}, {});
}

template <class Rec>
static bool takeOut(ImageStore<Rec>& store, std::int32_t id) {
    for (auto it = store.slots.begin(); it != store.slots.end(); ++it) {
        if (it->record.get(Rec::imageId) != id) continue;
        store.slots.erase(it);  // the slot's block is freed with it
        return true;
    }
    return false;
}

bool clsPlugin::DeleteNewImage(std::int32_t ImageID) {
    if (basicStore_.slots.empty() && extendedStore_.slots.empty()) return false;
    if (takeOut(basicStore_, ImageID) || takeOut(extendedStore_, ImageID)) return true;
    ShowDialog("Error: No image with ImageID:" + std::to_string(ImageID) + " found." + kCrLf +
                   "In: clsPlugin.DeleteNewImage()",
               platform_.process().version().title, 0, true);
    return false;
}

// A new file "IMG" + five digits + extension in the temporary folder, never one that exists.
static std::unique_ptr<platform::File> createNewFile(clsPlugin& p, platform::Platform& platform,
                                                     std::string_view extension) {
    platform::Files& files = platform.files();
    std::string folder = files.tempFolder();
    if (!folder.empty() && folder.back() != '\\') folder += '\\';
    for (int counter = 0; counter <= 99999; ++counter) {
        char name[16];
        std::snprintf(name, sizeof name, "IMG%05d", counter);
        auto file =
            files.open(folder + name + std::string(extension), platform::OpenMode::CreateNew);
        if (file) return file;
        const platform::ErrorCode code = files.lastError();
        if (code == platform::err::kFileExists || code == platform::err::kAlreadyExists) continue;
        p.ShowDialog(std::string("Error: (win32) ") + std::to_string(code) + kCrLf +
                         platform.process().errorText(code) + kCrLf + kCrLf +
                         "(Source:" + platform.process().version().title + ")" + kCrLf +
                         "In: clsPlugin.privCreateNewFile()",
                     std::nullopt, std::nullopt, std::nullopt);
        return nullptr;
    }
    throw RuntimeError(-1, "Too many temporary files, please delete the IMG*.* files in:" + folder,
                       ".GetTempImgName()");
}

template <class Rec>
static void saveLost(clsPlugin& p, platform::Platform& platform) {
    auto& store = HandOver<Rec>::store(p);
    if (store.slots.empty()) return;
    platform::Process& process = platform.process();
    const std::string title = process.version().title;
    const bool save =
        process.messageBox(0,
                           std::string("Error: Not all images are acknowledged by "
                                       "ImageStored") +
                               kCrLf + "Save images to disk??",
                           title, platform::mb::kYesNo | platform::mb::kIconQuestion) ==
        platform::mb::kIdYes;
    while (!store.slots.empty()) {
        auto& slot = store.slots.front();
        bool settled = !save;
        if (save) {
            try {
                if (!slot.fileName.empty())
                    throw RuntimeError(65535, kNoFileTransfer, HandOver<Rec>::kSaveLostSource);
                if (slot.record.get(Rec::dataFormat) != kFormatTiffInMemory)
                    throw RuntimeError(65535, "Unsupported MEMORY-format.",
                                       HandOver<Rec>::kSaveLostSource);
                if (auto file = createNewFile(p, platform, ".tif")) {
                    platform::GlobalLock lock(platform.memory(), slot.block.get());
                    const bool written =
                        lock && file->write(std::span<const std::byte>(lock.data(), slot.size));
                    settled = written;
                    if (!written)
                        process.messageBox(0,
                                           std::string("Error: Could not save image file. (write "
                                                       "error)") +
                                               kCrLf + HandOver<Rec>::kSaveLostIn,
                                           title, platform::mb::kIconExclamation);
                }
            } catch (const RuntimeError& e) {
                // A slot that cannot be saved is still freed: the rest go on.
                p.Trace(formatError(e, "clsPlugin.SaveLostImages"));
            }
        }
        const std::int32_t id = slot.record.get(Rec::imageId);
        if (!p.DeleteNewImage(id)) store.slots.erase(store.slots.begin());
        p.lostImageSettled(id, settled);
    }
}

void clsPlugin::SaveLostImages() {
    saveLost<ImageRecord>(*this, platform_);
    saveLost<ImageExRecord>(*this, platform_);
}

}  // namespace quilo::host
