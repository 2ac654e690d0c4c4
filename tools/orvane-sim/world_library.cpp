#include "orvane-sim/world_library.h"

#include <ffi.h>

#include <stdexcept>
#include <type_traits>
#include <utility>
#include <vector>

namespace quilo::orvanesim {

namespace {

template <typename T>
ffi_type* ffiType() {
    if constexpr (std::is_pointer_v<T>) {
        return &ffi_type_pointer;
    } else {
        static_assert(std::is_same_v<T, std::int32_t>, "exports take 32-bit values and pointers");
        return &ffi_type_sint32;
    }
}

// Turns a member function of the device into a plain function whose closure data is the
// library's hold on its device (a reload puts a new device there): libffi builds the entry
// point, so no state has to live in a global.
template <typename Sig, Sig Method>
struct Thunk;

template <typename... A, Long (Simulator::*Method)(A...)>
struct Thunk<Long (Simulator::*)(A...), Method> {
    static constexpr std::size_t kArity = sizeof...(A);
    static std::vector<ffi_type*> argTypes() { return {ffiType<A>()...}; }
    static void call(ffi_cif*, void* ret, void** args, void* device) {
        *static_cast<ffi_sarg*>(ret) =
            invoke(static_cast<std::unique_ptr<Simulator>*>(device)->get(), args,
                   std::index_sequence_for<A...>{});
    }
    template <std::size_t... I>
    static Long invoke(Simulator* device, void** args, std::index_sequence<I...>) {
        return (device->*Method)(*static_cast<A*>(args[I])...);
    }
};

}  // namespace

struct WorldLibrary::Thunks {
    struct Entry {
        ffi_cif cif{};
        std::vector<ffi_type*> args;
        ffi_closure* closure = nullptr;
        void* code = nullptr;
    };
    std::vector<std::unique_ptr<Entry>> entries;

    ~Thunks() {
        for (auto& e : entries)
            if (e->closure) ffi_closure_free(e->closure);
    }

    template <auto Method>
    void* make(std::unique_ptr<Simulator>& device) {
        using T = Thunk<decltype(Method), Method>;
        auto e = std::make_unique<Entry>();
        e->args = T::argTypes();
        if (ffi_prep_cif(&e->cif, FFI_DEFAULT_ABI, static_cast<unsigned>(T::kArity),
                         &ffi_type_sint32, e->args.empty() ? nullptr : e->args.data()) != FFI_OK) {
            throw std::runtime_error("orvane-sim: cannot describe an export to libffi");
        }
        e->closure = static_cast<ffi_closure*>(ffi_closure_alloc(sizeof(ffi_closure), &e->code));
        if (!e->closure ||
            ffi_prep_closure_loc(e->closure, &e->cif, &T::call, &device, e->code) != FFI_OK) {
            throw std::runtime_error("orvane-sim: cannot make an export entry point");
        }
        void* code = e->code;
        entries.push_back(std::move(e));
        return code;
    }
};

WorldLibrary::WorldLibrary() = default;
WorldLibrary::~WorldLibrary() = default;

std::unique_ptr<WorldLibrary> WorldLibrary::install(sim::World& world, sim::SimProcess& process) {
    std::unique_ptr<WorldLibrary> lib(new WorldLibrary());
    lib->process_ = &process;
    lib->device_ = std::make_unique<Simulator>(makePlatformEnvironment(process));
    lib->thunks_ = std::make_unique<Thunks>();
    std::unique_ptr<Simulator>& d = lib->device_;
    Thunks& t = *lib->thunks_;

    sim::SimLibrary exports;
    exports.fileName = "OrvaneEx.dll";
    auto& e = exports.exports;
    e["Init_Dll"] = t.make<&Simulator::Init_Dll>(d);
    e["Get_IniFileName"] = t.make<&Simulator::Get_IniFileName>(d);
    e["Set_IniFileName"] = t.make<&Simulator::Set_IniFileName>(d);
    e["Get_Paramcount"] = t.make<&Simulator::Get_Paramcount>(d);
    e["Get_Paramname"] = t.make<&Simulator::Get_Paramname>(d);
    e["Open_Scanner"] = t.make<&Simulator::Open_Scanner>(d);
    e["Set_Prescanmode"] = t.make<&Simulator::Set_Prescanmode>(d);
    e["Get_Serialnumber"] = t.make<&Simulator::Get_Serialnumber>(d);
    e["Get_DriverVersion"] = t.make<&Simulator::Get_DriverVersion>(d);
    e["Set_ImageExtraHeader"] = t.make<&Simulator::Set_ImageExtraHeader>(d);
    e["Aktivate_Scanner"] = t.make<&Simulator::Aktivate_Scanner>(d);
    e["Get_Status"] = t.make<&Simulator::Get_Status>(d);
    e["GetPrescanImage"] = t.make<&Simulator::GetPrescanImage>(d);
    e["ClearPrescanImage"] = t.make<&Simulator::ClearPrescanImage>(d);
    e["Get_ImageName"] = t.make<&Simulator::Get_ImageName>(d);
    e["Get_ImageInfo"] = t.make<&Simulator::Get_ImageInfo>(d);
    e["GetRawImage"] = t.make<&Simulator::GetRawImage>(d);
    e["Delete_Image"] = t.make<&Simulator::Delete_Image>(d);
    e["Deaktivate_Scanner"] = t.make<&Simulator::Deaktivate_Scanner>(d);
    e["Close_Scanner"] = t.make<&Simulator::Close_Scanner>(d);
    e["Get_Prescanline"] = t.make<&Simulator::Get_Prescanline>(d);
    e["Ext_ScannerCTRL"] = t.make<&Simulator::Ext_ScannerCTRL>(d);
    e["Get_ImageExtraHeader"] = t.make<&Simulator::Get_ImageExtraHeader>(d);
    e["Read_DiskImage"] = t.make<&Simulator::Read_DiskImage>(d);
    e["Opt_ImageGreyscale"] = t.make<&Simulator::Opt_ImageGreyscale>(d);
    e["Invert_Image"] = t.make<&Simulator::Invert_Image>(d);
    e["Get_FirstOldImageName"] = t.make<&Simulator::Get_FirstOldImageName>(d);
    e["Get_NextOldImageName"] = t.make<&Simulator::Get_NextOldImageName>(d);
    e["Run_Beltdrive"] = t.make<&Simulator::Run_Beltdrive>(d);
    world.registerLibrary(std::move(exports));
    return lib;
}

void WorldLibrary::reload() {
    device_.reset();  // the old device's preview block goes first
    device_ = std::make_unique<Simulator>(makePlatformEnvironment(*process_));
}

}  // namespace quilo::orvanesim
