#pragma once

#include <functional>
#include <memory>
#include <type_traits>

namespace tavo {

class ApiClient;

// Runs work on the client's serial queue after the queue's debug line; at
// once when there is no queue yet (only before start-up has made one).
void submitToSerialQueue(ApiClient& client, std::function<void()> work);

// Runs work with the target on the serial queue, if the target is still
// there then.
template <typename T>
void submitToSerialQueue(ApiClient& client, const std::shared_ptr<T>& target,
                         std::type_identity_t<std::function<void(T&)>> work) {
    std::weak_ptr<T> weak = target;
    submitToSerialQueue(client, [weak, work = std::move(work)] {
        if (auto self = weak.lock())
            work(*self);
    });
}

// Runs work on the main queue.
void submitToMainQueue(std::function<void()> work);

// Runs work with the target on the main queue, if the target is still there
// then.
template <typename T>
void submitToMainQueue(const std::shared_ptr<T>& target,
                       std::type_identity_t<std::function<void(T&)>> work) {
    std::weak_ptr<T> weak = target;
    submitToMainQueue([weak, work = std::move(work)] {
        if (auto self = weak.lock())
            work(*self);
    });
}

}  // namespace tavo
