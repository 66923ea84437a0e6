#pragma once
// JSON text, written fast: the glTF writer's document and the few members the builders write as
// text themselves (an animation's extras).
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace tr4export {

namespace jsonout {

// The base64 length of n bytes.
inline size_t Base64Size(size_t n) {
    return (n + 2) / 3 * 4;
}

// Writes the base64 of n bytes at o.
inline void Base64(const uint8_t* data, size_t n, char* o) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    size_t i = 0;
    for (; i + 3 <= n; i += 3) {
        const uint32_t v = uint32_t{data[i]} << 16 | uint32_t{data[i + 1]} << 8 | data[i + 2];
        *o++ = digits[v >> 18];
        *o++ = digits[v >> 12 & 63];
        *o++ = digits[v >> 6 & 63];
        *o++ = digits[v & 63];
    }
    if (i < n) {
        const uint32_t v = uint32_t{data[i]} << 16 | (i + 1 < n ? uint32_t{data[i + 1]} << 8 : 0);
        *o++ = digits[v >> 18];
        *o++ = digits[v >> 12 & 63];
        *o++ = i + 1 < n ? digits[v >> 6 & 63] : '=';
        *o++ = '=';
    }
}

// Appends JSON to a string: commas between members and elements are placed by the writer, so the
// callers only say what comes next. With a sink, what is made goes out to it in blocks, so that a
// large document is never held whole. The string is written through a cursor, grown by doubling
// and cut to what was written at the end: appending character by character to a string was a
// tenth of an animated export.
class JsonOut {
  public:
    explicit JsonOut(std::string& out, std::ostream* sink = nullptr) : out(out), sink(sink) {
        used = out.size();
        out.resize(std::max(out.capacity(), sink ? kBlock + kBlock / 4 : size_t{4096}));
    }
    ~JsonOut() { out.resize(used); }
    JsonOut(const JsonOut&) = delete;
    JsonOut& operator=(const JsonOut&) = delete;

    // Between elements: hands a full block to the sink.
    void Drain() {
        if (sink && used >= kBlock) Flush();
    }
    // Hands what is left to the sink; returns how many bytes it has had in all.
    uint64_t Flush() {
        if (sink) {
            sink->write(out.data(), static_cast<std::streamsize>(used));
            drained += used;
            used = 0;
        }
        return drained;
    }

    void BeginObject() { Open('{'); }
    void EndObject() { Close('}'); }
    void BeginArray() { Open('['); }
    void EndArray() { Close(']'); }

    // The next member's key; its value follows. Keys written in the code need no escapes.
    template <size_t N>
    void Key(const char (&key)[N]) {
        Separate();
        char* o = Room(N + 2);
        o[0] = '"';
        std::memcpy(o + 1, key, N - 1);
        o[N] = '"';
        o[N + 1] = ':';
        used += N + 2;
        afterKey = true;
    }
    // A key from data (names of attributes, extensions, extras).
    void AnyKey(std::string_view key) {
        Separate();
        String(key);
        Put(':');
        afterKey = true;
    }

    void Int(int64_t v) {
        Separate();
        char* o = Room(24);
        used += static_cast<size_t>(std::to_chars(o, o + 24, v).ptr - o);
    }
    void Unsigned(uint64_t v) {
        Separate();
        char* o = Room(24);
        used += static_cast<size_t>(std::to_chars(o, o + 24, v).ptr - o);
    }
    // The shortest text that reads back as the same double; JSON has no NaN or infinity, and
    // null is what the library writes for them.
    void Real(double v) {
        Separate();
        if (!std::isfinite(v)) {
            Put("null");
            return;
        }
        char* o = Room(34);
        char* end = std::to_chars(o, o + 32, v).ptr;
        // A whole number keeps a point, so that readers that tell integers from reals (the
        // extras' values) read back a real.
        if (std::find_if(o, end, [](char c) { return c == '.' || c == 'e'; }) == end) {
            *end++ = '.';
            *end++ = '0';
        }
        used += static_cast<size_t>(end - o);
    }
    // A member: its key (written as it is when it is a literal of the code) and its value.
    template <typename K>
    void MemberKey(const K& key) {
        if constexpr (std::is_array_v<K>)
            Key(key);
        else
            AnyKey(key);
    }
    template <typename K>
    void IntMember(const K& key, int64_t v) {
        MemberKey(key);
        Int(v);
    }
    template <typename K>
    void UnsignedMember(const K& key, uint64_t v) {
        MemberKey(key);
        Unsigned(v);
    }
    template <typename K>
    void RealMember(const K& key, double v) {
        MemberKey(key);
        Real(v);
    }
    template <typename K>
    void TextMember(const K& key, std::string_view v) {
        MemberKey(key);
        Text(v);
    }
    template <typename K>
    void BoolMember(const K& key, bool v) {
        MemberKey(key);
        Bool(v);
    }
    void Bool(bool v) {
        Separate();
        Put(v ? std::string_view("true") : std::string_view("false"));
    }
    void Text(std::string_view v) {
        Separate();
        String(v);
    }
    // A string of a prefix and data in base64, which needs no escapes.
    void Base64Uri(std::string_view prefix, const uint8_t* data, size_t n) {
        Separate();
        Put('"');
        Put(prefix);
        // In whole groups of three bytes, each block drained as it is made.
        constexpr size_t kPart = kBlock / 4 * 3;
        for (size_t at = 0; at < n; at += kPart) {
            const size_t part = std::min(kPart, n - at);
            Base64(data + at, part, Room(Base64Size(part)));
            used += Base64Size(part);
            Drain();
        }
        Put('"');
    }
    // A value that is JSON text already, written as it stands.
    void Raw(std::string_view json) {
        Separate();
        Put(json);
    }
    void EmptyObject() {
        Separate();
        Put("{}");
    }
    // Ends a text document.
    void Newline() { Put('\n'); }

    template <typename T>
    void IntArray(std::string_view key, const std::vector<T>& values) {
        if (values.empty()) return;
        AnyKey(key);
        BeginArray();
        for (T v : values) Int(static_cast<int64_t>(v));
        EndArray();
    }
    void RealArray(std::string_view key, const std::vector<double>& values) {
        if (values.empty()) return;
        AnyKey(key);
        BeginArray();
        for (double v : values) Real(v);
        EndArray();
    }

  private:
    static constexpr size_t kBlock = 1 << 16;

    // Room for n more characters at the cursor.
    [[gnu::always_inline]] char* Room(size_t n) {
        if (out.size() - used < n) [[unlikely]]
            Grow(n);
        return out.data() + used;
    }
    [[gnu::noinline]] void Grow(size_t n) { out.resize(std::max(out.size() * 2, used + n)); }
    void Put(char c) {
        *Room(1) = c;
        ++used;
    }
    void Put(std::string_view s) {
        std::memcpy(Room(s.size()), s.data(), s.size());
        used += s.size();
    }

    void Separate() {
        if (afterKey) {
            afterKey = false;
        } else if (!outer.empty()) {
            if (!fresh) Put(',');
            fresh = false;
        }
    }
    void Open(char c) {
        Separate();
        Put(c);
        outer.push_back(fresh);
        fresh = true;
    }
    void Close(char c) {
        Put(c);
        fresh = outer.back();
        outer.pop_back();
    }

    // A JSON string. Bytes that are not UTF-8 become U+FFFD: names are ours, but nothing that
    // reaches a file should make it unreadable.
    void String(std::string_view s) {
        Put('"');
        static const char hex[] = "0123456789abcdef";
        for (size_t i = 0; i < s.size();) {
            size_t plain = i;
            while (plain < s.size() && Plain(static_cast<unsigned char>(s[plain]))) ++plain;
            Put(s.substr(i, plain - i));
            i = plain;
            if (i == s.size()) break;
            const auto c = static_cast<unsigned char>(s[i]);
            if (c < 0x80) {
                if (c == '"' || c == '\\') {
                    const char escaped[2] = {'\\', static_cast<char>(c)};
                    Put(std::string_view(escaped, 2));
                } else if (c < 0x20) {
                    const char escaped[6] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 15]};
                    Put(std::string_view(escaped, 6));
                } else {
                    Put(static_cast<char>(c));
                }
                ++i;
                continue;
            }
            const size_t length = Utf8Length(s, i);
            if (length == 0) {
                Put("\xEF\xBF\xBD");
                ++i;
            } else {
                Put(s.substr(i, length));
                i += length;
            }
        }
        Put('"');
    }

    static bool Plain(unsigned char c) { return c >= 0x20 && c < 0x80 && c != '"' && c != '\\'; }

    // The length of the well-formed UTF-8 sequence at s[i], or 0.
    static size_t Utf8Length(std::string_view s, size_t i) {
        const auto c = static_cast<unsigned char>(s[i]);
        size_t length;
        uint32_t code;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
            code = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            code = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            code = c & 0x07;
        } else {
            return 0;
        }
        if (i + length > s.size()) return 0;
        for (size_t k = 1; k < length; ++k) {
            const auto t = static_cast<unsigned char>(s[i + k]);
            if ((t & 0xC0) != 0x80) return 0;
            code = code << 6 | (t & 0x3F);
        }
        // Overlong forms, surrogates and code points past Unicode's end are not UTF-8.
        if ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000) ||
            (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
            return 0;
        return length;
    }

    std::string& out;
    size_t used = 0;  // out's characters written; the rest is room
    std::ostream* sink;
    uint64_t drained = 0;
    std::vector<char> outer;  // for each open object or array around the current one: fresh
    bool fresh = true;        // nothing written yet in the current object or array
    bool afterKey = false;
};

}  // namespace jsonout

using jsonout::JsonOut;

}  // namespace tr4export
