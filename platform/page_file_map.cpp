#include "platform/page_file_map.h"

#include <new>

#include "platform/named_object.h"
#include "platform/win_error.h"

namespace kalvo::platform {

using detail::NamedObject;

struct PageFileMap::Impl {
    NamedObject* object;
};

PageFileMap::PageFileMap() noexcept = default;
PageFileMap::~PageFileMap() {
    close();
}

PageFileMap::PageFileMap(PageFileMap&& other) noexcept
    : impl_(other.impl_), data_(other.data_), size_(other.size_), created_(other.created_) {
    other.impl_ = nullptr;
    other.data_ = nullptr;
    other.size_ = 0;
}

PageFileMap& PageFileMap::operator=(PageFileMap&& other) noexcept {
    if (this != &other) {
        close();
        impl_ = other.impl_;
        data_ = other.data_;
        size_ = other.size_;
        created_ = other.created_;
        other.impl_ = nullptr;
        other.data_ = nullptr;
        other.size_ = 0;
    }
    return *this;
}

PageFileMap PageFileMap::createOrOpen(std::string_view name, size_t size) {
    PageFileMap result;
    // A section of size 0 cannot be created; the named object refuses it.
    bool created = false;
    NamedObject* object =
        NamedObject::acquire(detail::ObjectKind::PageFileMap, name, size, nullptr, created);
    if (!object) return result;
    result.impl_ = detail::adoptObject<Impl>(object, created);
    if (!result.impl_) return result;
    result.data_ = object->payload();
    result.size_ = object->payloadSize();
    result.created_ = created;
    return result;
}

void PageFileMap::close() noexcept {
    if (!impl_) return;
    NamedObject::release(impl_->object);
    delete impl_;
    impl_ = nullptr;
    data_ = nullptr;
    size_ = 0;
}

}  // namespace kalvo::platform
