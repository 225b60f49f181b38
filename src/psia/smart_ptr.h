// Reference-counting owner of a heap object. The count is a plain integer:
// whoever shares one object between threads makes every copy and release
// under a lock of its own.
#pragma once

#include <cstdint>

namespace telvaro {

template <typename T>
class TSmartPtr {
public:
    TSmartPtr() = default;
    explicit TSmartPtr(T* object) { Attach(object); }
    TSmartPtr(const TSmartPtr& other) { CopyFrom(other); }
    TSmartPtr& operator=(const TSmartPtr& other) {
        if (this != &other && object_ != other.object_) {
            Release();
            CopyFrom(other);
        }
        return *this;
    }
    virtual ~TSmartPtr() { Release(); }

    // Takes ownership of object (with a count of 1) after releasing the
    // current one.
    void Attach(T* object) {
        Release();
        if (!object) return;
        count_ = new uint32_t(1);
        object_ = object;
    }

    // Drops this reference; the last one deletes the object through its
    // virtual destructor.
    void Release() {
        uint32_t* count = count_;
        T* object = object_;
        count_ = nullptr;
        object_ = nullptr;
        if (!count) return;
        if (*count > 0) --*count;
        if (*count == 0) {
            delete object;
            delete count;
        }
    }

    T* Get() const { return object_; }
    T* operator->() const { return object_; }
    T& operator*() const { return *object_; }
    explicit operator bool() const { return object_ != nullptr; }
    uint32_t UseCount() const { return count_ ? *count_ : 0; }

private:
    void CopyFrom(const TSmartPtr& other) {
        if (!other.count_ || *other.count_ == 0) return;
        ++*other.count_;
        count_ = other.count_;
        object_ = other.object_;
    }

    uint32_t* count_ = nullptr;
    T* object_ = nullptr;
};

}  // namespace telvaro
