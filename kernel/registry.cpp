#include "kernel/registry.h"

#include <fstream>
#include <sstream>

#include "kernel/kernel.h"
#include "kernel/wide_text.h"

namespace kalvo::kernel {

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// Key paths: no trailing backslash, single separators.
std::u16string canonicalKey(std::u16string_view path) {
    std::u16string out;
    for (char16_t c : path) {
        if (c == u'\\' && !out.empty() && out.back() == u'\\') continue;
        out.push_back(c);
    }
    while (out.size() > 1 && out.back() == u'\\') out.pop_back();
    return out;
}

// A quoted string with \" and \\ escapes; returns the rest after it.
std::optional<std::string> unquote(std::string_view s, std::string_view* rest) {
    if (s.empty() || s.front() != '"') return std::nullopt;
    std::string out;
    size_t i = 1;
    for (; i < s.size() && s[i] != '"'; ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) ++i;
        out.push_back(s[i]);
    }
    if (i >= s.size()) return std::nullopt;
    *rest = s.substr(i + 1);
    return out;
}

std::optional<RegistryValue> parseValue(std::string_view line) {
    std::string_view rest;
    std::string name;
    if (auto quoted = unquote(line, &rest)) {
        name = *quoted;
    } else {
        size_t eq = line.find('=');
        if (eq == std::string_view::npos) return std::nullopt;
        name = std::string(trim(line.substr(0, eq)));
        rest = line.substr(eq);
    }
    rest = trim(rest);
    if (rest.empty() || rest.front() != '=') return std::nullopt;
    rest = trim(rest.substr(1));
    auto wideName = fromUtf8(name);
    if (!wideName || wideName->empty()) return std::nullopt;
    RegistryValue value;
    value.name = *wideName;
    if (rest.substr(0, 6) == "dword:") {
        std::string digits(trim(rest.substr(6)));
        if (digits.empty() || digits.size() > 8) return std::nullopt;
        char* end = nullptr;
        unsigned long v = std::strtoul(digits.c_str(), &end, 16);
        if (*end != 0) return std::nullopt;
        value.type = REG_DWORD;
        uint32_t d = uint32_t(v);
        value.data.resize(4);
        std::memcpy(value.data.data(), &d, 4);
    } else if (rest.substr(0, 4) == "hex:") {
        value.type = REG_BINARY;
        std::string_view bytes = rest.substr(4);
        while (!bytes.empty()) {
            size_t comma = bytes.find(',');
            std::string item(trim(bytes.substr(0, comma)));
            if (!item.empty()) {
                char* end = nullptr;
                unsigned long b = std::strtoul(item.c_str(), &end, 16);
                if (*end != 0 || b > 0xFF || item.size() > 2) return std::nullopt;
                value.data.push_back(uint8_t(b));
            }
            if (comma == std::string_view::npos) break;
            bytes.remove_prefix(comma + 1);
        }
    } else {
        std::string_view after;
        auto text = unquote(rest, &after);
        if (!text || !trim(after).empty()) return std::nullopt;
        auto wide = fromUtf8(*text);
        if (!wide) return std::nullopt;
        value.type = REG_SZ;
        value.data.resize((wide->size() + 1) * 2, 0);
        std::memcpy(value.data.data(), wide->data(), wide->size() * 2);
    }
    return value;
}

}  // namespace

std::vector<RegistryKey> Registry::parse(std::string_view text) {
    std::vector<RegistryKey> keys;
    RegistryKey* current = nullptr;
    while (!text.empty()) {
        size_t nl = text.find('\n');
        std::string_view line = trim(text.substr(0, nl));
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        if (line.empty() || line.front() == ';' || line.front() == '#') continue;
        if (line.front() == '[') {
            current = nullptr;
            if (line.back() != ']') continue;
            auto path = fromUtf8(line.substr(1, line.size() - 2));
            if (!path || path->empty()) continue;
            keys.push_back(RegistryKey{canonicalKey(*path), {}});
            current = &keys.back();
            continue;
        }
        if (!current) continue;
        if (auto value = parseValue(line)) {
            for (auto& v : current->values) {
                if (equalNoCase(v.name, value->name)) {
                    v = std::move(*value);
                    value.reset();
                    break;
                }
            }
            if (value) current->values.push_back(std::move(*value));
        }
    }
    return keys;
}

std::optional<RegistryKey> Registry::key(std::u16string_view path) const {
    if (file_.empty()) return std::nullopt;
    std::ifstream in(file_, std::ios::binary);
    if (!in) return std::nullopt;
    std::stringstream buffer;
    buffer << in.rdbuf();
    std::u16string wanted = canonicalKey(path);
    std::optional<RegistryKey> found;
    for (auto& key : parse(buffer.str())) {
        if (equalNoCase(key.path, wanted)) {
            if (!found) found = RegistryKey{key.path, {}};
            for (auto& v : key.values) found->values.push_back(std::move(v));
        } else if (key.path.size() > wanted.size() && key.path[wanted.size()] == u'\\' &&
                   equalNoCase(std::u16string_view(key.path).substr(0, wanted.size()), wanted)) {
            if (!found) found = RegistryKey{wanted, {}};
        }
    }
    return found;
}

}  // namespace kalvo::kernel

using namespace kalvo::kernel;

namespace {

const RegistryValue* findValue(const RegistryKey& key, std::u16string_view name) {
    const RegistryValue* found = nullptr;
    for (auto& v : key.values)
        if (equalNoCase(v.name, name)) found = &v;  // the last one wins
    return found;
}

// Direct mode: the value lands in the caller's variable at EntryContext.
NTSTATUS storeDirect(ULONG type, const void* data, ULONG length, PVOID entryContext) {
    if (!entryContext) return STATUS_INVALID_PARAMETER;
    switch (type) {
        case REG_SZ:
        case REG_EXPAND_SZ: {
            auto* string = static_cast<PUNICODE_STRING>(entryContext);
            ULONG bytes = length >= 2 ? length - 2 : 0;  // without the NUL
            if (!string->Buffer) {
                string->Buffer = static_cast<PWSTR>(ExAllocatePool(PagedPool, bytes + 2));
                if (!string->Buffer) return STATUS_NO_MEMORY;
                string->MaximumLength = USHORT(bytes + 2);
            } else if (bytes + 2 > string->MaximumLength) {
                return STATUS_BUFFER_TOO_SMALL;
            }
            std::memcpy(string->Buffer, data, bytes);
            string->Buffer[bytes / 2] = 0;
            string->Length = USHORT(bytes);
            return STATUS_SUCCESS;
        }
        case REG_DWORD:
            if (length < 4) return STATUS_INVALID_PARAMETER;
            std::memcpy(entryContext, data, 4);
            return STATUS_SUCCESS;
        default: {
            // Other types: a negative LONG at EntryContext gives the size of
            // the buffer there; data of at most 4 bytes is stored in place.
            LONG size;
            std::memcpy(&size, entryContext, sizeof size);
            if (size < 0) {
                if (ULONG(-size) < length) return STATUS_BUFFER_TOO_SMALL;
                std::memcpy(entryContext, data, length);
            } else {
                if (length > 4) return STATUS_BUFFER_TOO_SMALL;
                std::memcpy(entryContext, data, length);
            }
            return STATUS_SUCCESS;
        }
    }
}

// The default's type: DefaultType without the expected type of a type check.
ULONG defaultTypeOf(const RTL_QUERY_REGISTRY_TABLE& entry) {
    return (entry.Flags & RTL_QUERY_REGISTRY_TYPECHECK)
               ? entry.DefaultType & ~ULONG(RTL_QUERY_REGISTRY_TYPECHECK_MASK)
               : entry.DefaultType;
}

NTSTATUS deliver(const RTL_QUERY_REGISTRY_TABLE& entry, ULONG type, const void* data, ULONG length,
                 PVOID context) {
    if (entry.Flags & RTL_QUERY_REGISTRY_DIRECT) {
        // A direct read stores by the value's type: a string where the caller
        // holds a ULONG would be written over its stack. With the type check
        // only the expected type is stored.
        if ((entry.Flags & RTL_QUERY_REGISTRY_TYPECHECK) &&
            type != (entry.DefaultType >> RTL_QUERY_REGISTRY_TYPECHECK_SHIFT))
            return STATUS_OBJECT_TYPE_MISMATCH;
        return storeDirect(type, data, length, entry.EntryContext);
    }
    std::vector<uint8_t> copy(static_cast<const uint8_t*>(data),
                              static_cast<const uint8_t*>(data) + length);
    return entry.QueryRoutine(entry.Name, type, copy.empty() ? nullptr : copy.data(), length,
                              context, entry.EntryContext);
}

NTSTATUS deliverDefault(const RTL_QUERY_REGISTRY_TABLE& entry, PVOID context) {
    ULONG defaultType = defaultTypeOf(entry);
    if (defaultType == REG_NONE) return STATUS_SUCCESS;
    ULONG length = entry.DefaultLength;
    if (length == 0 && entry.DefaultData && (defaultType == REG_SZ || defaultType == REG_EXPAND_SZ))
        length = ULONG(
            (terminated(static_cast<const WCHAR*>(entry.DefaultData), 0x7FFE).size() + 1) * 2);
    if (!entry.DefaultData && length) return STATUS_INVALID_PARAMETER;
    return deliver(entry, defaultType, entry.DefaultData, length, context);
}

}  // namespace

extern "C" NTSTATUS RtlQueryRegistryValues(ULONG relativeTo, PCWSTR path,
                                           PRTL_QUERY_REGISTRY_TABLE queryTable, PVOID context,
                                           PVOID) {
    Kernel* kernel = Kernel::current();
    if (!kernel || !queryTable || !path) return STATUS_INVALID_PARAMETER;
    std::u16string base;
    switch (relativeTo & ~ULONG(RTL_REGISTRY_OPTIONAL)) {
        case RTL_REGISTRY_ABSOLUTE:
            break;
        case RTL_REGISTRY_SERVICES:
            base = u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\";
            break;
        case RTL_REGISTRY_CONTROL:
            base = u"\\Registry\\Machine\\System\\CurrentControlSet\\Control\\";
            break;
        default:
            return STATUS_INVALID_PARAMETER;
    }
    std::u16string topPath = base + std::u16string(terminated(path, 0x7FFE));
    auto top = kernel->registry().key(topPath);
    if (!top) return STATUS_OBJECT_NAME_NOT_FOUND;
    std::optional<RegistryKey> current = top;
    for (auto* entry = queryTable; entry->QueryRoutine || entry->Name; ++entry) {
        if (entry->Flags & RTL_QUERY_REGISTRY_TOPKEY) current = top;
        if (entry->Flags & RTL_QUERY_REGISTRY_SUBKEY) {
            if (!entry->Name) return STATUS_INVALID_PARAMETER;
            current = kernel->registry().key(top->path + u"\\" +
                                             std::u16string(terminated(entry->Name, 0x7FFE)));
            if (!current) {
                if (entry->Flags & RTL_QUERY_REGISTRY_REQUIRED) return STATUS_OBJECT_NAME_NOT_FOUND;
                continue;
            }
            if (!entry->QueryRoutine) continue;
        }
        if (!current) continue;  // inside a missing optional subkey
        if (entry->Flags & RTL_QUERY_REGISTRY_DIRECT) {
            if (!entry->Name) return STATUS_INVALID_PARAMETER;
        } else if (!entry->QueryRoutine) {
            return STATUS_INVALID_PARAMETER;
        }
        NTSTATUS status = STATUS_SUCCESS;
        if (entry->Name && !(entry->Flags & RTL_QUERY_REGISTRY_SUBKEY)) {
            const RegistryValue* value = findValue(*current, terminated(entry->Name, 0x7FFE));
            if (value) {
                status = deliver(*entry, value->type, value->data.data(), ULONG(value->data.size()),
                                 context);
            } else if (entry->Flags & RTL_QUERY_REGISTRY_REQUIRED) {
                return STATUS_OBJECT_NAME_NOT_FOUND;
            } else {
                status = deliverDefault(*entry, context);
            }
        } else {
            // No name: every value of the key goes to the routine.
            if (current->values.empty() && (entry->Flags & RTL_QUERY_REGISTRY_NOVALUE)) {
                status = entry->QueryRoutine(nullptr, REG_NONE, nullptr, 0, context,
                                             entry->EntryContext);
            }
            for (auto& value : current->values) {
                std::u16string name = value.name;
                std::vector<uint8_t> data = value.data;
                status = entry->QueryRoutine(name.data(), value.type,
                                             data.empty() ? nullptr : data.data(),
                                             ULONG(data.size()), context, entry->EntryContext);
                if (!NT_SUCCESS(status)) break;
            }
        }
        if (!NT_SUCCESS(status)) return status;
    }
    return STATUS_SUCCESS;
}
