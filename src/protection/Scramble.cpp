#include "protection/Scramble.h"

#include "protection/PageCharset.h"
#include "protection/PageText.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define KESTRIX_WIDE_VECTORS 1
#endif

namespace kestrix {

namespace {

constexpr char hexDigits[] = "0123456789ABCDEF";

// How a scrambled value below 256 is written: as itself, or as "\x" and two
// upper-case hex digits when it is below 32, above 127, or one of " < > \.
struct EscapeTable
{
    char bytes[256][4];
    unsigned char length[256];
    constexpr EscapeTable() : bytes(), length()
    {
        for (int c = 0; c < 256; ++c) {
            if (c < 32 || c > 127 || c == '"' || c == '<' || c == '>' || c == '\\') {
                bytes[c][0] = '\\';
                bytes[c][1] = 'x';
                bytes[c][2] = hexDigits[c >> 4];
                bytes[c][3] = hexDigits[c & 15];
                length[c] = 4;
            } else {
                bytes[c][0] = static_cast<char>(c);
                length[c] = 1;
            }
        }
    }
};
constexpr EscapeTable escapes;

// Every writer below may store up to this many bytes past the end of what it
// produces; whoever gives it a buffer leaves that much room behind. (In a
// layer the scrambled string is always followed by the loader, so a layer
// written in place needs no room of its own.)
constexpr size_t writeSlack = 32;

// The key's XOR values (each key byte AND 31), repeated so that the values of
// the 49 positions from any phase on can be read at once.
class KeyValues
{
public:
    explicit KeyValues(std::string_view key)
        : length_(key.empty() ? 1 : key.size()), step16_(16 % length_), step32_(32 % length_)
    {
        values_.resize(length_ + 64);
        for (size_t i = 0; i < values_.size(); ++i)
            values_[i] = key.empty()
                             ? 0
                             : static_cast<uint8_t>(static_cast<uint8_t>(key[i % length_]) & 31u);
    }

    const uint8_t* Data() const { return values_.data(); }
    size_t Next(size_t phase) const { return phase + 1 == length_ ? 0 : phase + 1; }
    size_t Next16(size_t phase) const
    {
        phase += step16_;
        return phase >= length_ ? phase - length_ : phase;
    }
    size_t Next32(size_t phase) const
    {
        phase += step32_;
        return phase >= length_ ? phase - length_ : phase;
    }

private:
    size_t length_;
    size_t step16_;
    size_t step32_;
    std::vector<uint8_t> values_;
};

#if defined(__SSE2__)
// Bit i set when byte i of the scrambled vector must be escaped: below 32 or
// above 127 (negative as a signed byte), or " < > \ ((x | 2) == '>' is < or >).
inline int EscapeMask(__m128i x)
{
    const __m128i control = _mm_cmplt_epi8(x, _mm_set1_epi8(32));
    const __m128i quote = _mm_cmpeq_epi8(x, _mm_set1_epi8('"'));
    const __m128i backslash = _mm_cmpeq_epi8(x, _mm_set1_epi8('\\'));
    const __m128i angle = _mm_cmpeq_epi8(_mm_or_si128(x, _mm_set1_epi8(2)), _mm_set1_epi8('>'));
    return _mm_movemask_epi8(
        _mm_or_si128(_mm_or_si128(control, quote), _mm_or_si128(backslash, angle)));
}

// The number of bits set in a 16-bit mask.
inline unsigned PopCount16(unsigned v)
{
    v = v - ((v >> 1) & 0x5555u);
    v = (v & 0x3333u) + ((v >> 2) & 0x3333u);
    v = (v + (v >> 4)) & 0x0F0Fu;
    return (v + (v >> 8)) & 0x1Fu;
}

inline __m128i Load(const uint8_t* p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
#endif

// Measures the scrambled text: the same calls as Writer, adding up lengths.
struct Counter
{
    size_t size = 0;

    void Unit(unsigned c) { size += c < 256 ? escapes.length[c] : 6; }
#if defined(__SSE2__)
    void Chunk(const uint8_t* in, const uint8_t* keys)
    {
        const __m128i x = _mm_xor_si128(Load(in), Load(keys));
        size += 16 + 3 * PopCount16(unsigned(EscapeMask(x)));
    }
#endif
};

#if defined(KESTRIX_WIDE_VECTORS)
bool HasWideVectors()
{
    static const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
    return has;
}

// What Counter adds for the bytes from `in` on, 32 at a time on processors
// that can, as far as whole steps of 32 go (with `asciiOnly`, only as far as
// the bytes are ASCII); `in` and the key phase `k` are left after them.
template <bool asciiOnly>
[[gnu::target("avx2,popcnt")]] size_t CountWide(const uint8_t*& in, const uint8_t* end,
                                                const KeyValues& key, size_t& k)
{
    const __m256i space = _mm256_set1_epi8(32);
    const __m256i quote = _mm256_set1_epi8('"');
    const __m256i backslash = _mm256_set1_epi8('\\');
    const __m256i two = _mm256_set1_epi8(2);
    const __m256i angle = _mm256_set1_epi8('>');
    size_t size = 0;
    for (; end - in >= 32; in += 32) {
        __builtin_prefetch(in + textPrefetchDistance);
        const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
        if (asciiOnly && _mm256_movemask_epi8(bytes) != 0)
            break;
        const __m256i x = _mm256_xor_si256(
            bytes, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(key.Data() + k)));
        const __m256i escaped = _mm256_or_si256(
            _mm256_or_si256(_mm256_cmpgt_epi8(space, x), _mm256_cmpeq_epi8(x, quote)),
            _mm256_or_si256(_mm256_cmpeq_epi8(x, backslash),
                            _mm256_cmpeq_epi8(_mm256_or_si256(x, two), angle)));
        size += 32 + 3 * size_t(_mm_popcnt_u32(unsigned(_mm256_movemask_epi8(escaped))));
        k = key.Next32(k);
    }
    return size;
}
#endif

// Writes the scrambled text at `out`.
struct Writer
{
    char* out;

    // One scrambled code unit: below 256 as the table says, else \uHHHH.
    [[gnu::always_inline]] void Unit(unsigned c)
    {
        if (c < 256) {
            std::memcpy(out, escapes.bytes[c], 4);
            out += escapes.length[c];
            return;
        }
        out[0] = '\\';
        out[1] = 'u';
        out[2] = hexDigits[(c >> 12) & 15];
        out[3] = hexDigits[(c >> 8) & 15];
        out[4] = hexDigits[(c >> 4) & 15];
        out[5] = hexDigits[c & 15];
        out += 6;
    }

#if defined(__SSE2__)
    // Sixteen bytes from `in` scrambled with the key values at `keys`; both
    // are read 33 bytes far. Up to two escapes take the same steps whatever
    // the bytes are, so the processor has no branch to guess: the runs
    // before, between and after the escapes are stored whole, scrambled
    // again from the input (reading back what was just stored would stall),
    // each overwriting what the one before stored past its end; a missing
    // escape counts as one at position 16, whose stores all land behind the
    // output. More escapes (rare in text) go one by one.
    [[gnu::always_inline]] void Chunk(const uint8_t* in, const uint8_t* keys)
    {
        const __m128i x = _mm_xor_si128(Load(in), Load(keys));
        Emit16(in, keys, x, unsigned(EscapeMask(x)));
    }

    // The same with the scrambled bytes `x` and their escape mask at hand.
    [[gnu::always_inline]] void Emit16(const uint8_t* in, const uint8_t* keys, __m128i x,
                                       unsigned mask)
    {
        const unsigned rest = mask & (mask - 1); // without the first escape
        if ((rest & (rest - 1)) != 0) {
            // Three escapes or more: the runs between them one after another.
            char* o = out;
            int start = 0;
            for (unsigned m = mask; m != 0; m &= m - 1) {
                const int at = __builtin_ctz(m);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(o),
                                 _mm_xor_si128(Load(in + start), Load(keys + start)));
                o += at - start;
                std::memcpy(o, escapes.bytes[uint8_t(in[at] ^ keys[at])], 4);
                o += 4;
                start = at + 1;
            }
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o),
                             _mm_xor_si128(Load(in + start), Load(keys + start)));
            out = o + (16 - start);
            return;
        }
        const unsigned escaped = unsigned(mask != 0) + unsigned(rest != 0);
        const int first = __builtin_ctz(mask | 0x10000u);
        const int second = __builtin_ctz(rest | 0x10000u);
        char* o = out;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o), x);
        o += first;
        std::memcpy(o, escapes.bytes[uint8_t(in[first] ^ keys[first])], 4);
        o += 4;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o),
                         _mm_xor_si128(Load(in + first + 1), Load(keys + first + 1)));
        // -1 when there is no escape at all: still behind the output.
        o += second - first - 1;
        std::memcpy(o, escapes.bytes[uint8_t(in[second] ^ keys[second])], 4);
        o += 4;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o),
                         _mm_xor_si128(Load(in + second + 1), Load(keys + second + 1)));
        out += 16 + 3 * escaped;
    }
#endif
};

#if defined(KESTRIX_WIDE_VECTORS)
// Writer::Chunk for two chunks at a time, the escapes of both found at once,
// on processors that can; as far as whole pairs go (with `asciiOnly`, only as
// far as the bytes are ASCII). `in` is read 49 bytes far; it and the key
// phase `k` are left after the pairs.
template <bool asciiOnly>
[[gnu::target("avx2")]] void WriteWide(const uint8_t*& in, const uint8_t* end, const KeyValues& key,
                                       size_t& k, Writer& result)
{
    Writer w = result;
    const __m256i space = _mm256_set1_epi8(32);
    const __m256i quote = _mm256_set1_epi8('"');
    const __m256i backslash = _mm256_set1_epi8('\\');
    const __m256i two = _mm256_set1_epi8(2);
    const __m256i angle = _mm256_set1_epi8('>');
    for (; end - in >= 49; in += 32) {
        __builtin_prefetch(in + textPrefetchDistance);
        const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
        if (asciiOnly && _mm256_movemask_epi8(bytes) != 0)
            break;
        const uint8_t* keys = key.Data() + k;
        const __m256i x =
            _mm256_xor_si256(bytes, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(keys)));
        const unsigned mask = unsigned(_mm256_movemask_epi8(_mm256_or_si256(
            _mm256_or_si256(_mm256_cmpgt_epi8(space, x), _mm256_cmpeq_epi8(x, quote)),
            _mm256_or_si256(_mm256_cmpeq_epi8(x, backslash),
                            _mm256_cmpeq_epi8(_mm256_or_si256(x, two), angle)))));
        w.Emit16(in, keys, _mm256_castsi256_si128(x), mask & 0xFFFFu);
        w.Emit16(in + 16, keys + 16, _mm256_extracti128_si256(x, 1), mask >> 16);
        k = key.Next32(k);
    }
    result = w;
}
#endif

// Scrambles bytes (each one code unit from 0 to 255) from key phase `phase`,
// which is left after them.
template <typename Out>
void ScrambleBytes(const uint8_t* in, size_t n, const KeyValues& key, size_t& phase, Out& result)
{
    // A copy in registers: its stores through char pointers could alias the
    // caller's object.
    Out o = result;
    const uint8_t* values = key.Data();
    const uint8_t* end = in + n;
    size_t k = phase;
#if defined(KESTRIX_WIDE_VECTORS)
    if constexpr (std::is_same_v<Out, Counter>) {
        if (HasWideVectors())
            o.size += CountWide<false>(in, end, key, k);
    } else if constexpr (std::is_same_v<Out, Writer>) {
        if (HasWideVectors())
            WriteWide<false>(in, end, key, k, o);
    }
#endif
#if defined(__SSE2__)
    for (; end - in >= 33; in += 16) {
        o.Chunk(in, values + k);
        k = key.Next16(k);
    }
#endif
    for (; in < end; ++in) {
        o.Unit(*in ^ values[k]);
        k = key.Next(k);
    }
    phase = k;
    result = o;
}

// Scrambles UTF-16 code units.
template <typename Out>
void ScrambleUnitArray(const char16_t* in, size_t n, const KeyValues& key, size_t& phase,
                       Out& result)
{
    // A copy in registers: its stores through char pointers could alias the
    // caller's object.
    Out o = result;
    const uint8_t* values = key.Data();
    size_t k = phase;
    for (const char16_t* end = in + n; in < end; ++in) {
        o.Unit(unsigned(*in) ^ values[k]);
        k = key.Next(k);
    }
    phase = k;
    result = o;
}

// Scrambles the characters of bytes in a charset that keeps ASCII as it is,
// decoding them as it goes: runs of ASCII go sixteen bytes at a time, and
// `character` reads one other character at `in` (before `end`), calls `unit`
// for each of its UTF-16 code units and returns the byte after it, or null
// when the bytes are malformed. Returns false, stopping there, in that case.
template <typename Out, typename Character>
bool ScrambleAsciiBased(const uint8_t* in, size_t n, const KeyValues& key, size_t& phase,
                        Out& result, Character character)
{
    Out o = result;
    const uint8_t* values = key.Data();
    const uint8_t* end = in + n;
    size_t k = phase;
    auto unit = [&](unsigned u) {
        o.Unit(u ^ values[k]);
        k = key.Next(k);
    };
    bool wellFormed = true;
#if defined(KESTRIX_WIDE_VECTORS)
    const bool wide = HasWideVectors();
#endif
    while (in < end) {
#if defined(KESTRIX_WIDE_VECTORS)
        if (wide) {
            const uint8_t* from = in;
            if constexpr (std::is_same_v<Out, Counter>)
                o.size += CountWide<true>(in, end, key, k);
            else if constexpr (std::is_same_v<Out, Writer>)
                WriteWide<true>(in, end, key, k, o);
            if (in != from)
                continue;
        }
#endif
#if defined(__SSE2__)
        if (end - in >= 33) {
            const int high = _mm_movemask_epi8(Load(in));
            if (high == 0) {
                o.Chunk(in, values + k);
                k = key.Next16(k);
                in += 16;
                continue;
            }
            for (const uint8_t* stop = in + __builtin_ctz(unsigned(high)); in < stop; ++in)
                unit(*in);
        }
#endif
        if (*in < 0x80) {
            unit(*in++);
            continue;
        }
        in = character(in, end, unit);
        if (!in) {
            wellFormed = false;
            break;
        }
    }
    phase = k;
    result = o;
    return wellFormed;
}

// One character of UTF-8, checked as IsValidUtf8 checks it: null for a
// malformed or cut sequence, whose units are not given.
struct Utf8Character
{
    template <typename Unit>
    const uint8_t* operator()(const uint8_t* in, const uint8_t* end, Unit& unit) const
    {
        auto continuation = [](uint8_t c) { return (c & 0xC0u) == 0x80u; };
        const unsigned b = in[0];
        const ptrdiff_t left = end - in;
        if (b >= 0xC2 && b <= 0xDF) {
            if (left < 2 || !continuation(in[1]))
                return nullptr;
            unit(((b & 0x1Fu) << 6) | (in[1] & 0x3Fu));
            return in + 2;
        }
        if (b >= 0xE0 && b <= 0xEF) {
            if (left < 3 || !continuation(in[1]) || !continuation(in[2]))
                return nullptr;
            const unsigned cp = ((b & 0x0Fu) << 12) | ((in[1] & 0x3Fu) << 6) | (in[2] & 0x3Fu);
            if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))
                return nullptr;
            unit(cp);
            return in + 3;
        }
        if (b >= 0xF0 && b <= 0xF4) {
            if (left < 4 || !continuation(in[1]) || !continuation(in[2]) || !continuation(in[3]))
                return nullptr;
            const unsigned cp = ((b & 0x07u) << 18) | ((in[1] & 0x3Fu) << 12) |
                                ((in[2] & 0x3Fu) << 6) | (in[3] & 0x3Fu);
            if (cp < 0x10000 || cp > 0x10FFFF)
                return nullptr;
            unit(0xD800u + ((cp - 0x10000u) >> 10));
            unit(0xDC00u + (cp & 0x3FFu));
            return in + 4;
        }
        return nullptr;
    }
};

// One byte from 128 up in windows-1252.
struct Windows1252Character
{
    const char16_t* high; // the units of bytes 128 to 255

    template <typename Unit>
    const uint8_t* operator()(const uint8_t* in, const uint8_t*, Unit& unit) const
    {
        unit(high[in[0] - 128]);
        return in + 1;
    }
};

constexpr std::string_view layerStart = "<SCRIPT>p8Rfhjqh=\"";
constexpr std::string_view layerMiddle = "\";eval(unescape(\"";
constexpr std::string_view layerEnd = "\"));</SCRIPT>";

// How much of the innermost text goes through the layers at a time: small
// enough for every layer's piece to stay in the processor's cache.
constexpr size_t pieceSize = 16 * 1024;

// Where the text of a layer goes, piece by piece.
using TextSink = PageContentLayers::Pieces;

// Scrambles the text it is given, as one text, and hands the result on.
class ScrambleStage final : public TextSink
{
public:
    ScrambleStage(const KeyValues& key, TextSink& next)
        : key_(key), next_(next), buffer_(new char[4 * pieceSize + writeSlack])
    {
    }

    void Put(const char* data, size_t size) override
    {
        while (size > 0) {
            const size_t n = std::min(size, pieceSize);
            Writer writer{buffer_.get()};
            ScrambleBytes(reinterpret_cast<const uint8_t*>(data), n, key_, phase_, writer);
            next_.Put(buffer_.get(), size_t(writer.out - buffer_.get()));
            data += n;
            size -= n;
        }
    }

private:
    const KeyValues& key_;
    TextSink& next_;
    std::unique_ptr<char[]> buffer_;
    size_t phase_ = 0;
};

// The outermost scrambling: measures or writes what the layers give it.
template <typename Out> class LastStage final : public TextSink
{
public:
    LastStage(const KeyValues& key, Out& out) : key_(key), out_(out) {}

    void Put(const char* data, size_t size) override
    {
        ScrambleBytes(reinterpret_cast<const uint8_t*>(data), size, key_, phase_, out_);
    }

private:
    const KeyValues& key_;
    Out& out_;
    size_t phase_ = 0;
};

} // namespace

// The innermost text and how its characters are read, the key and the
// loader that every layer ends with.
struct PageContentLayers::Source
{
    enum class Kind { Bytes, Utf8, Windows1252, Units };

    Source(std::string_view key, Kind kind, std::string_view bytes)
        : key(key), kind(kind), bytes(bytes)
    {
        suffix.reserve(layerMiddle.size() + 3 * (165 + key.size()) + layerEnd.size());
        suffix += layerMiddle;
        suffix += PercentEscape(LoaderSource(key));
        suffix += layerEnd;
        if (kind == Kind::Windows1252)
            for (int b = 128; b < 256; ++b)
                high[b - 128] = Windows1252Unit(static_cast<unsigned char>(b));
    }

    KeyValues key;
    std::string suffix;
    Kind kind;
    std::string_view bytes; // Bytes, Utf8, Windows1252
    std::u16string units;   // Units
    char16_t high[128] = {};
    // Set when Utf8 text turned out not to be UTF-8 while it was measured:
    // the measure is then void (PageContentLayers reads it again, decoded).
    mutable bool malformed = false;

    size_t Length() const { return kind == Kind::Units ? units.size() : bytes.size(); }

    // Scrambles the innermost text from `pos` on, about `count` bytes or units
    // of it (never cutting a character), and returns where it stopped.
    template <typename Out> size_t Scramble(size_t pos, size_t count, size_t& phase, Out& o) const
    {
        size_t end = Length() - pos <= count ? Length() : pos + count;
        const auto* in = reinterpret_cast<const uint8_t*>(bytes.data());
        switch (kind) {
        case Kind::Bytes:
            ScrambleBytes(in + pos, end - pos, key, phase, o);
            break;
        case Kind::Utf8:
            // Back to the start of a character; well-formed text has one within
            // three bytes (malformed text is found malformed either way).
            for (int back = 0;
                 back < 3 && end < Length() && end > pos + 1 && (in[end] & 0xC0) == 0x80; ++back)
                --end;
            if (!ScrambleAsciiBased(in + pos, end - pos, key, phase, o, Utf8Character())) {
                malformed = true;
                return Length();
            }
            break;
        case Kind::Windows1252:
            ScrambleAsciiBased(in + pos, end - pos, key, phase, o, Windows1252Character{high});
            break;
        case Kind::Units:
            ScrambleUnitArray(units.data() + pos, end - pos, key, phase, o);
            break;
        }
        return end;
    }

    // Hands the text of layer `layer` (1 for the innermost) to `sink`.
    void Emit(int layer, TextSink& sink) const
    {
        sink.Put(layerStart.data(), layerStart.size());
        if (layer == 1) {
            // A piece of up to pieceSize characters gives at most six bytes each.
            std::unique_ptr<char[]> buffer(new char[6 * pieceSize + writeSlack]);
            size_t pos = 0, phase = 0;
            while (pos < Length()) {
                Writer writer{buffer.get()};
                pos = Scramble(pos, pieceSize, phase, writer);
                sink.Put(buffer.get(), size_t(writer.out - buffer.get()));
            }
        } else {
            ScrambleStage stage(key, sink);
            Emit(layer - 1, stage);
        }
        sink.Put(suffix.data(), suffix.size());
    }

    // The scrambled string of the outermost of `level` layers, measured or
    // written: the innermost text itself for one layer, else every layer
    // inside it run as a pipeline.
    template <typename Out> void Outermost(int level, Out& o) const
    {
        if (level == 1) {
            size_t phase = 0;
            Scramble(0, Length(), phase, o);
            return;
        }
        LastStage<Out> last(key, o);
        Emit(level - 1, last);
    }
};

namespace {

using Source = PageContentLayers::Source;

std::unique_ptr<Source> PageSource(std::string_view content, std::string_view page)
{
    const std::string charset = DetectPageCharset(page);
    const bool utf16 = charset == "UTF-16LE" || charset == "UTF-16BE";
    Source::Kind kind = Source::Kind::Units;
    if (charset == "UTF-8") {
        // Checked while it is measured; see PageContentLayers.
        kind = Source::Kind::Utf8;
    } else if (charset == "windows-1252" || charset.empty()) {
        kind = Source::Kind::Windows1252;
    } else if (!utf16 && std::all_of(content.begin(), content.end(),
                                     [](char c) { return static_cast<unsigned char>(c) < 128; })) {
        // ASCII reads the same in every other charset a page can declare.
        kind = Source::Kind::Windows1252;
    }
    auto source = std::make_unique<Source>(contentKey, kind, content);
    if (kind == Source::Kind::Units)
        source->units = DecodeToUtf16(content, charset);
    return source;
}

size_t LayersSize(const Source& source, int level)
{
    if (level <= 0)
        return source.bytes.size();
    Counter counter;
    source.Outermost(level, counter);
    return layerStart.size() + counter.size + source.suffix.size();
}

char* WriteLayers(const Source& source, int level, char* out)
{
    if (level <= 0) {
        std::memcpy(out, source.bytes.data(), source.bytes.size());
        return out + source.bytes.size();
    }
    std::memcpy(out, layerStart.data(), layerStart.size());
    Writer writer{out + layerStart.size()};
    source.Outermost(level, writer);
    // The loader goes over whatever the writer left behind the string.
    std::memcpy(writer.out, source.suffix.data(), source.suffix.size());
    return writer.out + source.suffix.size();
}

// What WriteLayers writes, handed to `sink` in pieces: the scrambled string
// goes through a small buffer that stays in the processor's cache, so a
// result whose capacity the caller reserved, or a file, gets its bytes
// written once, front to back.
void WriteLayersTo(const Source& source, int level, TextSink& sink)
{
    if (level <= 0)
        sink.Put(source.bytes.data(), source.bytes.size());
    else
        source.Emit(level, sink);
}

std::string Layers(const Source& source, int level)
{
    std::string out(LayersSize(source, level), '\0');
    WriteLayers(source, level, out.data());
    return out;
}

// A scrambled string alone, with the room the writer needs cut off after.
template <typename Scramble> std::string ScrambledString(Scramble scramble)
{
    Counter counter;
    scramble(counter);
    std::string out(counter.size + writeSlack, '\0');
    Writer writer{out.data()};
    scramble(writer);
    out.resize(counter.size);
    return out;
}

} // namespace

PageContentLayers::PageContentLayers(std::string_view content, std::string_view page, int level)
    : level_(std::max(level, 0))
{
    source_ = level_ == 0 ? std::make_unique<Source>(contentKey, Source::Kind::Bytes, content)
                          : PageSource(content, page);
    settled_ = source_->kind != Source::Kind::Utf8;
}

PageContentLayers::~PageContentLayers() = default;

void PageContentLayers::ReadAsDecoded() const
{
    const std::string_view content = source_->bytes;
    source_ = std::make_unique<Source>(contentKey, Source::Kind::Units, content);
    source_->units = DecodeToUtf16(content, "UTF-8");
    settled_ = true;
}

void PageContentLayers::Settle() const
{
    // The check alone costs a fraction of a measuring; a writer that streams
    // its output has no other use for the measuring.
    if (!settled_ && !IsValidUtf8(source_->bytes))
        ReadAsDecoded();
    settled_ = true;
}

size_t PageContentLayers::Size() const
{
    if (!size_) {
        size_ = LayersSize(*source_, level_);
        if (source_->malformed) {
            ReadAsDecoded();
            size_ = LayersSize(*source_, level_);
        }
        settled_ = true;
    }
    return *size_;
}

char* PageContentLayers::Write(char* out) const
{
    Settle();
    return WriteLayers(*source_, level_, out);
}

void PageContentLayers::WriteTo(Pieces& out) const
{
    Settle();
    WriteLayersTo(*source_, level_, out);
}

std::string ScrambleText(std::string_view text, std::string_view key)
{
    const KeyValues values(key);
    return ScrambledString([&](auto& o) {
        size_t phase = 0;
        ScrambleBytes(reinterpret_cast<const uint8_t*>(text.data()), text.size(), values, phase, o);
    });
}

std::string ScrambleUnits(const std::u16string& units, std::string_view key)
{
    const KeyValues values(key);
    return ScrambledString([&](auto& o) {
        size_t phase = 0;
        ScrambleUnitArray(units.data(), units.size(), values, phase, o);
    });
}

std::string PercentEscape(std::string_view text)
{
    std::string out;
    out.resize(text.size() * 3);
    char* p = out.data();
    for (unsigned char byte : text) {
        *p++ = '%';
        *p++ = hexDigits[byte >> 4];
        *p++ = hexDigits[byte & 15];
    }
    return out;
}

std::string LoaderSource(std::string_view key)
{
    std::string loader;
    loader.reserve(165 + key.size());
    loader += "for(t=\"\",ob55VIQ=0,k=\"";
    loader += key;
    loader += "\";ob55VIQ<p8Rfhjqh.length;ob55VIQ++)";
    loader += "t+=String.fromCharCode(p8Rfhjqh.charCodeAt(ob55VIQ)^(k.charCodeAt(ob55VIQ%k.length)&"
              "31));";
    loader += "document.write(t);";
    return loader;
}

std::string WrapInLoader(std::string_view text, std::string_view key)
{
    return Layers(Source(key, Source::Kind::Bytes, text), 1);
}

std::string ScrambleContent(std::string_view text, int level)
{
    return Layers(Source(contentKey, Source::Kind::Bytes, text), level);
}

std::string ScramblePageContent(std::string_view content, std::string_view page, int level)
{
    const PageContentLayers layers(content, page, level);
    std::string out(layers.Size(), '\0');
    layers.Write(out.data());
    return out;
}

} // namespace kestrix
