#include "platform/Registry.h"

#include "platform/posix/RegistryHive.h"
#include "platform/WideString.h"

#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace plat {

struct RegKeyObject {
    registry::Root root;
    std::u16string path;  // normalised
};

namespace {

std::mutex g_handleMutex;
std::map<RegKeyObject*, std::unique_ptr<RegKeyObject>>& Handles()
{
    static std::map<RegKeyObject*, std::unique_ptr<RegKeyObject>> handles;
    return handles;
}

// Resolves a root or an open key; nullopt for an unknown handle.
std::optional<RegKeyObject> Resolve(HKEY key)
{
    if (key == HKEY_LOCAL_MACHINE)
        return RegKeyObject{registry::Root::LocalMachine, u""};
    if (key == HKEY_CURRENT_USER)
        return RegKeyObject{registry::Root::CurrentUser, u""};
    std::lock_guard lock(g_handleMutex);
    auto it = Handles().find(key);
    if (it == Handles().end())
        return std::nullopt;
    return *it->second;
}

LONG Open(HKEY root, std::u16string_view subKey, PHKEY result)
{
    if (result == nullptr)
        return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    *result = nullptr;
    auto base = Resolve(root);
    if (!base)
        return static_cast<LONG>(ERROR_INVALID_HANDLE);
    std::u16string sub = registry::NormaliseKeyPath(subKey);
    std::u16string path = base->path.empty() ? sub : (sub.empty() ? base->path : base->path + u"\\" + sub);
    if (!registry::LoadHive(base->root).HasKey(path))
        return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    auto object = std::make_unique<RegKeyObject>(RegKeyObject{base->root, std::move(path)});
    HKEY handle = object.get();
    std::lock_guard lock(g_handleMutex);
    Handles().emplace(handle, std::move(object));
    *result = handle;
    return ERROR_SUCCESS;
}

LONG Deliver(const std::vector<uint8_t>& bytes, DWORD type, LPDWORD typeOut, LPBYTE data, LPDWORD size)
{
    if (typeOut != nullptr)
        *typeOut = type;
    if (data == nullptr) {
        if (size != nullptr)
            *size = static_cast<DWORD>(bytes.size());
        return ERROR_SUCCESS;
    }
    if (size == nullptr)
        return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    if (*size < bytes.size()) {
        *size = static_cast<DWORD>(bytes.size());
        return static_cast<LONG>(ERROR_MORE_DATA);
    }
    if (!bytes.empty())
        std::memcpy(data, bytes.data(), bytes.size());
    *size = static_cast<DWORD>(bytes.size());
    return ERROR_SUCCESS;
}

std::optional<registry::Value> Lookup(HKEY key, std::u16string_view valueName, LONG& error)
{
    auto object = Resolve(key);
    if (!object) {
        error = static_cast<LONG>(ERROR_INVALID_HANDLE);
        return std::nullopt;
    }
    std::u16string name(valueName);
    for (char16_t& c : name)
        c = WideToLower(c);
    registry::Hive hive = registry::LoadHive(object->root);
    const registry::Value* value = hive.Find(object->path, name);
    if (value == nullptr) {
        error = static_cast<LONG>(ERROR_FILE_NOT_FOUND);
        return std::nullopt;
    }
    return *value;
}

}  // namespace

LONG RegOpenKeyExW(HKEY root, LPCWSTR subKey, DWORD, REGSAM, PHKEY result)
{
    return Open(root, subKey != nullptr ? std::u16string_view(subKey, WideLength(subKey)) : u"", result);
}

LONG RegOpenKeyExA(HKEY root, LPCSTR subKey, DWORD, REGSAM, PHKEY result)
{
    std::u16string wide = subKey != nullptr ? Utf8ToUtf16(subKey) : u"";
    return Open(root, wide, result);
}

LONG RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD size)
{
    LONG error = ERROR_SUCCESS;
    auto value = Lookup(key, valueName != nullptr ? std::u16string_view(valueName, WideLength(valueName)) : u"",
                        error);
    if (!value)
        return error;
    return Deliver(value->data, value->type, type, data, size);
}

LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD size)
{
    LONG error = ERROR_SUCCESS;
    std::u16string wideName = valueName != nullptr ? Utf8ToUtf16(valueName) : u"";
    auto value = Lookup(key, wideName, error);
    if (!value)
        return error;
    std::vector<uint8_t> bytes = value->data;
    if (value->type == REG_SZ || value->type == REG_EXPAND_SZ || value->type == REG_MULTI_SZ) {
        // UTF-16LE to the ANSI code page (UTF-8 here), keeping embedded NULs.
        std::u16string units;
        for (size_t i = 0; i + 1 < bytes.size(); i += 2)
            units.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
        std::string narrow = Utf16ToUtf8(units).value_or(std::string());
        bytes.assign(narrow.begin(), narrow.end());
    }
    return Deliver(bytes, value->type, type, data, size);
}

LONG RegCloseKey(HKEY key)
{
    if (key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER)
        return ERROR_SUCCESS;
    std::lock_guard lock(g_handleMutex);
    return Handles().erase(key) == 1 ? ERROR_SUCCESS : static_cast<LONG>(ERROR_INVALID_HANDLE);
}

}  // namespace plat
