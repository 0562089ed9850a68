#include "test_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

void TestLog(const char* format, ...)
{
    const char* path = std::getenv("TARN_TEST_LOG");
    if (!path)
        return;
    char line[8192];
    va_list arguments;
    va_start(arguments, format);
    int length = std::vsnprintf(line, sizeof(line) - 1, format, arguments);
    va_end(arguments);
    if (length < 0)
        return;
    if (length > static_cast<int>(sizeof(line)) - 2)
        length = sizeof(line) - 2;
    line[length++] = '\n';
    int fd = open(path, O_WRONLY | O_APPEND | O_CREAT, 0644);
    if (fd < 0)
        return;
    ssize_t written = write(fd, line, length);
    (void)written;
    close(fd);
}

int TestEnvInt(const char* name, int fallback)
{
    const char* value = std::getenv(name);
    return value && *value ? std::atoi(value) : fallback;
}

int TestEnvListAt(const char* name, int n, int fallback)
{
    const char* list = std::getenv(name);
    if (!list || !*list)
        return fallback;
    int value = std::atoi(list);
    for (int i = 1; i < n; ++i) {
        const char* comma = std::strchr(list, ',');
        if (!comma)
            break;
        list = comma + 1;
        value = std::atoi(list);
    }
    return value;
}

bool TestEnvListHas(const char* name, int n)
{
    const char* list = std::getenv(name);
    while (list && *list) {
        if (std::atoi(list) == n)
            return true;
        list = std::strchr(list, ',');
        if (list)
            ++list;
    }
    return false;
}
