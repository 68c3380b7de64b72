// Observers of one thread's platform calls. The library has a single observer hook for the whole
// process; the tests install one router there, which hands each call to the observers attached on
// the thread that made it, the newest first, so that tests on several threads each see their own.
#pragma once

#include "platform/Observer.h"

#include <cstdio>
#include <cstdlib>

namespace kivtest {

// Attached to the constructing thread while it lives; observers end in the reverse order of their
// making, on the thread that made them. An observer that ends out of turn stops the program, rather
// than leave a link to itself behind.
class ThreadObserver : public kiv::platform::Observer {
public:
    ThreadObserver() noexcept : below_(Top()) {
        static Router router;  // installed by the first observer, before any call it is to see
        Top() = this;
    }
    ~ThreadObserver() override {
        if (Top() != this) {
            std::fputs("a platform observer ended that is not the newest on its thread\n", stderr);
            std::abort();
        }
        Top() = below_;
    }
    ThreadObserver(const ThreadObserver&) = delete;
    ThreadObserver& operator=(const ThreadObserver&) = delete;

private:
    static ThreadObserver*& Top() noexcept {
        thread_local ThreadObserver* top = nullptr;
        return top;
    }

    class Router final : public kiv::platform::Observer {
    public:
        Router() noexcept { kiv::platform::SetObserver(this); }
        ~Router() override { kiv::platform::SetObserver(nullptr); }
        // The newest observer that answers a call stands in for the platform; every one is told of it.
        bool Intercept(kiv::platform::Call& call) override {
            for (ThreadObserver* o = Top(); o; o = o->below_)
                if (o->Intercept(call)) return true;
            return false;
        }
        void Observe(const kiv::platform::Call& call) override {
            for (ThreadObserver* o = Top(); o; o = o->below_) o->Observe(call);
        }
    };

    ThreadObserver* below_;
};

}  // namespace kivtest
