#include "queue.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "BMC_data_protocol.h"
#include "lock_handlers.h"

TEST(QueueOrder, FullEmptyAndFifo)
{
    Queue<int> q;
    q.init(3);
    EXPECT_EQ(q.Enqueue(1), 0);
    EXPECT_EQ(q.Enqueue(2), 0);
    EXPECT_EQ(q.Enqueue(3), 0);
    EXPECT_EQ(q.Enqueue(4), 1);
    EXPECT_TRUE(q.get_Full());
    int v = 0;
    for (int expected = 1; expected <= 3; ++expected) {
        ASSERT_EQ(q.Dequeue(&v), 0);
        EXPECT_EQ(v, expected);
    }
    EXPECT_EQ(q.Dequeue(&v), 1);
    EXPECT_EQ(q.get_Count(), 0u);
}

TEST(QueueOrder, WrapsOverThousandOperations)
{
    Queue<unsigned> q;
    q.init(3);
    q.Enqueue(0u);  // keep one element in so that front and rear differ
    unsigned next_in = 1, next_out = 0, v = 0;
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(q.Enqueue(next_in++), 0);
        ASSERT_EQ(q.Dequeue(&v), 0);
        ASSERT_EQ(v, next_out++);
        ASSERT_EQ(q.get_Count(), 1u);
    }
}

TEST(QueueOrder, CapacityTwoHundredOfPacketPointers)
{
    Queue<BMC::Packet*> q;
    q.init(200);
    std::vector<BMC::Packet> packets(201);
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(q.Enqueue(&packets[i]), 0);
    BMC::Packet* refused = &packets[200];
    EXPECT_EQ(q.Enqueue(refused), 1);
    BMC::Packet* out = nullptr;
    EXPECT_EQ(q.Dequeue(nullptr), 1);
    EXPECT_EQ(q.get_Count(), 200u);
    ASSERT_EQ(q.Dequeue(&out), 0);
    EXPECT_EQ(out, &packets[0]);
}

TEST(QueueStorage, WithoutStorageRefusesEverything)
{
    ScriptedLock lock;
    Queue<int> q;
    int v = 0;
    EXPECT_EQ(q.Enqueue(1), 1);
    EXPECT_EQ(q.Dequeue(&v), 1);
    EXPECT_NE(q.set_Lock_Control_Handler(ScriptedLock::handler, &lock), 0);
    q.init(0);
    EXPECT_EQ(q.Enqueue(1), 1);
    EXPECT_NE(q.set_Lock_Control_Handler(ScriptedLock::handler, &lock), 0);
    EXPECT_EQ(lock.locks, 0);  // nothing was bound

    q.init(200);
    EXPECT_EQ(q.set_Lock_Control_Handler(ScriptedLock::handler, &lock), 0);
    q.Enqueue(1);
    EXPECT_EQ(lock.locks, 1);
    q.init(200);  // unbinds
    q.Enqueue(1);
    EXPECT_EQ(lock.locks, 1);
}

TEST(QueueLocking, NullMutexGivesTwoAndChangesNothing)
{
    Queue<int> q;
    q.init(4);
    q.Enqueue(7);
    ASSERT_EQ(q.set_Lock_Control_Handler(set_Mutex_Lock, nullptr), 0);
    int v = 0;
    EXPECT_EQ(q.Enqueue(8), 2);
    EXPECT_EQ(q.Dequeue(&v), 2);
    EXPECT_EQ(q.get_Count(), 1u);
    EXPECT_EQ(v, 0);
}

TEST(QueueLocking, HandlerCodesWrapAtEightBits)
{
    ScriptedLock lock;
    Queue<int> q;
    q.init(4);
    q.set_Lock_Control_Handler(ScriptedLock::handler, &lock);

    lock.lock_result = 5;
    EXPECT_EQ(q.Enqueue(1), 6);
    lock.lock_result = 255;
    EXPECT_EQ(q.Enqueue(1), 0);  // 255 + 1 wraps, still nothing stored
    EXPECT_EQ(q.get_Count(), 0u);
    EXPECT_EQ(lock.unlocks, 0);

    lock.lock_result = 0;
    lock.unlock_result = 7;
    EXPECT_EQ(q.Enqueue(1), 10);  // stored all the same
    EXPECT_EQ(q.get_Count(), 1u);
    lock.unlock_result = 254;
    int v = 0;
    EXPECT_EQ(q.Dequeue(&v), 1);  // 254 + 3 wraps to 1
    EXPECT_EQ(q.get_Count(), 0u);
    EXPECT_EQ(v, 1);
    lock.unlock_result = 253;
    EXPECT_EQ(q.Dequeue(&v), 0);  // empty, but the unlock code replaces the 1
}

TEST(QueueLocking, MutexGuardsConcurrentProducers)
{
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    Queue<unsigned> q;
    q.init(16);
    ASSERT_EQ(q.set_Lock_Control_Handler(set_Mutex_Lock, &mutex), 0);
    const unsigned per_producer = 5000;
    auto produce = [&](unsigned tag) {
        for (unsigned i = 0; i < per_producer;) {
            if (q.Enqueue(tag | i) == 0)
                ++i;
            else
                std::this_thread::yield();
        }
    };
    std::thread a(produce, 0x10000u), b(produce, 0x20000u);
    unsigned next[3] = {0, 0, 0}, taken = 0, v = 0;
    while (taken < 2 * per_producer) {
        if (q.Dequeue(&v) != 0) {
            std::this_thread::yield();
            continue;
        }
        unsigned tag = v >> 16;
        ASSERT_TRUE(tag == 1 || tag == 2);
        ASSERT_EQ(v & 0xFFFF, next[tag]++);  // each producer's order holds
        ++taken;
    }
    a.join();
    b.join();
    EXPECT_EQ(q.get_Count(), 0u);
}

TEST(QueueExtras, BlocksFrontSizeAndSearch)
{
    Queue<int> q(4);
    const int in[] = {1, 2, 3};
    int out[3] = {};
    EXPECT_EQ(q.Enqueue(in, 3), 0);
    EXPECT_EQ(q.Enqueue(in, 2), 1);  // all or nothing
    EXPECT_EQ(q.get_Count(), 3u);
    EXPECT_EQ(q.Dequeue(out, 2), 0);
    EXPECT_EQ(out[1], 2);
    EXPECT_EQ(q.Dequeue(out, 2), 1);
    EXPECT_EQ(q.Enqueue(in, 3), 0);  // wraps: 3, 1, 2, 3
    int front = 0;
    EXPECT_EQ(q.get_Front(&front), 0);
    EXPECT_EQ(front, 3);
    unsigned index = 9;
    EXPECT_EQ(q.get_Find_Index(3, &index), 0);
    EXPECT_EQ(index, 0u);
    EXPECT_EQ(q.get_Find_Index_Last(3, &index), 0);
    EXPECT_EQ(index, 3u);
    EXPECT_EQ(q.get_Find_Index_With(2, &index, [](const int& e, const int& d) { return e > d; }), 0);
    EXPECT_EQ(index, 0u);
    EXPECT_EQ(q.get_Find_Index(5, &index), 1);

    EXPECT_EQ(q.set_Size(3), 1);  // holds 4
    EXPECT_EQ(q.set_Size(6), 0);
    EXPECT_EQ(q.get_Size(), 6u);
    EXPECT_EQ(q.Enqueue(4), 0);
    int all[5] = {};
    EXPECT_EQ(q.Dequeue(all, 5), 0);
    EXPECT_EQ(std::vector<int>(all, all + 5), (std::vector<int>{3, 1, 2, 3, 4}));
    q.Enqueue(1);
    EXPECT_EQ(q.set_Clear(), 0);
    EXPECT_EQ(q.get_Count(), 0u);
}
