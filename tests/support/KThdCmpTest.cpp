#include "support/KThdCmp.h"

#include "model/Error.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

using namespace medlark;

namespace {

// Runs the event loop until done() or a timeout.
bool Pump(const std::function<bool()>& done, int ms = 10000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

} // namespace

TEST(KThdComp, RunsOnceAtATimeAndRelaysTheEnd)
{
    TKThdComp comp;
    EXPECT_FALSE(comp.Running());
    EXPECT_TRUE(comp.Terminated());
    comp.Terminate();   // no effect
    comp.Start();       // no OnExecute: nothing happens
    EXPECT_FALSE(comp.Running());

    std::atomic<QThread*> worker{nullptr};
    int ends = 0;
    bool runningInside = true;
    comp.OnExecute = [&](TKThdComp* sender) {
        worker = QThread::currentThread();
        while (!sender->Terminated())
            QThread::msleep(5);
        sender->Tag = -1;
    };
    comp.OnTerminate = [&](TKThdComp* sender) {
        ++ends;
        runningInside = sender->Running();
        EXPECT_EQ(QThread::currentThread(), qApp->thread());
    };
    comp.Start();
    EXPECT_TRUE(comp.Running());
    EXPECT_FALSE(comp.Terminated());
    try {
        comp.Start();
        FAIL() << "started twice";
    } catch (const Error& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("スレッドを２重に起動できません"));
    }
    ASSERT_TRUE(Pump([&] { return worker.load() != nullptr; }));
    EXPECT_FALSE(comp.Terminated());
    comp.Terminate();
    EXPECT_TRUE(comp.Terminated());
    ASSERT_TRUE(Pump([&] { return ends == 1; }));
    EXPECT_FALSE(runningInside);
    EXPECT_NE(worker.load(), qApp->thread());
    EXPECT_EQ(comp.Tag, -1);   // what the work wrote is seen at its end
}

TEST(KThdComp, ErrorsEndTheRunSilentlyAndTheEndMayStartAgain)
{
    TKThdComp comp;
    int runs = 0;
    int ends = 0;
    comp.OnExecute = [&](TKThdComp*) {
        ++runs;
        throw Error(QStringLiteral("boom"));
    };
    comp.OnTerminate = [&](TKThdComp* sender) {
        if (++ends == 1)
            sender->Start();
    };
    comp.Start();
    ASSERT_TRUE(Pump([&] { return ends == 2; }));
    EXPECT_EQ(runs, 2);
    EXPECT_FALSE(comp.Running());
}

TEST(KThdComp, EventsReachTheUserInterfaceThreadInOrder)
{
    TKThdComp comp;
    std::vector<int> async;
    std::vector<int> results;
    bool ended = false;
    comp.OnExecute = [&](TKThdComp* sender) {
        for (int i = 0; i < 5; ++i)
            sender->AsyncEvent([&, i] {
                EXPECT_EQ(QThread::currentThread(), qApp->thread());
                async.push_back(i * 11);
            });
        // The worker waits for the call, so what it wrote is there when it returns.
        int answer = 0;
        sender->Synchronize([&] {
            EXPECT_EQ(QThread::currentThread(), qApp->thread());
            answer = 42;
        });
        results.push_back(answer);
    };
    comp.OnTerminate = [&](TKThdComp*) { ended = true; };
    comp.Start();
    ASSERT_TRUE(Pump([&] { return ended && async.size() == 5; }));
    EXPECT_EQ(async, (std::vector<int>{0, 11, 22, 33, 44}));
    EXPECT_EQ(results, (std::vector<int>{42}));
    // On the user-interface thread itself the call runs directly.
    bool ran = false;
    comp.Synchronize([&] { ran = true; });
    EXPECT_TRUE(ran);
}
