#pragma once
// The lifetime of an object that hands out callbacks it does not own (posted tasks, GLib
// callbacks, script completions). The object holds a Lifetime; each callback holds a watch()
// and does nothing once the object is gone. Check and use on the main thread.

#include <memory>

namespace kit {

class LifetimeWatch {
public:
    LifetimeWatch() = default;
    // True once the watched object has gone (or ended its lifetime early); a default watch is expired.
    bool expired() const { return token_.expired(); }

private:
    friend class Lifetime;
    explicit LifetimeWatch(std::weak_ptr<const void> token) : token_(std::move(token)) {}
    std::weak_ptr<const void> token_;
};

class Lifetime {
public:
    Lifetime() : token_(std::make_shared<char>(0)) {}
    // A copy is another object with a lifetime of its own.
    Lifetime(const Lifetime&) : Lifetime() {}
    // Assignment keeps this object's own lifetime: nothing is taken from the other.
    Lifetime& operator=(const Lifetime&) { return *this; }  // NOLINT(bugprone-unhandled-self-assignment)

    LifetimeWatch watch() const { return LifetimeWatch(token_); }
    // Ends the lifetime now, before the owner's other members go: every watch is expired from here.
    void end() { token_.reset(); }

private:
    std::shared_ptr<const void> token_;
};

}  // namespace kit
