#include "kernel/object_namespace.h"

#include "kernel/object_records.h"
#include "kernel/wide_text.h"

namespace kalvo::kernel {

namespace {

bool startsWithNoCase(std::u16string_view text, std::u16string_view prefix) {
    return text.size() >= prefix.size() && equalNoCase(text.substr(0, prefix.size()), prefix);
}

bool validName(std::u16string_view name) {
    if (name.size() < 2 || name[0] != u'\\' || name.back() == u'\\') return false;
    for (char16_t c : name)
        if (c == 0) return false;
    return true;
}

}  // namespace

std::u16string ObjectNamespace::normaliseLinkName(std::u16string_view name) {
    for (std::u16string_view prefix :
         {std::u16string_view(u"\\DosDevices\\Global\\"), std::u16string_view(u"\\DosDevices\\"),
          std::u16string_view(u"\\GLOBAL??\\"), std::u16string_view(u"\\??\\")}) {
        if (startsWithNoCase(name, prefix))
            return u"\\??\\" + std::u16string(name.substr(prefix.size()));
    }
    return std::u16string(name);
}

NTSTATUS ObjectNamespace::insertDevice(std::u16string_view name, PDEVICE_OBJECT device) {
    if (!validName(name)) return STATUS_OBJECT_NAME_INVALID;
    std::lock_guard lock(mutex_);
    auto [it, inserted] = devices_.emplace(upcase(name), device);
    return inserted ? STATUS_SUCCESS : STATUS_OBJECT_NAME_COLLISION;
}

void ObjectNamespace::removeDevice(std::u16string_view name, PDEVICE_OBJECT device) {
    std::lock_guard lock(mutex_);
    auto it = devices_.find(upcase(name));
    if (it != devices_.end() && it->second == device) devices_.erase(it);
}

NTSTATUS ObjectNamespace::createLink(std::u16string_view name, std::u16string_view target) {
    if (!validName(name) || !validName(target)) return STATUS_OBJECT_NAME_INVALID;
    std::u16string normalised = normaliseLinkName(name);
    if (!validName(normalised) || normalised.size() <= 4) return STATUS_OBJECT_NAME_INVALID;
    std::lock_guard lock(mutex_);
    auto [it, inserted] =
        links_.emplace(upcase(normalised), LinkEntry{normalised, std::u16string(target)});
    return inserted ? STATUS_SUCCESS : STATUS_OBJECT_NAME_COLLISION;
}

NTSTATUS ObjectNamespace::deleteLink(std::u16string_view name) {
    std::lock_guard lock(mutex_);
    return links_.erase(upcase(normaliseLinkName(name))) ? STATUS_SUCCESS
                                                         : STATUS_OBJECT_NAME_NOT_FOUND;
}

std::vector<LinkEntry> ObjectNamespace::links() const {
    std::lock_guard lock(mutex_);
    std::vector<LinkEntry> out;
    for (auto& [key, entry] : links_) out.push_back(entry);
    return out;
}

std::vector<std::u16string> ObjectNamespace::linksTo(std::u16string_view deviceName) const {
    std::lock_guard lock(mutex_);
    std::vector<std::u16string> out;
    for (auto& [key, entry] : links_)
        if (equalNoCase(entry.target, deviceName)) out.push_back(entry.name);
    return out;
}

NTSTATUS ObjectNamespace::openDevice(std::string_view clientPath, PDEVICE_OBJECT* device) const {
    *device = nullptr;
    auto wide = fromUtf8(clientPath);
    if (!wide) return STATUS_OBJECT_NAME_INVALID;
    std::u16string_view path = *wide;
    // "\\.\name" and "\\?\name" name the DOS device directory.
    if (path.size() > 4 && path[0] == u'\\' && path[1] == u'\\' &&
        (path[2] == u'.' || path[2] == u'?') && path[3] == u'\\') {
        path.remove_prefix(4);
    } else {
        return STATUS_OBJECT_PATH_NOT_FOUND;
    }
    if (path.empty() || path.find(u'\\') != std::u16string_view::npos ||
        path.find(u'\0') != std::u16string_view::npos)
        return STATUS_OBJECT_NAME_INVALID;
    std::lock_guard lock(mutex_);
    auto link = links_.find(upcase(u"\\??\\" + std::u16string(path)));
    if (link == links_.end()) return STATUS_OBJECT_NAME_NOT_FOUND;
    auto target = devices_.find(upcase(link->second.target));
    if (target == devices_.end()) return STATUS_OBJECT_NAME_NOT_FOUND;
    referenceDevice(target->second);
    *device = target->second;
    return STATUS_SUCCESS;
}

}  // namespace kalvo::kernel
