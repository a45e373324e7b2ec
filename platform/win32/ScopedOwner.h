// One way to own what the system hands out: a handle, a GDI object, a device context, a COM pointer.
// A traits class says what "none" is and how to free one; the owner frees it exactly once, at the end
// of its scope, and can pass it on by moving. Kinds of owners are aliases of ScopedOwner with their
// traits (Win32Handles.h for kernel and WinINet handles, widgets/GdiHandles.h for GDI, ComPtr below).
//
// Traits: static T InvalidValue(); bool Free(T) (whether the system accepted the release); optionally
// static bool IsValid(T) where more than one value means "none". A traits object may carry state that
// Free needs (the device context a selection is undone in); it is kept beside the value.
#pragma once

#include <type_traits>
#include <utility>

namespace platform::win32 {

namespace detail {
template <typename Traits, typename T, typename = void> struct HasIsValid : std::false_type {};
template <typename Traits, typename T>
struct HasIsValid<Traits, T, std::void_t<decltype(Traits::IsValid(std::declval<T>()))>> : std::true_type {};
} // namespace detail

template <typename T, typename Traits> class ScopedOwner {
public:
    ScopedOwner() : value_(Traits::InvalidValue()) {}
    explicit ScopedOwner(T value, Traits traits = Traits()) : value_(value), traits_(std::move(traits)) {}
    ~ScopedOwner() { Reset(); }

    ScopedOwner(ScopedOwner&& other) noexcept : value_(other.Release()), traits_(std::move(other.traits_)) {}
    ScopedOwner& operator=(ScopedOwner&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
            traits_ = std::move(other.traits_);
        }
        return *this;
    }
    ScopedOwner(const ScopedOwner&) = delete;
    ScopedOwner& operator=(const ScopedOwner&) = delete;

    T Get() const { return value_; }
    bool Valid() const { return IsValid(value_); }
    explicit operator bool() const { return Valid(); }

    // Frees now; false when the system refused (a handle whose close reports a failed write).
    bool Close() {
        if (!Valid()) return true;
        const T value = std::exchange(value_, Traits::InvalidValue());
        return traits_.Free(value);
    }
    // Frees what is owned and takes value instead.
    void Reset(T value = Traits::InvalidValue()) {
        if (value == value_) return;
        Close();
        value_ = value;
    }
    // Gives the value away without freeing it (to an owner the system provides, such as a window's region).
    [[nodiscard]] T Release() { return std::exchange(value_, Traits::InvalidValue()); }
    // For a function that returns its result through a pointer: frees what is owned first.
    T* Put() {
        Reset();
        return &value_;
    }
    // Member access for owned COM interfaces.
    template <typename U = T, typename = std::enable_if_t<std::is_class_v<std::remove_pointer_t<U>>>>
    U operator->() const {
        return value_;
    }

private:
    static bool IsValid(T value) {
        if constexpr (detail::HasIsValid<Traits, T>::value) {
            return Traits::IsValid(value);
        } else {
            return value != Traits::InvalidValue();
        }
    }

    T value_;
    Traits traits_;
};

// A COM interface pointer: released once at the end of its scope.
struct ComTraits {
    static std::nullptr_t InvalidValue() { return nullptr; }
    template <typename I> static bool Free(I* object) {
        object->Release();
        return true;
    }
};
template <typename I> using ComPtr = ScopedOwner<I*, ComTraits>;

} // namespace platform::win32
