#pragma once
// Two-phase construction of the objects others refer to weakly (windows, views, controllers):
// the object is made owned by a shared pointer first, then its init() runs, so that init()
// and the hooks it calls may hand out weak references to the object.

#include <memory>
#include <utility>

namespace kit {

template <class T, class... Args>
std::shared_ptr<T> create(Args&&... args) {
    auto object = std::make_shared<T>(std::forward<Args>(args)...);
    object->init();
    return object;
}

}  // namespace kit
