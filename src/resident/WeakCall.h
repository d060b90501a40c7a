#pragma once

#include <functional>
#include <memory>
#include <utility>

namespace tavo {

// A call of target's method that does nothing (and returns a default value)
// once the target is gone. The resident application's controllers reach
// each other through such calls, so none keeps another alive.
template <typename T, typename R, typename... Args>
std::function<R(Args...)> weakCall(const std::shared_ptr<T>& target, R (T::*method)(Args...)) {
    std::weak_ptr<T> weak = target;
    return [weak, method](Args... args) -> R {
        if (auto self = weak.lock())
            return ((*self).*method)(std::forward<Args>(args)...);
        return R();
    };
}

// Calls function with the arguments when it is set.
template <typename F, typename... Args>
void callIfSet(const F& function, Args&&... args) {
    if (function)
        function(std::forward<Args>(args)...);
}

}  // namespace tavo
