// The simulated image-plate scanner behind the library's exports. One object is one device:
// the simulated world makes one per world and binds the exports to it; the Windows DLL keeps
// one per process. Its clock is the environment's tick count, so the state is worked out from
// the time of each call: plates fed, transported, read line by line (preview pictures), and
// finally ready as images until they are fetched and deleted.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "orvane-sim/device_environment.h"
#include "orvane-sim/sim_config.h"
#include "orvane-sim/tiff_lite.h"

namespace quilo::orvanesim {

using Long = std::int32_t;

// Results the simulated library gives.
namespace result {
inline constexpr Long kOk = 0;
inline constexpr Long kNotFound = -1;
inline constexpr Long kNoSuchParameter = -2;
inline constexpr Long kNotOpen = -4;
inline constexpr Long kBadCtrlCode = -5;
inline constexpr Long kAlreadyActive = -6;
inline constexpr Long kAlreadyOpen = -7;
inline constexpr Long kOutOfMemory = -90;
inline constexpr Long kNotInitialized = -99;
inline constexpr Long kOutOfRange = -102;
inline constexpr Long kChecksum = -200;
inline constexpr Long kUnreportedImages = -10001;
}  // namespace result

class Simulator {
  public:
    explicit Simulator(std::unique_ptr<DeviceEnvironment> env);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // --- the library's exports (buffers as the caller passes them) --------------------
    Long Init_Dll(const char* dllName);
    Long Get_IniFileName(char* buffer);
    Long Set_IniFileName(const char* path);
    Long Get_Paramcount();
    Long Get_Paramname(char* buffer, Long setNumber);
    Long Open_Scanner(Long setNumber);
    Long Set_Prescanmode(Long mode);
    Long Get_Serialnumber(char* buffer);
    Long Get_DriverVersion(char* buffer);
    Long Set_ImageExtraHeader(Long a, Long b);
    Long Aktivate_Scanner();
    Long Get_Status();
    Long GetPrescanImage(std::intptr_t* picture, Long* bytes);
    Long ClearPrescanImage();
    Long Get_ImageName(char* buffer);
    Long Get_ImageInfo(const char* name, unsigned char* record);
    Long GetRawImage(const char* name, Long width, Long height, std::intptr_t* image, Long* bytes,
                     Long optimise, Long mappingType, Long limitLow, Long limitHigh);
    Long Delete_Image(const char* name);
    Long Deaktivate_Scanner();
    Long Close_Scanner();

    // --- further exports of the library that the plug-in does not call ------------------
    // Line `line` (0-based) of the plate being read, once read: its pixel count, or -1.
    Long Get_Prescanline(Long line, std::uint16_t* buffer, Long capacity);
    // Control codes: 1 erase lamp (value 0 off, 1 on), 2 belt speed in percent (50..150).
    Long Ext_ScannerCTRL(Long code, Long value);
    // The two values last given to Set_ImageExtraHeader.
    Long Get_ImageExtraHeader(Long* a, Long* b);
    // A grey TIFF file from disk becomes a ready image ("DISK" + five digits).
    Long Read_DiskImage(const char* path);
    // The grey mapping of GetRawImage applied to a ready image in place.
    Long Opt_ImageGreyscale(const char* name, Long mappingType, Long limitLow, Long limitHigh);
    Long Invert_Image(const char* name);
    // The ready images one by one: 1 and the name, 0 after the last.
    Long Get_FirstOldImageName(char* buffer);
    Long Get_NextOldImageName(char* buffer);
    // Runs the transport belt for that many milliseconds (the transport bit shows it).
    Long Run_Beltdrive(Long milliseconds);

    // --- for tests and tools ------------------------------------------------------------
    // A plate pushed into the next slot now (it is read when the scanner is active).
    void feedPlate();
    bool isOpen() const { return open_; }
    bool isActive() const { return active_; }
    int openSet() const { return openSet_; }
    int platesFed() const { return platesFed_; }
    const SimConfig& config() const { return config_; }
    const std::string& iniPath() const { return iniPath_; }
    // How many times an export has been called since the library was loaded.
    int calls(std::string_view exportName) const;
    // The images GetRawImage handed over, by name, with how many times each was.
    const std::map<std::string, int, std::less<>>& handedOver() const { return handedOver_; }
    // The pixels plate n (1-based since the library was loaded) has or will have.
    GreyImage platePixels(int plateNumber, int setNumber);

  private:
    struct Plate {
        int number = 0;
        int slot = 1;
        int setNumber = 1;
        std::int64_t inserted = 0, start = 0, readEnd = 0, end = 0;
        bool lost = false;
        int previewDelivered = 0;  // plate lines already shown in preview pictures
        GreyImage pixels;
    };
    struct Image {
        std::string name;
        int plateNumber = 0;
        int setNumber = 1;
        int pitchNm = 25000;
        GreyImage pixels;
        int infoCalls = 0;
        int rawCalls = 0;
    };

    std::int64_t now();
    void reloadConfig();
    void update();
    void schedule(Plate& plate, std::int64_t insertedAt);
    int linesRead(const Plate& p, std::int64_t t) const;
    Plate* reading(std::int64_t t);
    Image* findImage(const char* name);
    void freePreview();
    std::uintptr_t giveBlock(const std::vector<std::byte>& bytes);
    // Counts a call of an export; true (and the result) when the fault script fails this one.
    bool scripted(std::string_view exportName, Long& result);
    static Long nextResult(const std::vector<Long>& list, std::size_t& used);

    std::unique_ptr<DeviceEnvironment> env_;
    std::string iniPath_;
    SimConfig config_;
    // The INI file's bytes the configuration was read from (at iniPath_), when known.
    std::optional<std::vector<std::byte>> configBytes_;
    bool initialized_ = false;
    bool open_ = false;
    bool active_ = false;
    int openSet_ = 0;
    Long prescanMode_ = 0;
    std::uint32_t epochTick_ = 0;
    std::int64_t activatedAt_ = 0;
    int autoFed_ = 0;
    int platesFed_ = 0;
    std::int64_t lastEnd_ = 0;
    std::size_t openResultsUsed_ = 0;
    std::size_t activateResultsUsed_ = 0;
    int statusFaultCallsUsed_ = 0;
    std::deque<Plate> plates_;
    std::deque<Image> images_;
    std::uintptr_t previewBlock_ = 0;
    Long extraHeader_[2] = {0, 0};
    bool eraseLamp_ = true;
    Long beltSpeed_ = 100;
    std::int64_t beltUntil_ = -1;
    std::size_t oldImageCursor_ = 0;
    int diskImages_ = 0;
    std::map<std::string, int, std::less<>> calls_;
    std::map<std::string, int, std::less<>> handedOver_;
};

// The phantom seed of plate n (1-based since the library was loaded).
std::uint64_t plateSeed(std::uint64_t phantomSeed, int plateNumber);

// The pixels as GetRawImage delivers them: without the optimise flag the plate as read; with
// it, the darkest limitLow and brightest limitHigh (percent times 10000) are cut off and the
// rest is spread over the 16-bit range, linearly (mapping 0) or logarithmically (mapping 1).
std::vector<std::uint16_t> mapGrey(const std::vector<std::uint16_t>& pixels, bool optimise,
                                   int mappingType, std::int64_t limitLow, std::int64_t limitHigh);

}  // namespace quilo::orvanesim
