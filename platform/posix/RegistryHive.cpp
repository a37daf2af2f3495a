#include "platform/posix/RegistryHive.h"

#include "platform/WideString.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace plat::registry {
namespace {

std::u16string Decode(const std::string& bytes)
{
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        std::u16string out;
        out.reserve(bytes.size() / 2);
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            out.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                (static_cast<unsigned char>(bytes[i + 1]) << 8)));
        return out;
    }
    std::string_view view(bytes);
    if (view.size() >= 3 && view.substr(0, 3) == "\xEF\xBB\xBF")
        view.remove_prefix(3);
    return Utf8ToUtf16(view);
}

std::u16string_view Trim(std::u16string_view s)
{
    while (!s.empty() && (s.front() == u' ' || s.front() == u'\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == u' ' || s.back() == u'\t' || s.back() == u'\r'))
        s.remove_suffix(1);
    return s;
}

std::u16string Lower(std::u16string_view s)
{
    std::u16string out(s);
    for (char16_t& c : out)
        c = WideToLower(c);
    return out;
}

// Logical lines: physical lines joined where a line ends with a backslash.
std::vector<std::u16string> LogicalLines(const std::u16string& text)
{
    std::vector<std::u16string> lines;
    std::u16string current;
    bool continuing = false;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(u'\n', start);
        if (end == std::u16string::npos)
            end = text.size();
        std::u16string_view line = Trim(std::u16string_view(text).substr(start, end - start));
        if (continuing)
            current += line;
        else
            current = line;
        continuing = !current.empty() && current.back() == u'\\';
        if (continuing)
            current.pop_back();
        else
            lines.push_back(current);
        start = end + 1;
    }
    if (continuing)
        lines.push_back(current);
    return lines;
}

std::optional<Root> RootOf(std::u16string_view name)
{
    std::u16string lower = Lower(name);
    if (lower == u"hkey_local_machine" || lower == u"hklm")
        return Root::LocalMachine;
    if (lower == u"hkey_current_user" || lower == u"hkcu")
        return Root::CurrentUser;
    return std::nullopt;
}

// Reads a quoted string starting at s[pos] == '"'; advances pos past the closing quote.
std::optional<std::u16string> QuotedString(std::u16string_view s, size_t& pos)
{
    if (pos >= s.size() || s[pos] != u'"')
        return std::nullopt;
    std::u16string out;
    for (++pos; pos < s.size(); ++pos) {
        char16_t c = s[pos];
        if (c == u'\\' && pos + 1 < s.size()) {
            char16_t next = s[++pos];
            out.push_back(next == u'n' ? u'\n' : next == u'r' ? u'\r' : next == u't' ? u'\t' : next);
        } else if (c == u'"') {
            ++pos;
            return out;
        } else {
            out.push_back(c);
        }
    }
    return std::nullopt;
}

int HexDigit(char16_t c)
{
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

std::optional<std::vector<uint8_t>> HexBytes(std::u16string_view s)
{
    std::vector<uint8_t> out;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && (s[i] == u' ' || s[i] == u'\t' || s[i] == u','))
            ++i;
        if (i >= s.size())
            break;
        int hi = HexDigit(s[i]);
        int lo = i + 1 < s.size() ? HexDigit(s[i + 1]) : -1;
        if (hi < 0)
            return std::nullopt;
        if (lo < 0) {
            out.push_back(static_cast<uint8_t>(hi));
            ++i;
        } else {
            out.push_back(static_cast<uint8_t>(hi * 16 + lo));
            i += 2;
        }
        if (i < s.size() && s[i] != u',' && s[i] != u' ' && s[i] != u'\t')
            return std::nullopt;
    }
    return out;
}

std::optional<Value> ParseData(std::u16string_view data)
{
    Value value;
    if (!data.empty() && data.front() == u'"') {
        size_t pos = 0;
        auto text = QuotedString(data, pos);
        if (!text || !Trim(data.substr(pos)).empty())
            return std::nullopt;
        value.type = REG_SZ;
        for (char16_t c : *text) {
            value.data.push_back(static_cast<uint8_t>(c & 0xFF));
            value.data.push_back(static_cast<uint8_t>(c >> 8));
        }
        value.data.push_back(0);
        value.data.push_back(0);
        return value;
    }
    std::u16string lower = Lower(data);
    if (lower.rfind(u"dword:", 0) == 0) {
        std::u16string_view digits = Trim(std::u16string_view(lower).substr(6));
        if (digits.empty() || digits.size() > 8)
            return std::nullopt;
        uint32_t n = 0;
        for (char16_t c : digits) {
            int d = HexDigit(c);
            if (d < 0)
                return std::nullopt;
            n = n * 16 + static_cast<uint32_t>(d);
        }
        value.type = REG_DWORD;
        for (int i = 0; i < 4; ++i)
            value.data.push_back(static_cast<uint8_t>(n >> (8 * i)));
        return value;
    }
    if (lower.rfind(u"hex:", 0) == 0) {
        auto bytes = HexBytes(std::u16string_view(lower).substr(4));
        if (!bytes)
            return std::nullopt;
        value.type = REG_BINARY;
        value.data = std::move(*bytes);
        return value;
    }
    if (lower.rfind(u"hex(", 0) == 0) {
        size_t close = lower.find(u"):");
        if (close == std::u16string::npos || close == 4)
            return std::nullopt;
        uint32_t type = 0;
        for (size_t i = 4; i < close; ++i) {
            int d = HexDigit(lower[i]);
            if (d < 0 || i > 12)
                return std::nullopt;
            type = type * 16 + static_cast<uint32_t>(d);
        }
        auto bytes = HexBytes(std::u16string_view(lower).substr(close + 2));
        if (!bytes)
            return std::nullopt;
        value.type = type;
        value.data = std::move(*bytes);
        return value;
    }
    return std::nullopt;
}

}  // namespace

std::u16string NormaliseKeyPath(std::u16string_view path)
{
    std::u16string out;
    for (char16_t c : path) {
        if (IsPathSeparator(c)) {
            if (!out.empty() && out.back() != u'\\')
                out.push_back(u'\\');
        } else {
            out.push_back(WideToLower(c));
        }
    }
    while (!out.empty() && out.back() == u'\\')
        out.pop_back();
    return out;
}

bool Hive::HasKey(const std::u16string& keyPath) const
{
    if (keyPath.empty())
        return true;
    auto it = keys.lower_bound(keyPath);
    if (it == keys.end())
        return false;
    if (it->first == keyPath)
        return true;
    // A section for a sub-key implies its parents, as hand-written files may skip them.
    return it->first.size() > keyPath.size() && it->first.compare(0, keyPath.size(), keyPath) == 0 &&
           it->first[keyPath.size()] == u'\\';
}

const Value* Hive::Find(const std::u16string& keyPath, const std::u16string& valueName) const
{
    auto key = keys.find(keyPath);
    if (key == keys.end())
        return nullptr;
    auto value = key->second.find(valueName);
    return value == key->second.end() ? nullptr : &value->second;
}

std::string HivePath(Root root)
{
    const char* file = root == Root::LocalMachine ? "HKEY_LOCAL_MACHINE.reg" : "HKEY_CURRENT_USER.reg";
    if (const char* dir = std::getenv("PVCODEC_REGISTRY_DIR"); dir != nullptr && *dir != 0)
        return std::string(dir) + "/" + file;
    if (root == Root::LocalMachine)
        return std::string("/etc/pvcodec/registry/") + file;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/')
        return std::string(xdg) + "/pvcodec/registry/" + file;
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.config/pvcodec/registry/" + file;
}

Hive ParseHive(const std::string& fileBytes, Root root)
{
    Hive hive;
    std::u16string text = Decode(fileBytes);
    std::vector<std::u16string> lines = LogicalLines(text);
    size_t first = 0;
    while (first < lines.size() && lines[first].empty())
        ++first;
    if (first >= lines.size())
        return hive;
    std::u16string header = Lower(lines[first]);
    if (header != u"windows registry editor version 5.00" && header != u"regedit4")
        return hive;

    std::map<std::u16string, Value>* section = nullptr;
    for (size_t i = first + 1; i < lines.size(); ++i) {
        std::u16string_view line = lines[i];
        if (line.empty() || line.front() == u';')
            continue;
        if (line.front() == u'[') {
            section = nullptr;
            if (line.back() != u']' || line.size() < 3 || line[1] == u'-')
                continue;
            std::u16string_view full = line.substr(1, line.size() - 2);
            size_t sep = full.find(u'\\');
            auto sectionRoot = RootOf(full.substr(0, sep));
            if (!sectionRoot || *sectionRoot != root)
                continue;
            std::u16string path = sep == std::u16string_view::npos ? u"" : NormaliseKeyPath(full.substr(sep + 1));
            section = &hive.keys[path];
            continue;
        }
        if (section == nullptr)
            continue;
        std::u16string name;
        size_t pos = 0;
        if (line.front() == u'@') {
            pos = 1;
        } else {
            auto quoted = QuotedString(line, pos);
            if (!quoted)
                continue;
            name = Lower(*quoted);
        }
        std::u16string_view rest = Trim(line.substr(pos));
        if (rest.empty() || rest.front() != u'=')
            continue;
        std::u16string_view data = Trim(rest.substr(1));
        if (data == u"-") {
            section->erase(name);
            continue;
        }
        if (auto value = ParseData(data))
            (*section)[name] = std::move(*value);
    }
    return hive;
}

Hive LoadHive(Root root)
{
    std::ifstream in(HivePath(root), std::ios::binary);
    if (!in)
        return {};
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return ParseHive(bytes, root);
}

}  // namespace plat::registry
