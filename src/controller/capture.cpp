// The capture road of the main form: activation, the polling step, the fetch of each finished
// plate, its processing in an image control and its hand-over to the host.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "controller/frm_main.h"
#include "controller/plugin_process.h"
#include "core/error.h"
#include "core/text.h"
#include "core/value_text.h"
#include "imaging/operations.h"
#include "imaging/tiff.h"
#include "ui/input_box.h"
#include "ui/text_ids.h"

namespace quilo::controller {

namespace {

using scanner::Long;

// What the settings say for one image type. Unknown types give zeros everywhere.
struct TypeSettings {
    std::int32_t mappingType = 0, limitLow = 0, limitHigh = 0;
    std::int32_t nrLevel = 0, cutoff = 0, stretch = 0, low = 0, high = 0, lowAbs = 0, highAbs = 0;
};

TypeSettings typeSettings(const settings::PluginSettings& s, std::int32_t imageType) {
    switch (imageType) {
        case scanner::kIntraoral:
            return {s.IntraMappingType, s.IntraLimitLow,    s.IntraLimitHigh, s.IntraLeadNRLevel,
                    s.IntraLeadCutoff,  s.IntraLeadStretch, s.IntraLeadLow,   s.IntraLeadHigh,
                    s.IntraLeadLowAbs,  s.IntraLeadHighAbs};
        case scanner::kCephalometric:
            return {s.CephMappingType, s.CephLimitLow,    s.CephLimitHigh, s.CephLeadNRLevel,
                    s.CephLeadCutoff,  s.CephLeadStretch, s.CephLeadLow,   s.CephLeadHigh,
                    s.CephLeadLowAbs,  s.CephLeadHighAbs};
        case scanner::kPanoramic:
            return {s.PanoMappingType, s.PanoLimitLow,    s.PanoLimitHigh, s.PanoLeadNRLevel,
                    s.PanoLeadCutoff,  s.PanoLeadStretch, s.PanoLeadLow,   s.PanoLeadHigh,
                    s.PanoLeadLowAbs,  s.PanoLeadHighAbs};
        default:
            return {};
    }
}

// "Raw.TIF", the plate as loaded. When the spool is writing these very bytes for the plate, its
// file gets this name too: the plate goes to disk once. Otherwise written beside the processing,
// which changes the control's copy meanwhile, straight from the scanner's block when the samples
// lie there as loaded; else at once from the loaded image.
class RawTif {
  public:
    // entry: the plate's entry in the spool, 0 for none.
    RawTif(platform::Platform& platform, PlateSpool& spool, int entry, std::string path,
           platform::HGlobal block, std::size_t size, const imaging::Image& loaded)
        : files_(platform.files()),
          spool_(spool),
          path_(std::move(path)),
          lock_(platform.memory(), block) {
        if (lock_)
            pixels_ =
                imaging::tiffPixelRun(lock_.bytes().first(std::min(size, lock_.bytes().size())));
        if (pixels_.empty() || pixels_.size() != loaded.byteSize()) {
            unshare();
            saved_ = imaging::writeTiffFile(files_, path_, loaded);
            return;
        }
        head_ = imaging::tiffHead(loaded);
        if (spool.writes(entry, head_, pixels_))
            linked_ = entry;
        else
            write();
    }
    RawTif(const RawTif&) = delete;
    RawTif& operator=(const RawTif&) = delete;
    ~RawTif() { (void)saved(); }

    // Waits for the file: false when it could not be written (nothing of it is left then).
    bool saved() {
        if (linked_ != 0) {
            saved_ = spool_.linkPlate(std::exchange(linked_, 0), path_);
            if (!saved_) write();
        }
        if (pending_) {
            saved_ = pending_->done();
            pending_.reset();
            if (!saved_) files_.removeFile(path_);
        }
        return saved_;
    }

  private:
    // A file of this name that is also a plate in the spool (or a plate recovered from it) is
    // not written over: it gives up the name and a new file is made.
    void unshare() {
        if (files_.linkCount(path_) > 1) files_.removeFile(path_);
    }
    void write() {
        unshare();
        pending_ = files_.writeInBackground(path_, head_, pixels_);
    }

    platform::Files& files_;
    PlateSpool& spool_;
    std::string path_;
    platform::GlobalLock lock_;  // the scanner's block, read by the write
    std::span<const std::byte> pixels_;
    std::vector<std::byte> head_;
    std::unique_ptr<platform::PendingWrite> pending_;
    int linked_ = 0;  // the spool entry whose file is to get this name
    bool saved_ = false;
};

// Days since 1 March of year 0 in the proleptic Gregorian calendar.
long long civilDays(int y, int m, int d) {
    y -= m <= 2 ? 1 : 0;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long doy = (153LL * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe;
}

}  // namespace

double dayCount(const platform::LocalTime& t) {
    const double days =
        static_cast<double>(civilDays(t.year, t.month, t.day) - civilDays(1899, 12, 30));
    const double ms = ((t.hour * 60.0 + t.minute) * 60.0 + t.second) * 1000.0 + t.millisecond;
    return days + ms / 86400000.0;
}

// --- activation and stop ---------------------------------------------------------------------

void frmMain::ActivateCapture(std::int32_t& /*cmdNo*/, std::int32_t& SensorNo,
                              std::int32_t& newStatusCode) {
    scanner::SensorAPI& scanner = process_.sensors();
    LogMsg("Activate Capture, sensorno: " + std::to_string(SensorNo));
    ActiveSensorNo = SensorNo;
    const auto count = static_cast<std::int32_t>(scanner.Sensors.count());
    if (SensorNo >= 1 && SensorNo <= count) {
        const scanner::cSensor* s = scanner.Sensors.item(static_cast<std::size_t>(SensorNo));
        scanner.CurrentParamSet() = s->ParamName;
        scanner.CurrentParamSetNr() = s->OrdinalNo;
        scanner.CurrentImageType() = s->ImageType;
    }
    LogMsg("Selected parameter: " + std::to_string(scanner.CurrentParamSetNr()) + " " +
           scanner.CurrentParamSet());
    if (SensorNo <= count) {
        // A failed activation keeps the status it reported (16).
        if (!doActivateCapture()) newStatusCode = host::clsPlugin::DontChangeStatusCode();
    } else {
        GetImageTest();
    }
}

bool frmMain::doActivateCapture() {
    host::clsPlugin* plugin = Plugin();
    if (plugin == nullptr) return false;
    scanner::SensorAPI& scanner = process_.sensors();
    if (!plugin->Initialized()) {
        ShowDialog("Fatal error: Plugin not initialized.\r\nIn: doActivateCapture.", "", 0, true);
        return false;
    }
    // Each step's error is shown and the next one runs, as the steps do not depend on each
    // other's success beyond the flags they read.
    auto guarded = [&](const auto& step) {
        try {
            step();
        } catch (const RuntimeError& e) {
            ShowDialog(
                "DoActivateCapture error: " + std::to_string(e.number()) + " " + e.description(),
                "Error:");
        } catch (const std::exception& e) {
            ShowDialog(std::string("DoActivateCapture error: 5 ") + e.what(), "Error:");
        }
    };
    guarded([&] {
        plugin->ExStatusCode(host::status::kBusy, "Contacting hardware...");
        process_.forms().doEvents();
    });
    guarded([&] { doStopCapture(); });
    guarded([&] {
        if (!scanner.HardwareInitialized) scanner.InitializeHardware();
    });
    guarded([&] {
        if (!scanner.HardwareInitialized || scanner.ScannerActivated) return;
        scanner::ScannerLibrary& library = scanner.library();
        (void)library.Set_ImageExtraHeader(0, 0);
        StopRequested = false;
        const Long r = library.Aktivate_Scanner();
        scanner.ScannerActivated = r == 0 || r == -6;
        std::string message;
        switch (r) {
            case 0:
            case -6:
                break;
            case -4:
                scanner.HardwareInitialized = false;
                message = "Unable to activate scanner.\r\nData file was not open for access.\r\n" +
                          scanner.CurrentParamSet();
                break;
            case -1009:
                message = "Optical switch is occupied by (busy with) activity / plate is there";
                break;
            case -1010:
                message = "Warning: Temperature in housing is too high. Scanner is not activated";
                break;
            case -10000:
                message =
                    "Warning: Too much ambient light during operation. Scanner is not activated";
                break;
            default:
                message = "Unknown error, scanner not activated";
                break;
        }
        if (!message.empty()) ShowDialog(message, "", 1, false);
    });
    guarded([&] { process_.forms().doEvents(); });
    guarded([&] {
        if (scanner.ScannerActivated) {
            StopRequested = false;
            plugin->ExStatusCode(host::status::kActive, "Scanner activated");
            lblStatus.setCaption("Scanner activated");
            ActiveTimer.setInterval(5);
            ActiveTimer.setEnabled(true);
        } else {
            plugin->ExStatusCode(host::status::kIdle, "Scanner not activated");
            lblStatus.setCaption("Scanner not activated");
        }
    });
    return scanner.ScannerActivated;
}

void frmMain::doStopCapture() {
    StopRequested = true;
    process_.sensors().CloseHardware();
    process_.blockCache().release();  // no plate follows
    if (Plugin() != nullptr) Plugin()->StatusCode(host::status::kIdle);
}

// --- polling -----------------------------------------------------------------------------------

void frmMain::ActiveTimer_Timer() {
    scanner::SensorAPI& scanner = process_.sensors();
    if (InTimer || !scanner.HardwareInitialized || StopRequested) return;
    InTimer = true;
    // Cleared on every way out, an error in the fetch included, so polling never stalls.
    struct Leave {
        bool& flag;
        ~Leave() { flag = false; }
    } leave{InTimer};
    scanner::ScannerLibrary& library = scanner.library();
    host::clsPlugin* plugin = Plugin();
    const Long status = library.Get_Status();
    ScannerStatus.Status = status;
    if (status < 0) {
        if (status == -200) {
            ActiveTimer.setEnabled(false);
            if (plugin != nullptr)
                ShowDialog("Checksum error during data transmission. Scanner deactivated", "", 1,
                           false);
            ScannerStatus.LastResult = library.Deaktivate_Scanner();
            scanner.ScannerActivated = false;
            if (plugin != nullptr) plugin->ExStatusCode(host::status::kIdle, "Scanner not active");
        } else {
            LogMsg("Error: State = " + std::to_string(status));
        }
        return;
    }
    const Long transport = status & scanner::status::kTransport;
    if (transport != ScanInProgress) {
        LogMsg(std::string("Transport = ") + (transport != 0 ? "ON" : "OFF"));
        if (transport != 0) leadIMG.clear();
    }
    ScanInProgress = transport;
    if ((status & scanner::status::kImageReadyMask) != 0) {
        ActiveTimer.setEnabled(false);
        if (plugin != nullptr) plugin->ExStatusCode(host::status::kBusy, "Grabbing frame");
        GetImage();
        if (Plugin() != nullptr) Plugin()->ExStatusCode(host::status::kActive, "Scanner active");
        // A stop while the image was fetched has closed the scanner: polling stays off.
        if (!StopRequested) ActiveTimer.setEnabled(true);
    } else {
        previewPicture();
    }
    previewSlots();
}

// --- acquisition -------------------------------------------------------------------------------

void frmMain::GetImage() {
    scanner::SensorAPI& scanner = process_.sensors();
    scanner::ScannerLibrary& library = scanner.library();
    const settings::PluginSettings& s = process_.settings().settings();
    auto showError = [this](Long r) {
        if (Plugin() != nullptr) ShowDialog(scanner::ScannerErrorText(r));
    };
    LogMsg("Started GetImage");
    std::string buffer(255, ' ');
    if (library.Get_ImageName(buffer) == 0) return;
    const std::string name = scanner::untilNul(buffer);
    scanner::ImageInfoRecord record{};
    if (const Long r = library.Get_ImageInfo(name, record); r != 0) {
        showError(r);
        library.Delete_Image(name);
        return;
    }
    const scanner::ImageInfo info = scanner::parseImageInfo(record);
    scanner.PixelPitchX = static_cast<float>(info.pitchXNm) / 1000.0f;
    scanner.PixelPitchY = static_cast<float>(info.pitchYNm) / 1000.0f;
    LogMsg("Will transfer image " + std::to_string(info.width) + " x " +
           std::to_string(info.height) + " " + std::to_string(info.bitsPerPixel));
    const TypeSettings t = typeSettings(s, scanner.CurrentImageType());
    const Long optimise = s.ImageEnhancement == 2 ? 1 : 0;
    LogMsg("Getting raw image");
    platform::HGlobal raw = 0;
    Long bytes = 0;
    const Long r = library.GetRawImage(name, info.width, info.height, raw, bytes, optimise,
                                       t.mappingType, t.limitLow, t.limitHigh);
    // A block the library hands over is ours whatever it answers (a failed read may still
    // return one): freed on every way out.
    platform::GlobalBlock owned(platform().memory(), raw);
    if (r == 0) {
        LogMsg("Got raw image OK");
        const std::size_t size =
            std::min(static_cast<std::size_t>(std::max<Long>(bytes, 0)), owned.size());
        int plate = 0;
        try {
            plate = grabPlate(owned.get(), size, name);
        } catch (const std::exception& e) {
            // The plate stays in the scanner (it is not deleted), so it can be fetched again:
            // an image that could not be processed is not lost.
            const std::string text =
                "Error: " + std::string(e.what()) + "\r\nIn: frmMain.GetImage()";
            LogMsg(text);
            process_.trace().TraceLine(text);
            if (Plugin() != nullptr) ShowDialog(text, "", 1, false);
            return;
        }
        owned.reset();
        library.Delete_Image(name);
        process_.spool().markDeleted(plate);
    } else {
        showError(r);
    }
    LogMsg("Finished GetImage");
}

int frmMain::grabPlate(platform::HGlobal block, std::size_t size, const std::string& name) {
    PlateSpool& spool = process_.spool();
    // On disk before the scanner forgets it, written while the plate is processed (the block
    // stays locked until then); the entry goes once the host has the image.
    platform::GlobalLock locked(platform().memory(), block);
    spool.superseded(name);
    const int plate = keepPlate(locked, size, name);
    plate_ = plate;
    bool isTest = false;
    try {
        DoGrabFrame(block, size, isTest);
    } catch (...) {
        spool.release(std::exchange(plate_, 0));
        throw;
    }
    plate_ = 0;
    spool.finish(plate);
    spoolFailure();
    return plate;
}

bool frmMain::perioWanted(bool isTest) {
    scanner::SensorAPI& scanner = process_.sensors();
    const auto count = static_cast<std::int32_t>(scanner.Sensors.count());
    if (isTest || ActiveSensorNo > count) return true;
    const scanner::cSensor* s =
        scanner.Sensors.find(scanner::sensorKey(scanner.CurrentParamSetNr()));
    return s != nullptr && s->Perio;
}

std::string frmMain::imageText(std::int32_t ordinalNo, bool overSets) {
    if (overSets) return "Test image.";
    const scanner::cSensor* s = process_.sensors().Sensors.find(scanner::sensorKey(ordinalNo));
    return (s != nullptr ? s->ParamName : std::string()) + " (#" + std::to_string(ordinalNo) + ")";
}

void frmMain::DoGrabFrame(platform::HGlobal block, std::size_t size, bool& IsTest) {
    scanner::SensorAPI& scanner = process_.sensors();
    settings::SettingsStore& store = process_.settings();
    const settings::PluginSettings& s = store.settings();
    const std::int32_t type = scanner.CurrentImageType();
    ui::LeadControl& target = grabTarget();
    imaging::ImageControl& control = target.control();
    const bool perio = perioWanted(IsTest);
    // The enhancement component reads the plate from the scanner's block itself when nothing
    // comes before it but the inversion: no working copy of the raw plate is made.
    platform::GlobalLock rawLock(platform().memory(), block);
    // A block that cannot be locked fails the plate as its load would.
    if (block != 0 && !rawLock) throw imaging::TiffError("the memory block cannot be locked", 0);
    imaging::Image unloaded;
    if (s.ImageEnhancement == 3 && !perio && process_.enhancement() != nullptr && rawLock)
        unloaded =
            imaging::tiffPixelImage(rawLock.bytes().first(std::min(size, rawLock.bytes().size())));
    if (unloaded.empty()) control.loadMemory(block, size);
    const imaging::Image& loaded =
        unloaded.empty() ? *std::as_const(control).bitmapImage() : unloaded;
    // Counting the grey values costs a pass over the plate: only when the log shows it.
    if (process_.log().wanted())
        LogMsg("Loaded raw image, colors: " + std::to_string(imaging::colourCount(loaded)));
    const std::string rawPath = store.names().PluginDataFolder + "\\Raw.TIF";
    RawTif raw(platform(), process_.spool(), plate_, rawPath, block, size, loaded);
    bool rawTold = false;
    auto tellRaw = [&] {
        if (!std::exchange(rawTold, true) && !raw.saved()) LogMsg("Could not save " + rawPath);
    };
    // The alternate processing logs its steps: the file's outcome goes first, as it happened.
    if (s.ImageEnhancement == 1) tellRaw();
    try {
        const UnloadedPlate plate{unloaded, block, size};
        processPlate(control, type, perio, unloaded.empty() ? nullptr : &plate);
    } catch (...) {
        tellRaw();
        throw;
    }
    tellRaw();
    target.refresh();
    if (s.NoPreview == 0) {
        platform::Files& files = platform().files();
        std::string name = files.tempFileName(files.tempFolder(), "QUILO");
        std::erase(name, '\0');
        std::erase(name, ' ');
        // The resolution values carry the plate's pitch in nanometres, so that an image sent
        // later from the preview reports the same millimetres as one imported at once.
        addToPreview(name, static_cast<std::int32_t>(std::lround(scanner.PixelPitchX * 1000.0f)),
                     static_cast<std::int32_t>(std::lround(scanner.PixelPitchY * 1000.0f)));
        if (plate_ != 0) previewPlates_[name] = plate_;
        return;
    }
    const auto count = static_cast<std::int32_t>(scanner.Sensors.count());
    sendLeadImage(platform().clock().localTime(), IsTest ? count + 1 : ActiveSensorNo,
                  imageText(scanner.CurrentParamSetNr(), ActiveSensorNo > count), plate_);
}

void frmMain::processPlate(imaging::ImageControl& control, std::int32_t type, bool perio,
                           const UnloadedPlate* unloaded) {
    const settings::PluginSettings& s = process_.settings().settings();
    // What loading the plate and the steps before the enhancement would have left in the control.
    auto load = [&] {
        control.loadMemory(unloaded->block, unloaded->size);
        if (s.Invert) control.invert();
    };
    const TypeSettings t = typeSettings(s, type);
    const bool noiseReduction = t.nrLevel != 0;
    switch (s.ImageEnhancement) {
        case 1:
            if (s.Invert) control.invert();
            if (type == scanner::kIntraoral) {
                if (perio) control.perioTransform();
                if (s.IntraLeadStretch != 0) StretchImage(control, type);
                if (noiseReduction) {
                    control.despeckle();
                    control.median(s.IntraLeadNRLevel + 1);
                }
            } else if (type == scanner::kPanoramic || type == scanner::kCephalometric) {
                if (t.stretch != 0) StretchImage(control, type);
                if (noiseReduction) {
                    control.despeckle();
                    control.median(t.nrLevel + 1);
                }
                control.sharpen(type == scanner::kPanoramic ? 50 : 90);
                control.unsharpMask(1, 10, 12, 0);
            }
            break;
        case 3: {
            if (unloaded == nullptr) {
                if (perio) control.perioTransform();
                if (s.Invert) control.invert();
            }
            imaging::EnhancementComponent* enhancement = process_.enhancement();
            if (enhancement == nullptr) {
                if (unloaded != nullptr) load();
                break;
            }
            enhancement->setBitDepth(s.BitDepth);
            platform::HGlobal out = 0;
            // A plate still in the scanner's block is read from there, inverted on the way.
            if (unloaded != nullptr)
                (void)enhancement->enhance(type, &unloaded->image, out, s.SavePreview, s.Invert);
            else
                (void)enhancement->enhance(type, control.bitmapImage(), out, s.SavePreview);
            if (out == 0 && unloaded != nullptr) load();
            if (out != 0) {
                platform::GlobalBlock enhanced(platform().memory(), out);
                // The control the hand-over sends from keeps the block: it is the TIFF block
                // the host gets, so it is not written a second time.
                if (&control == &leadIMG.control())
                    control.loadMemory(std::move(enhanced));
                else
                    control.loadMemory(enhanced.get(), enhanced.size());
            }
            break;
        }
        default:
            if (type == scanner::kIntraoral && perio) control.perioTransform();
            if (s.Invert) control.invert();
            break;
    }
    if (s.BitDepth == 12) control.changeBitDepth(12);
    if (s.BitDepth == 8) control.changeBitDepth(8);
}

void frmMain::sendLeadImage(const platform::LocalTime& captured, std::int32_t sensorNo,
                            const std::string& text1, int plate) {
    const scanner::SensorAPI& scanner = process_.sensors();
    const imaging::ImageControl& control = leadIMG.control();
    host::ImageExRecord record;
    const auto width = static_cast<std::int32_t>(control.bitmapWidth());
    const auto height = static_cast<std::int32_t>(control.bitmapHeight());
    record.set(host::ImageExRecord::widthPixels, width);
    record.set(host::ImageExRecord::heightPixels, height);
    record.set(host::ImageExRecord::widthMm,
               width * static_cast<double>(scanner.PixelPitchX) / 1000.0);
    record.set(host::ImageExRecord::heightMm,
               height * static_cast<double>(scanner.PixelPitchY) / 1000.0);
    record.set(host::ImageExRecord::captureDate, dayCount(captured));
    record.set(host::ImageExRecord::sensorNo, sensorNo);
    LogMsg("Will send image: " + std::to_string(width) + " x " + std::to_string(height) + ", " +
           std::to_string(control.bitsPerPixel()));
    const bool sent = SendLeadImageEx(record, ActiveSensorNo, text1, "");
    settlePlate(plate, sent, record.get(host::ImageExRecord::imageId));
}

void frmMain::StretchImage(imaging::ImageControl& control, std::int32_t type) {
    imaging::KVImageHandler& kv = process_.imageHandler();
    const TypeSettings t = typeSettings(process_.settings().settings(), type);
    const bool logged = process_.log().wanted();  // counting colours is a pass over the plate
    if (logged)
        LogMsg("Will now perform StretchIntensity, colors: " +
               std::to_string(control.colourCount()));
    control.stretchIntensity();
    const bool percent = t.cutoff == 1;
    const long low = percent ? t.low : t.lowAbs;
    const long high = percent ? t.high : t.highAbs;
    if (logged)
        LogMsg("Will now perform histogram stretch, colors: " +
               std::to_string(control.colourCount()));
    {
        platform::GlobalBlock saved = control.saveMemory(imaging::kFormatTiff);
        if (!saved) throw std::bad_alloc();
        control.releaseBitmap();
        kv.KV_LoadMemImageTiff(saved.get(), static_cast<long>(saved.size()));
    }
    kv.KV_CorrectBitDepth();
    long max = 0, min = 0;
    kv.KV_GetMaxMinValues(max, min);
    const int r =
        percent ? kv.KV_StretchHistogramPercent(low, high) : kv.KV_StretchHistogram(low, high);
    if (r != 0)
        platform().process().messageBox(hwnd(), "Stretch error: " + std::to_string(r),
                                        platform().process().version().title, platform::mb::kOk);
    platform::HGlobal out = 0;
    long outSize = 0;
    kv.KV_GetMemImageTiff(out, outSize);
    platform::GlobalBlock result(platform().memory(), out);
    if (result) control.loadMemory(result.get(), static_cast<std::size_t>(outSize));
    kv.KV_CloseImage();
    if (logged) LogMsg("Histogram stretch done, colors: " + std::to_string(control.colourCount()));
}

void frmMain::GetImageTest() {
    platform::Files& files = platform().files();
    const std::string path = files.programFolder() + "\\Test.tif";
    if (!files.exists(path)) {
        platform().process().messageBox(
            hwnd(), path + " was not found. This file is required for this function.",
            platform().process().version().title, platform::mb::kOk);
        return;
    }
    imaging::ImageControl& control = leadIMG.control();
    control.loadFile(files, path);
    // The test image says its own pixel pitch: its millimetres then agree with its resolution.
    if (const imaging::Image* image = control.bitmapImage(); image->pitchX() > 0) {
        process_.sensors().PixelPitchX = static_cast<float>(image->pitchX());
        process_.sensors().PixelPitchY = static_cast<float>(image->pitchY());
    }
    control.changeBitDepth(control.bitsPerPixel());
    platform::GlobalBlock block = control.saveMemory(imaging::kFormatTiff);
    control.releaseBitmap();
    if (!block) throw std::bad_alloc();
    LogMsg("Got raw image OK (Test)");
    bool isTest = true;
    DoGrabFrame(block.get(), block.size(), isTest);
}

void frmMain::SendSelected(const std::string& FileName, std::int32_t OrdinalNo) {
    scanner::SensorAPI& scanner = process_.sensors();
    platform::Files& files = platform().files();
    imaging::ImageControl& control = leadIMG.control();
    const auto plate = previewPlates_.find(FileName);
    const int entry = plate != previewPlates_.end() ? plate->second : 0;
    try {
        control.loadFile(files, FileName);
    } catch (const std::exception& e) {
        // The preview's file could not be written or read back: the plate is sent from its
        // copy in the spool, processed as it was for the preview.
        LogMsg("Preview image " + FileName + " unreadable (" + e.what() + "), sent from the spool");
        if (!loadFromSpool(control, entry)) {
            doShowDialog(replaceAll(process_.language().LangText(ui::txt::kPreviewImageUnreadable),
                                    "NNN", std::to_string(OrdinalNo)) +
                             "\r\n" + e.what(),
                         "", 0);
            // Kept in the spool, not given up with the images the user left out: the next
            // start saves it.
            if (plate != previewPlates_.end()) previewPlates_.erase(plate);
            return;
        }
    }
    leadIMG.refresh();
    const auto count = static_cast<std::int32_t>(scanner.Sensors.count());
    const auto modified = files.lastModified(FileName);
    if (plate != previewPlates_.end()) previewPlates_.erase(plate);
    sendLeadImage(modified ? *modified : platform().clock().localTime(), OrdinalNo,
                  imageText(OrdinalNo, OrdinalNo > count), entry);
}

bool frmMain::loadFromSpool(imaging::ImageControl& control, int entry) {
    if (entry == 0) return false;
    for (const PlateSpool::Entry& e : process_.spool().entries()) {
        if (e.number != entry) continue;
        try {
            control.loadFile(platform().files(), e.plateFile);
            const scanner::cSensor* set =
                process_.sensors().Sensors.find(scanner::sensorKey(e.record.paramSet));
            processPlate(control, e.record.imageType, set != nullptr && set->Perio);
            return true;
        } catch (const std::exception& ex) {
            LogMsg("Reading " + e.plateFile + ": " + ex.what());
            return false;
        }
    }
    return false;
}

bool frmMain::SendLeadImageEx(host::ImageExRecord& record, std::int32_t /*SensorNo*/,
                              std::string_view Text1, std::string_view Text2) {
    host::clsPlugin* plugin = Plugin();
    if (plugin == nullptr) return false;
    const imaging::ImageControl& control = leadIMG.control();
    const std::string title = platform().process().version().title;
    if (control.bitmap() == 0) {
        ShowDialog("Fatal error: No bitmap in imgLEAD.\r\nIn: SendLeadImageEx()", title);
        return false;
    }
    if (record.get(host::ImageExRecord::widthPixels) !=
            static_cast<std::int32_t>(control.bitmapWidth()) ||
        record.get(host::ImageExRecord::heightPixels) !=
            static_cast<std::int32_t>(control.bitmapHeight())) {
        ShowDialog(
            "Error: Height and/or Width mismatch didn't send image.\r\nIn: SendLeadImageEx()",
            title);
        return false;
    }
    platform::Process& process = platform().process();
    process.setMousePointer(platform::pointer::kHourglass);
    const bool sent = plugin->SendLeadImageEx(record, control, false, Text1, Text2);
    process.setMousePointer(platform::pointer::kDefault);
    return sent;
}

// --- the manual roads --------------------------------------------------------------------------

void frmMain::Command1_Click() {
    scanner::SensorAPI& scanner = process_.sensors();
    scanner.InitializeHardware();
    GetImageTest();
    scanner.HardwareInitialized = false;
}

void frmMain::cmdScan_Click() {
    scanner::SensorAPI& scanner = process_.sensors();
    std::string list;
    for (const auto& entry : scanner.Sensors)
        list += std::to_string(entry.sensor.OrdinalNo) + " " + entry.sensor.ParamName + "\r\n";
    const std::string answer = ui::inputBox(process_.forms(), list + "\r\nChoose a parameter no:",
                                            platform().process().version().title, this);
    const double chosen = leadingNumber(answer);
    for (const auto& entry : scanner.Sensors) {
        if (entry.sensor.OrdinalNo != chosen) continue;
        std::int32_t cmdNo = 0;
        std::int32_t sensorNo = entry.sensor.OrdinalNo;
        std::int32_t newStatusCode = host::clsPlugin::DontChangeStatusCode();
        ActivateCapture(cmdNo, sensorNo, newStatusCode);
        return;
    }
    platform().process().messageBox(hwnd(), "Invalid parameter no. selected.",
                                    platform().process().version().title, platform::mb::kOk);
}

// --- the plate spool -----------------------------------------------------------------------------

int frmMain::keepPlate(const platform::GlobalLock& raw, std::size_t size, const std::string& name) {
    scanner::SensorAPI& scanner = process_.sensors();
    SpoolRecord record;
    record.captured = platform().clock().localTime();
    record.paramSet = scanner.CurrentParamSetNr();
    record.sensorNo = ActiveSensorNo;
    record.imageType = scanner.CurrentImageType();
    record.pitchXUm = scanner.PixelPitchX;
    record.pitchYUm = scanner.PixelPitchY;
    record.scannerImage = name;
    if (!raw) return 0;
    // Where the block's samples lie as one run, the plate is kept as the TIFF that Raw.TIF is
    // made of, so that both names can share one file.
    const std::span<std::byte> block = raw.bytes().first(std::min(size, raw.bytes().size()));
    const imaging::Image image = imaging::tiffPixelImage(block);
    const std::span<const std::byte> pixels = imaging::tiffPixelRun(block);
    if (!image.empty() && pixels.size() == image.byteSize())
        return process_.spool().keep(imaging::tiffHead(image), pixels, record);
    return process_.spool().keep(block, record);
}

void frmMain::spoolFailure() {
    PlateSpool& spool = process_.spool();
    if (!spool.writeFailed()) return;
    LogMsg("Could not keep the plate in " + spool.folder());
    if (!std::exchange(spoolFailureShown_, true))
        doShowDialog(replaceAll(process_.language().LangText(ui::txt::kSpoolWriteFailed), "FFF",
                                spool.folder()),
                     "", 0);
}

void frmMain::settlePlate(int plate, bool sent, std::int32_t imageId) {
    // Not taken by the host: the plate stays in the spool, recovered at the next start.
    if (plate == 0 || !sent) return;
    if (Plugin() != nullptr && Plugin()->KeepImages())
        process_.spool().setImageId(plate, imageId);
    else
        process_.spool().release(plate);
}

void frmMain::ImageStored(std::int32_t& /*cmdNo*/, std::int32_t ImageID) {
    process_.spool().releaseImage(ImageID);
}

void frmMain::recoverPlates() {
    PlateSpool& spool = process_.spool();
    const std::vector<PlateSpool::Entry> entries = spool.takeForRecovery();
    if (entries.empty()) return;
    platform::Files& files = platform().files();
    const std::string folder = process_.settings().names().PluginDataFolder + "\\Recovered";
    files.createDirectories(folder);
    int saved = 0;
    for (const PlateSpool::Entry& e : entries) {
        const platform::LocalTime& t = e.record.captured;
        char stamp[64];
        std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d.%02d.%02d plate %05d", t.year,
                      t.month, t.day, t.hour, t.minute, t.second, e.number);
        bool kept = false;
        try {
            // Processed as the settings choose, as it would have reached the host.
            imaging::ImageControl control(platform().memory());
            control.loadFile(files, e.plateFile);
            const scanner::cSensor* set =
                process_.sensors().Sensors.find(scanner::sensorKey(e.record.paramSet));
            processPlate(control, e.record.imageType, set != nullptr && set->Perio);
            kept = control.saveFile(files, folder + "\\" + stamp + ".tif");
        } catch (const std::exception& ex) {
            LogMsg("Recovering " + e.plateFile + ": " + ex.what());
        }
        // A plate that cannot be processed is kept as the scanner gave it.
        if (!kept) kept = files.moveFile(e.plateFile, folder + "\\" + stamp + " raw.tif");
        if (!kept) continue;  // stays in the spool for the next start
        spool.release(e.number);
        ++saved;
    }
    if (saved == 0) return;
    std::string text = process_.language().LangText(ui::txt::kSpoolRecovered);
    // Said once the host has connected (InitializePlugin), on its monitor: not while loading.
    recoveredMessage_ = replaceAll(replaceAll(text, "NNN", std::to_string(saved)), "FFF", folder);
}

}  // namespace quilo::controller
