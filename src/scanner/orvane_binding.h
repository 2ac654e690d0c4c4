// The scanner library bound at run time: "OrvaneEx.dll" is loaded through the platform's
// Libraries port on first use, the way a declared DLL function is, and every export is looked
// up by name. The simulated world serves the same file name from an in-process library, so
// this code path is the one that runs everywhere.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/process.h"
#include "scanner/orvane_abi.h"
#include "scanner/scanner_library.h"

namespace quilo::scanner {

inline constexpr const char* kLibraryFile = "OrvaneEx.dll";

// Run-time error numbers raised by the binding.
inline constexpr long kErrFileNotFound = 53;   // "File not found: OrvaneEx.dll"
inline constexpr long kErrNoEntryPoint = 453;  // "Can't find DLL entry point X in OrvaneEx.dll"

class OrvaneBinding final : public ScannerLibrary {
  public:
    explicit OrvaneBinding(platform::Libraries& libraries, std::string path = kLibraryFile);
    ~OrvaneBinding() override;

    // Loads the library now (it is otherwise loaded by the first call). Throws RuntimeError 53
    // when it cannot be loaded. A missing export does not fail the load: calling it does.
    void load();
    bool loaded() const { return library_ != nullptr; }
    // The exports the loaded library lacks.
    std::vector<std::string> missingExports() const;
    // Unloads the library; the next call loads it again.
    void unload();

    Long Init_Dll(std::string_view dllName) override;
    Long Get_IniFileName(std::string& buffer) override;
    Long Set_IniFileName(std::string_view path) override;
    Long Get_Paramcount() override;
    Long Get_Paramname(std::string& buffer, Long setNumber) override;
    Long Open_Scanner(Long setNumber) override;
    Long Set_Prescanmode(Long mode) override;
    Long Get_Serialnumber(std::string& buffer) override;
    Long Get_DriverVersion(std::string& buffer) override;
    Long Set_ImageExtraHeader(Long a, Long b) override;
    Long Aktivate_Scanner() override;
    Long Get_Status() override;
    Long GetPrescanImage(platform::HGlobal& picture, Long& bytes) override;
    Long ClearPrescanImage() override;
    Long Get_ImageName(std::string& buffer) override;
    Long Get_ImageInfo(std::string_view name, ImageInfoRecord& record) override;
    Long GetRawImage(std::string_view name, Long width, Long height, platform::HGlobal& image,
                     Long& bytes, Long optimise, Long mappingType, Long limitLow,
                     Long limitHigh) override;
    Long Delete_Image(std::string_view name) override;
    Long Deaktivate_Scanner() override;
    Long Close_Scanner() override;

  private:
    template <typename Fn>
    Fn resolve(int index);

    platform::Libraries& libraries_;
    std::string path_;
    std::unique_ptr<platform::Library> library_;
    void* exports_[abi::kExportCount] = {};
};

}  // namespace quilo::scanner
