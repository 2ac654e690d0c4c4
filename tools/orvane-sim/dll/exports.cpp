// OrvaneEx.dll: the simulated scanner as a Windows library with the vendor's exports
// (undecorated names through OrvaneEx.def, stdcall in the 32-bit build).
#include <windows.h>

#include <mutex>

#include "orvane-sim/dll/win32_environment.h"
#include "orvane-sim/simulator.h"
#include "scanner/orvane_abi.h"

using quilo::orvanesim::Simulator;
using quilo::scanner::abi::HandleOut;
using quilo::scanner::abi::Long;

namespace {

HMODULE thisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCSTR>(&thisModule), &module);
    return module;
}

// The library is the device of the process that loaded it, so one device per process lives
// here, made on the first call and gone when the library is unloaded. Calls are serialised in
// case a caller uses more than one thread.
struct Device {
    std::mutex lock;
    Simulator sim{quilo::orvanesim::makeWin32Environment(thisModule())};
};

Device& device() {
    static Device d;
    return d;
}

template <typename F>
Long call(F f) {
    Device& d = device();
    std::lock_guard<std::mutex> guard(d.lock);
    return f(d.sim);
}

}  // namespace

extern "C" {

Long ORVANE_CALL Init_Dll(const char* name) {
    return call([&](Simulator& s) { return s.Init_Dll(name); });
}
Long ORVANE_CALL Get_IniFileName(char* buffer) {
    return call([&](Simulator& s) { return s.Get_IniFileName(buffer); });
}
Long ORVANE_CALL Set_IniFileName(const char* path) {
    return call([&](Simulator& s) { return s.Set_IniFileName(path); });
}
Long ORVANE_CALL Get_Paramcount() {
    return call([&](Simulator& s) { return s.Get_Paramcount(); });
}
Long ORVANE_CALL Get_Paramname(char* buffer, Long set) {
    return call([&](Simulator& s) { return s.Get_Paramname(buffer, set); });
}
Long ORVANE_CALL Open_Scanner(Long set) {
    return call([&](Simulator& s) { return s.Open_Scanner(set); });
}
Long ORVANE_CALL Set_Prescanmode(Long mode) {
    return call([&](Simulator& s) { return s.Set_Prescanmode(mode); });
}
Long ORVANE_CALL Get_Serialnumber(char* buffer) {
    return call([&](Simulator& s) { return s.Get_Serialnumber(buffer); });
}
Long ORVANE_CALL Get_DriverVersion(char* buffer) {
    return call([&](Simulator& s) { return s.Get_DriverVersion(buffer); });
}
Long ORVANE_CALL Set_ImageExtraHeader(Long a, Long b) {
    return call([&](Simulator& s) { return s.Set_ImageExtraHeader(a, b); });
}
Long ORVANE_CALL Aktivate_Scanner() {
    return call([&](Simulator& s) { return s.Aktivate_Scanner(); });
}
Long ORVANE_CALL Get_Status() {
    return call([&](Simulator& s) { return s.Get_Status(); });
}
Long ORVANE_CALL GetPrescanImage(HandleOut* picture, Long* bytes) {
    return call([&](Simulator& s) { return s.GetPrescanImage(picture, bytes); });
}
Long ORVANE_CALL ClearPrescanImage() {
    return call([&](Simulator& s) { return s.ClearPrescanImage(); });
}
Long ORVANE_CALL Get_ImageName(char* buffer) {
    return call([&](Simulator& s) { return s.Get_ImageName(buffer); });
}
Long ORVANE_CALL Get_ImageInfo(const char* name, unsigned char* record) {
    return call([&](Simulator& s) { return s.Get_ImageInfo(name, record); });
}
Long ORVANE_CALL GetRawImage(const char* name, Long width, Long height, HandleOut* image,
                             Long* bytes, Long optimise, Long mapping, Long low, Long high) {
    return call([&](Simulator& s) {
        return s.GetRawImage(name, width, height, image, bytes, optimise, mapping, low, high);
    });
}
Long ORVANE_CALL Delete_Image(const char* name) {
    return call([&](Simulator& s) { return s.Delete_Image(name); });
}
Long ORVANE_CALL Deaktivate_Scanner() {
    return call([&](Simulator& s) { return s.Deaktivate_Scanner(); });
}
Long ORVANE_CALL Close_Scanner() {
    return call([&](Simulator& s) { return s.Close_Scanner(); });
}

// Exports the plug-in does not call.
Long ORVANE_CALL Get_Prescanline(Long line, std::uint16_t* buffer, Long capacity) {
    return call([&](Simulator& s) { return s.Get_Prescanline(line, buffer, capacity); });
}
Long ORVANE_CALL Ext_ScannerCTRL(Long code, Long value) {
    return call([&](Simulator& s) { return s.Ext_ScannerCTRL(code, value); });
}
Long ORVANE_CALL Get_ImageExtraHeader(Long* a, Long* b) {
    return call([&](Simulator& s) { return s.Get_ImageExtraHeader(a, b); });
}
Long ORVANE_CALL Read_DiskImage(const char* path) {
    return call([&](Simulator& s) { return s.Read_DiskImage(path); });
}
Long ORVANE_CALL Opt_ImageGreyscale(const char* name, Long mapping, Long low, Long high) {
    return call([&](Simulator& s) { return s.Opt_ImageGreyscale(name, mapping, low, high); });
}
Long ORVANE_CALL Invert_Image(const char* name) {
    return call([&](Simulator& s) { return s.Invert_Image(name); });
}
Long ORVANE_CALL Get_FirstOldImageName(char* buffer) {
    return call([&](Simulator& s) { return s.Get_FirstOldImageName(buffer); });
}
Long ORVANE_CALL Get_NextOldImageName(char* buffer) {
    return call([&](Simulator& s) { return s.Get_NextOldImageName(buffer); });
}
Long ORVANE_CALL Run_Beltdrive(Long milliseconds) {
    return call([&](Simulator& s) { return s.Run_Beltdrive(milliseconds); });
}

}  // extern "C"
