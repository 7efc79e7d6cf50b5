#pragma once
// An owned reference to a GLib object: a GObject (or a subclass) or a GVariant. The reference
// goes with its owner, so no path of a function can forget an unref.

#include <glib-object.h>

#include <utility>

namespace kit {

// How a type is referenced; GObject and its subclasses by default.
template <class T>
struct GRefTraits {
    static void ref(T* object) { g_object_ref(object); }
    static void unref(T* object) { g_object_unref(object); }
    static void refSink(T* object) { g_object_ref_sink(object); }
};

template <>
struct GRefTraits<GVariant> {
    static void ref(GVariant* variant) { g_variant_ref(variant); }
    static void unref(GVariant* variant) { g_variant_unref(variant); }
    static void refSink(GVariant* variant) { g_variant_ref_sink(variant); }
};

template <class T>
class GRef {
public:
    GRef() = default;
    // Takes over a reference the caller owns.
    static GRef adopt(T* object) {
        GRef ref;
        ref.object_ = object;
        return ref;
    }
    // Adds a reference of its own.
    static GRef retain(T* object) {
        if (object) GRefTraits<T>::ref(object);
        return adopt(object);
    }
    // Takes a floating reference (a GVariant just built, an initially unowned object) or adds one.
    static GRef sink(T* object) {
        if (object) GRefTraits<T>::refSink(object);
        return adopt(object);
    }
    GRef(const GRef& other) : object_(other.object_) {
        if (object_) GRefTraits<T>::ref(object_);
    }
    GRef(GRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    GRef& operator=(GRef other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    ~GRef() {
        if (object_) GRefTraits<T>::unref(object_);
    }

    T* get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    T* release() { return std::exchange(object_, nullptr); }

private:
    T* object_ = nullptr;
};

using VariantRef = GRef<GVariant>;

}  // namespace kit
