#pragma once

// The QApplication of the GUI cases: one for the whole test program, on the
// offscreen platform (no display, no tray), made before the first case and
// destroyed after the last. Cases that derive from QtMainQueueTest run the
// main queue on its event loop.
#include <gtest/gtest.h>

#include <QApplication>
#include <QEvent>
#include <cstdlib>
#include <memory>

#include "foundation/MainQueue.h"
#include "platform/qt/QtMainQueueBackend.h"

namespace tavo::test {

class GuiApplicationEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int argc = 1;
        static char name[] = "platform_tray_tests";
        static char* argv[] = {name, nullptr};
        application_ = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { application_.reset(); }

private:
    std::unique_ptr<QApplication> application_;
};

inline ::testing::Environment* const kGuiApplicationEnvironment =
    ::testing::AddGlobalTestEnvironment(new GuiApplicationEnvironment);

class QtMainQueueTest : public ::testing::Test {
protected:
    void SetUp() override {
        backend = std::make_shared<platform::QtMainQueueBackend>();
        main.setBackend(backend);
    }
    void TearDown() override {
        main.drain();
        main.setBackend(nullptr);
        backend.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    MainQueue& main = MainQueue::main();
    std::shared_ptr<platform::QtMainQueueBackend> backend;
};

}  // namespace tavo::test
