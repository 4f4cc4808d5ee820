#include "list.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "lock_handlers.h"

namespace {

// Gives the tests a view of the whole storage, beyond the held elements.
struct ProbeList : List<int> {
    using List<int>::List;
    const int* storage() const { return buffer_ptr; }
};

std::vector<int> held(List<int>& list)
{
    std::vector<int> out;
    for (unsigned i = 0; i < list.get_Count(); ++i)
        out.push_back(list[i]);
    return out;
}

void fill(List<int>& list, std::vector<int> values)
{
    for (int v : values)
        ASSERT_EQ(list.set_Data_Add(v, false), 0);
}

}  // namespace

TEST(ListStore, CapacityAndStorageless)
{
    List<int> list;
    EXPECT_EQ(list.set_Data_Add(1, false), 1);
    EXPECT_EQ(list.set_Clear(false), 0);  // nothing to clear
    ScriptedLock lock;
    EXPECT_NE(list.set_Lock_Control_Handler(ScriptedLock::handler, &lock), 0);

    list.init(100);
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(list.set_Data_Add(i, false), 0);
    EXPECT_EQ(list.set_Data_Add(100, false), 1);
    EXPECT_EQ(list.get_Count(), 100u);
    EXPECT_EQ(list[99], 99);
}

TEST(ListStore, ClearZeroFillsWholeCapacity)
{
    ProbeList list(4);
    fill(list, {1, 2, 3});
    list.set_Remove(0u, 2u, false);  // leaves stale values in the tail slots
    EXPECT_EQ(list.set_Clear(false), 0);
    EXPECT_EQ(list.get_Count(), 0u);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(list.storage()[i], 0);
}

TEST(ListStore, InsertSetGetAndResize)
{
    List<int> list(5);
    fill(list, {1, 4});
    const int middle[] = {2, 3};
    EXPECT_EQ(list.set_Insert(1, middle, 2, false), 0);
    EXPECT_EQ(held(list), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(list.set_Insert(5, 9, false), 1);         // beyond the end
    EXPECT_EQ(list.set_Data_Add(middle, 2, false), 1);  // only one place left
    EXPECT_EQ(list.set_Data(3, 40, false), 0);
    EXPECT_EQ(list.set_Data(4, 50, false), 1);
    int out[2] = {};
    EXPECT_EQ(list.get_Data(2, out, 2, false), 0);
    EXPECT_EQ(out[1], 40);
    EXPECT_EQ(list.get_Data(3, out, 2, false), 1);
    EXPECT_EQ(list.set_Size(3, false), 1);
    EXPECT_EQ(list.set_Size(8, false), 0);
    EXPECT_EQ(list.get_Size(), 8u);
    EXPECT_EQ(held(list), (std::vector<int>{1, 2, 3, 40}));
}

TEST(ListRemove, ByIndexAndRange)
{
    List<int> list(10);
    fill(list, {1, 2});
    EXPECT_EQ(list.set_Remove(2u, false), 1);
    fill(list, {3});
    EXPECT_EQ(list.set_Remove(2u, false), 0);
    EXPECT_EQ(held(list), (std::vector<int>{1, 2}));
    fill(list, {3, 4, 5});
    EXPECT_EQ(list.set_Remove(1u, 5u, false), 1);  // only 4 held from index 1
    EXPECT_EQ(list.set_Remove(1u, 2u, false), 0);
    EXPECT_EQ(held(list), (std::vector<int>{1, 4, 5}));
}

TEST(ListRemove, FindAndRemoveAll)
{
    List<int> list(10);
    fill(list, {5, 7, 5, 9, 5});
    unsigned index = 0;
    EXPECT_EQ(list.get_Find_Index(9, &index, false), 0);
    EXPECT_EQ(index, 3u);
    EXPECT_EQ(list.get_Find_Index_Last(5, &index, false), 0);
    EXPECT_EQ(index, 4u);
    EXPECT_EQ(list.get_Find_Index_With(
                  6, &index, [](const int& e, const int& d) { return e > d; }, false),
              0);
    EXPECT_EQ(index, 1u);
    EXPECT_EQ(list.get_Find_Index(8, &index, false), 1);

    EXPECT_EQ(list.set_Remove_All(5, false), 0);
    EXPECT_EQ(held(list), (std::vector<int>{7, 9}));
    EXPECT_EQ(list.set_Remove_All(5, false), 1);
    EXPECT_EQ(list.set_Remove(9, false), 0);
    EXPECT_EQ(held(list), (std::vector<int>{7}));
}

TEST(ListAccess, OutOfIndexThrowsText)
{
    List<int> list(5);
    fill(list, {1, 2, 3});
    list[2] = 30;
    EXPECT_EQ(list.get_Data_Reference(2), 30);
    try {
        list[3];
        FAIL() << "no exception";
    } catch (const char* text) {
        EXPECT_STREQ(text, "get_Data_Reference(): out of index");
    }
}

TEST(ListLocking, HandlerCodesAndLockIgnore)
{
    ScriptedLock lock;
    List<int> list(4);
    ASSERT_EQ(list.set_Lock_Control_Handler(ScriptedLock::handler, &lock), 0);
    lock.lock_result = 1;
    EXPECT_EQ(list.set_Data_Add(1, false), 2);
    EXPECT_EQ(list.get_Count(), 0u);
    EXPECT_EQ(list.set_Data_Add(1, true), 0);  // lock skipped
    EXPECT_EQ(lock.locks, 1);

    lock.lock_result = 0;
    lock.unlock_result = 1;
    EXPECT_EQ(list.set_Remove(0u, false), 4);
    EXPECT_EQ(list.get_Count(), 0u);
    lock.unlock_result = 0;

    int locks = lock.locks, unlocks = lock.unlocks;
    EXPECT_EQ(list.set_Manual_Lock(true), 0);
    EXPECT_EQ(list.set_Manual_Lock(false), 0);
    EXPECT_EQ(lock.locks, locks + 1);
    EXPECT_EQ(lock.unlocks, unlocks + 1);
    lock.unlock_result = 9;
    EXPECT_EQ(list.set_Manual_Lock(false), 12);
}

TEST(ListLocking, RemoveAllStopsAtHandlerFailure)
{
    ScriptedLock lock;
    List<int> list(8);
    fill(list, {5, 5, 5});
    list.set_Lock_Control_Handler(ScriptedLock::handler, &lock);
    // find + remove of the first match lock twice; the second search fails.
    lock.lock_result = 6;
    lock.fail_lock_from_call = 3;
    EXPECT_EQ(list.set_Remove_All(5, false), 7);
    EXPECT_EQ(list.get_Count(), 2u);  // the first removal stays

    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    list.set_Lock_Control_Handler(set_Mutex_Lock, &mutex);
    EXPECT_EQ(list.set_Remove_All(5, false), 0);
    EXPECT_EQ(list.get_Count(), 0u);
    list.set_Lock_Control_Handler(set_Mutex_Lock, nullptr);
    EXPECT_EQ(list.set_Remove_All(5, false), 2);
}
