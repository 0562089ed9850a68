// Preloaded into the launcher (LD_PRELOAD) by the end-to-end tests: counts
// the calls that frame pacing and the console poll make, records the
// arguments of the last one, and passes every call on to the C library.
// The test engine reads the counters through tarn_probe_report.
#include <cstdio>
#include <dlfcn.h>
#include <sys/select.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

int s_usleeps = 0;
unsigned long s_lastUsleep = 0;
int s_sleepSelects = 0;  // no descriptor sets: a sleep
int s_pollSelects = 0;   // with descriptor sets: a poll
int s_lastSelectCount = 0;
long s_lastSelectSeconds = -1;
long s_lastSelectMicroseconds = -1;
int s_setitimers = 0;
itimerval s_lastTimer{};
int s_pauses = 0;

template <typename Function>
Function Next(const char* name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int usleep(useconds_t microseconds)
{
    ++s_usleeps;
    s_lastUsleep = microseconds;
    static auto next = Next<int (*)(useconds_t)>("usleep");
    return next(microseconds);
}

__attribute__((visibility("default"))) int select(int count, fd_set* readable, fd_set* writable,
                                                  fd_set* failed, timeval* timeout)
{
    if (!readable && !writable && !failed) {
        ++s_sleepSelects;
        s_lastSelectCount = count;
        s_lastSelectSeconds = timeout ? timeout->tv_sec : -1;
        s_lastSelectMicroseconds = timeout ? timeout->tv_usec : -1;
    } else {
        ++s_pollSelects;
    }
    static auto next = Next<int (*)(int, fd_set*, fd_set*, fd_set*, timeval*)>("select");
    return next(count, readable, writable, failed, timeout);
}

__attribute__((visibility("default"))) int setitimer(__itimer_which_t which, const itimerval* value,
                                                     itimerval* old)
{
    ++s_setitimers;
    s_lastTimer = *value;
    static auto next = Next<int (*)(__itimer_which_t, const itimerval*, itimerval*)>("setitimer");
    return next(which, value, old);
}

__attribute__((visibility("default"))) int pause()
{
    ++s_pauses;
    static auto next = Next<int (*)()>("pause");
    return next();
}

__attribute__((visibility("default"))) int tarn_probe_report(char* out, int size)
{
    return std::snprintf(out, size,
                         "usleep=%d/%lu sleep_select=%d/%d/%ld.%06ld poll_select=%d "
                         "setitimer=%d/%ld.%06ld/%ld.%06ld pause=%d",
                         s_usleeps, s_lastUsleep, s_sleepSelects, s_lastSelectCount,
                         s_lastSelectSeconds, s_lastSelectMicroseconds, s_pollSelects,
                         s_setitimers, static_cast<long>(s_lastTimer.it_value.tv_sec),
                         static_cast<long>(s_lastTimer.it_value.tv_usec),
                         static_cast<long>(s_lastTimer.it_interval.tv_sec),
                         static_cast<long>(s_lastTimer.it_interval.tv_usec), s_pauses);
}
}
