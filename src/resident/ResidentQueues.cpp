#include "resident/ResidentQueues.h"

#include "foundation/Log.h"
#include "foundation/MainQueue.h"
#include "foundation/SerialQueue.h"
#include "service/ApiClient.h"

namespace tavo {

void submitToSerialQueue(ApiClient& client, std::function<void()> work) {
    auto queue = client.serialDispatchQueue();
    if (!queue) {
        work();
        return;
    }
    queue->async([label = queue->label(), work = std::move(work)] {
        TAVO_DLOG("Serial dispatch queue label = [%s]", label.c_str());
        work();
    });
}

void submitToMainQueue(std::function<void()> work) {
    MainQueue::main().async(std::move(work));
}

}  // namespace tavo
