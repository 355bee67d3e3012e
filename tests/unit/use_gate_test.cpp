// The gate through which connection threads reach the main window while it
// is being destroyed, and the count of live workers.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "server/UseGate.h"

using namespace std::chrono_literals;
using orvantis::UseGate;
using orvantis::WorkerCount;

TEST(UseGate, RefusesEntryUntilOpenAndAfterClose)
{
    UseGate gate;
    int target = 0;
    EXPECT_EQ(gate.Enter(), nullptr);
    gate.Open(&target);
    {
        UseGate::Pass<int> pass(gate);
        ASSERT_TRUE(pass);
        EXPECT_EQ(pass.get(), &target);
    }
    gate.CloseAndWait();  // nobody inside: returns at once
    UseGate::Pass<int> late(gate);
    EXPECT_FALSE(late);
    EXPECT_FALSE(gate.IsOpen());
}

TEST(UseGate, CloseWaitsForThoseInsideToLeave)
{
    UseGate gate;
    int target = 0;
    gate.Open(&target);

    std::atomic<bool> inside{false};
    std::atomic<bool> left{false};
    std::thread worker([&] {
        UseGate::Pass<int> pass(gate);
        inside = true;
        std::this_thread::sleep_for(150ms);  // a desktop operation in progress
        left = true;
    });
    while (!inside)
        std::this_thread::yield();

    gate.CloseAndWait();
    EXPECT_TRUE(left) << "the gate closed while a worker was still inside";
    worker.join();
}

TEST(UseGate, ManyWorkersRacingAClose)
{
    UseGate gate;
    int target = 0;
    gate.Open(&target);
    std::atomic<int> active{0};
    std::atomic<bool> usedAfterClose{false};
    std::atomic<bool> closed{false};

    std::vector<std::thread> workers;
    for (int i = 0; i < 8; ++i) {
        workers.emplace_back([&] {
            for (int n = 0; n < 2000; ++n) {
                UseGate::Pass<int> pass(gate);
                if (!pass)
                    return;
                ++active;
                if (closed)
                    usedAfterClose = true;
                --active;
            }
        });
    }
    std::this_thread::sleep_for(5ms);
    gate.CloseAndWait();
    closed = true;
    for (auto& w : workers)
        w.join();
    EXPECT_FALSE(usedAfterClose);
    EXPECT_EQ(active, 0);
}

TEST(WorkerCount, WaitForNoneSeesTheLastWorkerEnd)
{
    WorkerCount count;
    EXPECT_TRUE(count.WaitForNone(0ms));
    count.Started();
    count.Started();
    EXPECT_FALSE(count.WaitForNone(20ms));
    std::thread ender([&] {
        std::this_thread::sleep_for(50ms);
        count.Ended();
        count.Ended();
    });
    EXPECT_TRUE(count.WaitForNone(5s));
    EXPECT_EQ(count.Alive(), 0u);
    ender.join();
}
