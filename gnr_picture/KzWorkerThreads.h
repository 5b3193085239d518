// Worker threads of the row-splitting kernels (internal).
//
// Threads are started with pthread_create, whose failure is a return code:
// std::thread would report it (and the allocation of its state) by throwing,
// and no exception may leave an exported kernel. Nothing here throws.
#pragma once

#include <pthread.h>

#include <cstdlib>
#include <type_traits>

namespace kzthreads {

// One started thread running fn(); the callable must outlive Join.
class Worker {
public:
    Worker() = default;
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;
    ~Worker() { Join(); }

    // false when the thread could not be started (fn has not run then).
    template <class F>
    bool Start(F& fn)
    {
        Join();
        started_ = pthread_create(&thread_, nullptr, &Entry<F>, &fn) == 0;
        return started_;
    }
    void Join()
    {
        if (started_)
            pthread_join(thread_, nullptr);
        started_ = false;
    }

private:
    template <class F>
    static void* Entry(void* p)
    {
        (*static_cast<F*>(p))();
        return nullptr;
    }
    pthread_t thread_{};
    bool started_ = false;
};

// Runs task(i) for every i below n and returns when all have ended: task 0
// on the calling thread, the others on started threads. A task whose thread
// cannot be started, or all of them when the thread table cannot be
// allocated, runs on the calling thread after task 0, so every task runs
// exactly once whatever the system grants.
template <class Task>
void RunTasks(unsigned n, Task&& task)
{
    using T = std::remove_reference_t<Task>;
    struct Slot {
        T* task;
        unsigned index;
        pthread_t thread;
        bool started;
        static void* Entry(void* p)
        {
            Slot* s = static_cast<Slot*>(p);
            (*s->task)(s->index);
            return nullptr;
        }
    };
    if (n == 0)
        return;
    Slot* slots = n > 1 ? static_cast<Slot*>(std::malloc(sizeof(Slot) * (n - 1))) : nullptr;
    if (slots == nullptr) {
        for (unsigned i = 0; i < n; ++i)
            task(i);
        return;
    }
    for (unsigned i = 1; i < n; ++i) {
        Slot& s = slots[i - 1];
        s.task = &task;
        s.index = i;
        s.started = pthread_create(&s.thread, nullptr, &Slot::Entry, &s) == 0;
    }
    task(0u);
    for (unsigned i = 1; i < n; ++i)
        if (!slots[i - 1].started)
            task(i);
    for (unsigned i = 1; i < n; ++i)
        if (slots[i - 1].started)
            pthread_join(slots[i - 1].thread, nullptr);
    std::free(slots);
}

}  // namespace kzthreads
