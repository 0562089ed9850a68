#include "metrics_switch.h"

#include "icommandline.h"
#include "listen_address.h"
#include "metrics_endpoint.h"
#include "sys_printf.h"
#include "telemetry.h"

#include <cstring>

bool OpenTelemetry()
{
    Telemetry_Open();
    char* value = nullptr;
    if (!cmdline->CheckParm("-metrics", &value))
        return true;
    ListenAddress address;
    if (!value || !ParseListenAddress(value, address)) {
        Sys_Printf("Bad -metrics value (%s): [ADDRESS:]PORT, ADDRESS an IP address, PORT 1 to 65535\n",
                   value ? value : "");
        return false;
    }
    if (int failure = Metrics_Listen(address)) {
        Sys_Printf("Unable to serve metrics on %s (%s)\n", value, std::strerror(failure));
        return false;
    }
    return true;
}
