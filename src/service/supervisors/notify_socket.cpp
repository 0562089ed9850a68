#include "service/supervisors/notify_socket.h"

#include "common/socket.h"

#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The address as the service manager's own client builds it: a path with
// its terminator; an abstract name with a leading NUL in place of the '@'
// and no terminator, since every byte of an abstract name counts.
bool SetAddress(NotifySocket& notify, const char* text)
{
    bool abstract = text[0] == '@';
    if (!abstract && text[0] != '/')
        return false;
    size_t length = std::strlen(text);
    size_t withTerminator = length + (abstract ? 0 : 1);
    if (withTerminator > sizeof(notify.address.sun_path))
        return false;
    notify.address.sun_family = AF_UNIX;
    std::memcpy(notify.address.sun_path, text, withTerminator);
    if (abstract)
        notify.address.sun_path[0] = '\0';
    notify.addressLength =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + withTerminator);
    return true;
}

}  // namespace

const char* Notify_Unusable(const char* addressText)
{
    NotifySocket probe;
    if (addressText[0] != '@' && addressText[0] != '/')
        return "neither an absolute path nor @name";
    if (!SetAddress(probe, addressText))
        return "too long for a socket address";
    struct stat status;
    if (addressText[0] == '@' || stat(addressText, &status) != 0 || S_ISSOCK(status.st_mode))
        return nullptr;
    if (S_ISDIR(status.st_mode))
        return "a directory, not a socket";
    return S_ISREG(status.st_mode) ? "a regular file, not a socket" : "not a socket";
}

bool Notify_Open(NotifySocket& notify, const char* addressText)
{
    if (!SetAddress(notify, addressText))
        return false;
    notify.fd = Socket_Open(AF_UNIX, SOCK_DGRAM);
    return notify.fd >= 0;
}

bool Notify_Send(const NotifySocket& notify, const char* text, size_t length)
{
    const sockaddr* to = reinterpret_cast<const sockaddr*>(&notify.address);
    return sendto(notify.fd, text, length, MSG_NOSIGNAL | MSG_DONTWAIT, to,
                  notify.addressLength) == static_cast<ssize_t>(length);
}

void Notify_Close(NotifySocket& notify)
{
    if (notify.fd >= 0)
        close(notify.fd);
    notify.fd = -1;
}
