// The records that travel with host commands, as byte-exact little-endian layouts. Each record
// is its bytes; fields are read and written at fixed offsets, independent of the compiler's
// struct layout and of the machine's byte order. Every layout below is checked at compile time
// to cover its record exactly, field after field.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

namespace quilo::host {

enum class FieldKind { Int32, Bool16, Int16, Float64, AnsiText, Utf16Text, Zero };

struct FieldSpec {
    std::size_t offset;
    std::size_t width;
    FieldKind kind;
};

template <std::size_t Off>
struct Int32Field {
    static constexpr FieldSpec spec{Off, 4, FieldKind::Int32};
};
template <std::size_t Off>
struct Bool16Field {
    static constexpr FieldSpec spec{Off, 2, FieldKind::Bool16};
};
template <std::size_t Off>
struct Float64Field {
    static constexpr FieldSpec spec{Off, 8, FieldKind::Float64};
};
template <std::size_t Off, std::size_t Width>
struct AnsiTextField {
    static constexpr FieldSpec spec{Off, Width, FieldKind::AnsiText};
};
template <std::size_t Off, std::size_t Units>
struct Utf16TextField {
    static constexpr std::size_t units = Units;
    static constexpr FieldSpec spec{Off, Units * 2, FieldKind::Utf16Text};
};
template <std::size_t Off, std::size_t Width>
struct ZeroField {
    static constexpr FieldSpec spec{Off, Width, FieldKind::Zero};
};

// True when the fields follow each other without gap or overlap, starting at 0 and ending at
// `size`, and every field is aligned on its own width up to 4 bytes (the records are packed
// on 4-byte boundaries).
template <std::size_t K>
constexpr bool layoutCovers(const std::array<FieldSpec, K>& fields, std::size_t size) {
    std::size_t at = 0;
    for (const FieldSpec& f : fields) {
        if (f.offset != at || f.width == 0) return false;
        if ((f.kind == FieldKind::Int32 || f.kind == FieldKind::Float64) && f.offset % 4 != 0)
            return false;
        if ((f.kind == FieldKind::Bool16 || f.kind == FieldKind::Int16) && f.offset % 2 != 0)
            return false;
        at += f.width;
    }
    return at == size;
}

// Little-endian access to a byte buffer.
inline void putLE32(std::byte* p, std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::byte>((u >> (8 * i)) & 0xFF);
}
inline std::int32_t getLE32(const std::byte* p) {
    std::uint32_t u = 0;
    for (int i = 0; i < 4; ++i)
        u |= static_cast<std::uint32_t>(p[i]) << (8 * i);
    return static_cast<std::int32_t>(u);
}
inline void putLE16(std::byte* p, std::int16_t v) {
    const auto u = static_cast<std::uint16_t>(v);
    p[0] = static_cast<std::byte>(u & 0xFF);
    p[1] = static_cast<std::byte>(u >> 8);
}
inline std::int16_t getLE16(const std::byte* p) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(
        static_cast<std::uint16_t>(p[0]) | (static_cast<std::uint16_t>(p[1]) << 8)));
}

// A record of N bytes, zero-filled at construction.
template <std::size_t N>
class Record {
  public:
    static constexpr std::size_t kSize = N;

    std::span<const std::byte, N> bytes() const { return std::span<const std::byte, N>(b_); }
    std::span<std::byte, N> bytes() { return std::span<std::byte, N>(b_); }
    // Fills the record from received bytes; missing bytes stay zero, extra bytes are ignored.
    void assign(std::span<const std::byte> data) {
        b_.fill(std::byte{0});
        std::memcpy(b_.data(), data.data(), data.size() < N ? data.size() : N);
    }

    template <std::size_t Off>
    std::int32_t get(Int32Field<Off>) const {
        static_assert(Off + 4 <= N);
        return getLE32(b_.data() + Off);
    }
    template <std::size_t Off>
    void set(Int32Field<Off>, std::int32_t v) {
        static_assert(Off + 4 <= N);
        putLE32(b_.data() + Off, v);
    }
    // 16-bit Booleans: 0 is false, anything else true; written as 0 or -1.
    template <std::size_t Off>
    bool get(Bool16Field<Off>) const {
        static_assert(Off + 2 <= N);
        return getLE16(b_.data() + Off) != 0;
    }
    template <std::size_t Off>
    void set(Bool16Field<Off>, bool v) {
        static_assert(Off + 2 <= N);
        putLE16(b_.data() + Off, v ? std::int16_t{-1} : std::int16_t{0});
    }
    template <std::size_t Off>
    double get(Float64Field<Off>) const {
        static_assert(Off + 8 <= N);
        std::uint64_t u = 0;
        for (int i = 0; i < 8; ++i)
            u |= static_cast<std::uint64_t>(b_[Off + i]) << (8 * i);
        double d;
        std::memcpy(&d, &u, 8);
        return d;
    }
    template <std::size_t Off>
    void set(Float64Field<Off>, double v) {
        static_assert(Off + 8 <= N);
        std::uint64_t u;
        std::memcpy(&u, &v, 8);
        for (int i = 0; i < 8; ++i)
            b_[Off + i] = static_cast<std::byte>((u >> (8 * i)) & 0xFF);
    }
    // ANSI text fields hold UTF-8 text converted to the ANSI code page, cut to the field and
    // NUL-padded; reading stops at the first NUL.
    template <std::size_t Off, std::size_t W>
    std::string get(AnsiTextField<Off, W>) const {
        static_assert(Off + W <= N);
        return readAnsi(Off, W);
    }
    template <std::size_t Off, std::size_t W>
    void set(AnsiTextField<Off, W>, std::string_view utf8) {
        static_assert(Off + W <= N);
        writeAnsi(Off, W, utf8);
    }
    // UTF-16LE text fields, cut to the field's code units and padded with blanks.
    template <std::size_t Off, std::size_t U>
    std::u16string get(Utf16TextField<Off, U>) const {
        static_assert(Off + 2 * U <= N);
        std::u16string s(U, u' ');
        for (std::size_t i = 0; i < U; ++i)
            s[i] =
                static_cast<char16_t>(static_cast<std::uint16_t>(getLE16(b_.data() + Off + 2 * i)));
        return s;
    }
    template <std::size_t Off, std::size_t U>
    void set(Utf16TextField<Off, U>, std::u16string_view text) {
        static_assert(Off + 2 * U <= N);
        for (std::size_t i = 0; i < U; ++i) {
            const char16_t c = i < text.size() ? text[i] : u' ';
            putLE16(b_.data() + Off + 2 * i, static_cast<std::int16_t>(c));
        }
    }

  protected:
    std::string readAnsi(std::size_t off, std::size_t width) const;
    void writeAnsi(std::size_t off, std::size_t width, std::string_view utf8);

  private:
    std::array<std::byte, N> b_{};
};

// --- StatusRecord, 12 bytes (command 6) -----------------------------------------------------
struct StatusRecord : Record<12> {
    static constexpr Int32Field<0> size{};
    static constexpr Int32Field<4> statusCode{};
    static constexpr Bool16Field<8> dialogActive{};
    static constexpr ZeroField<10, 2> reserved{};
    static constexpr std::array layout{size.spec, statusCode.spec, dialogActive.spec,
                                       reserved.spec};
};
static_assert(layoutCovers(StatusRecord::layout, StatusRecord::kSize));
static_assert(StatusRecord::kSize == 12);

// --- ExStatusRecord, 256 bytes (command 6, told apart by its size) --------------------------
struct ExStatusRecord : Record<256> {
    static constexpr Int32Field<0> size{};
    static constexpr Int32Field<4> statusCode{};
    static constexpr Bool16Field<8> dialogActive{};
    static constexpr Utf16TextField<10, 122> infoText{};
    static constexpr ZeroField<254, 2> reserved{};
    static constexpr std::array layout{size.spec, statusCode.spec, dialogActive.spec, infoText.spec,
                                       reserved.spec};
};
static_assert(layoutCovers(ExStatusRecord::layout, ExStatusRecord::kSize));
static_assert(ExStatusRecord::kSize == 256 && ExStatusRecord::infoText.spec.offset == 10);

// --- InformationRecord, 336 bytes (command 4) -----------------------------------------------
struct InformationRecord : Record<336> {
    static constexpr Int32Field<0> size{};
    static constexpr Int32Field<4> imageKind{};  // 1 intraoral, 4 panoramic, 5 cephalometric
    static constexpr Int32Field<8> value8{};     // the controller sets 24
    static constexpr Int32Field<12> reserved12{};
    static constexpr AnsiTextField<16, 64> productText{};
    static constexpr AnsiTextField<80, 256> programPath{};
    static constexpr std::array layout{size.spec,       imageKind.spec,   value8.spec,
                                       reserved12.spec, productText.spec, programPath.spec};
};
static_assert(layoutCovers(InformationRecord::layout, InformationRecord::kSize));
static_assert(InformationRecord::kSize == 336 && InformationRecord::programPath.spec.offset == 80);

// --- SensorCountRecord, 8 bytes (command 30) ------------------------------------------------
struct SensorCountRecord : Record<8> {
    static constexpr Int32Field<0> size{};
    static constexpr Int32Field<4> count{};
    static constexpr std::array layout{size.spec, count.spec};
};
static_assert(layoutCovers(SensorCountRecord::layout, SensorCountRecord::kSize));

// --- SensorInfoRecord, 220 bytes (command 31) -----------------------------------------------
struct SensorInfoRecord : Record<220> {
    static constexpr Int32Field<0> size{};
    static constexpr Int32Field<4> sensorNo{};
    static constexpr Int32Field<8> imageKind{};
    static constexpr Int32Field<12> reserved12{};
    static constexpr AnsiTextField<16, 64> name{};
    static constexpr Bool16Field<80> showAsTool{};
    static constexpr ZeroField<82, 2> reserved82{};
    static constexpr Int32Field<84> reserved84{};
    static constexpr Int32Field<88> value88{};  // set to 2
    static constexpr AnsiTextField<92, 64> text{};
    static constexpr AnsiTextField<156, 64> description{};
    static constexpr std::array layout{size.spec,       sensorNo.spec,   imageKind.spec,
                                       reserved12.spec, name.spec,       showAsTool.spec,
                                       reserved82.spec, reserved84.spec, value88.spec,
                                       text.spec,       description.spec};
};
static_assert(layoutCovers(SensorInfoRecord::layout, SensorInfoRecord::kSize));
static_assert(SensorInfoRecord::kSize == 220 && SensorInfoRecord::description.spec.offset == 156);

// --- CapabilitiesRecord, 20 bytes (command 5) -----------------------------------------------
struct CapabilitiesRecord : Record<20> {
    static constexpr Int32Field<0> size{};
    static constexpr Int32Field<4> reserved4{};
    static constexpr Bool16Field<8> flag8{};
    static constexpr Bool16Field<10> keepImages{};  // also switches the plug-in's image keeping
    static constexpr Bool16Field<12> flag12{};
    static constexpr Bool16Field<14> flag14{};
    static constexpr Bool16Field<16> flag16{};
    static constexpr Bool16Field<18> flag18{};
    static constexpr std::array layout{size.spec,   reserved4.spec, flag8.spec,  keepImages.spec,
                                       flag12.spec, flag14.spec,    flag16.spec, flag18.spec};
};
static_assert(layoutCovers(CapabilitiesRecord::layout, CapabilitiesRecord::kSize));

// --- The seconds-left record, 8 bytes (command 7) -------------------------------------------
struct SecondsLeftRecord : Record<8> {
    static constexpr Int32Field<0> size{};
    static constexpr Int32Field<4> seconds{};
    static constexpr std::array layout{size.spec, seconds.spec};
};
static_assert(layoutCovers(SecondsLeftRecord::layout, SecondsLeftRecord::kSize));

// --- SettingsBlock header, 12 bytes, then the text and its NUL (commands 11, 12) ------------
struct SettingsHeader : Record<12> {
    static constexpr Int32Field<0> totalSize{};
    static constexpr Bool16Field<4> streamFlag{};  // non-zero: stream settings (unsupported)
    static constexpr ZeroField<6, 2> reserved{};
    static constexpr Int32Field<8> textLength{};  // including the terminating NUL
    static constexpr std::array layout{totalSize.spec, streamFlag.spec, reserved.spec,
                                       textLength.spec};
};
static_assert(layoutCovers(SettingsHeader::layout, SettingsHeader::kSize));

// --- ImageRecord (332 bytes, command 21) and ImageExRecord (2380 bytes, command 24) ---------
// The first 312 bytes are common to both.
template <std::size_t N>
struct ImageRecordBase : Record<N> {
    static constexpr Int32Field<0> size{};
    static constexpr Int32Field<4> imageId{};
    static constexpr Int32Field<8> widthPixels{};
    static constexpr Int32Field<12> heightPixels{};
    static constexpr Float64Field<16> widthMm{};
    static constexpr Float64Field<24> heightMm{};
    static constexpr Int32Field<32> reserved32{};
    static constexpr Float64Field<36> captureDate{};  // days since 30 Dec 1899
    static constexpr Int32Field<44> sensorNo{};
    static constexpr Int32Field<48> dataFormat{};
    static constexpr AnsiTextField<52, 256> fileName{};
    static constexpr Int32Field<308> dataBytes{};
};

inline constexpr std::int32_t kFormatTiffInMemory = 0x8002;  // 32770

struct ImageRecord : ImageRecordBase<332> {
    static constexpr std::size_t kHeaderBytes = 312;  // before the image data in memory form
    static constexpr ZeroField<312, 20> reserved312{};
    static constexpr std::array layout{
        size.spec,     imageId.spec,    widthPixels.spec, heightPixels.spec, widthMm.spec,
        heightMm.spec, reserved32.spec, captureDate.spec, sensorNo.spec,     dataFormat.spec,
        fileName.spec, dataBytes.spec,  reserved312.spec};
};
static_assert(layoutCovers(ImageRecord::layout, ImageRecord::kSize));

struct ImageExRecord : ImageRecordBase<2380> {
    static constexpr std::size_t kHeaderBytes = 2376;
    static constexpr ZeroField<312, 16> reserved312{};
    static constexpr AnsiTextField<328, 1024> text2{};  // the second text of the hand-over
    static constexpr AnsiTextField<1352, 1024> text1{};
    static constexpr Int32Field<2376> reserved2376{};
    static constexpr std::array layout{
        size.spec,        imageId.spec,    widthPixels.spec, heightPixels.spec,
        widthMm.spec,     heightMm.spec,   reserved32.spec,  captureDate.spec,
        sensorNo.spec,    dataFormat.spec, fileName.spec,    dataBytes.spec,
        reserved312.spec, text2.spec,      text1.spec,       reserved2376.spec};
};
static_assert(layoutCovers(ImageExRecord::layout, ImageExRecord::kSize));

// Text conversions used by the text fields.
std::string ansiFieldToUtf8(std::span<const std::byte> field);
void utf8ToAnsiField(std::span<std::byte> field, std::string_view utf8);

template <std::size_t N>
std::string Record<N>::readAnsi(std::size_t off, std::size_t width) const {
    return ansiFieldToUtf8(std::span<const std::byte>(b_.data() + off, width));
}
template <std::size_t N>
void Record<N>::writeAnsi(std::size_t off, std::size_t width, std::string_view utf8) {
    utf8ToAnsiField(std::span<std::byte>(b_.data() + off, width), utf8);
}

}  // namespace quilo::host
