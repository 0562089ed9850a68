#include "launcher/metrics_switch.h"

#include "cmdline/icommandline.h"
#include "common/listen_address.h"
#include "output/sys_printf.h"
#include "service/listeners/metrics_endpoint.h"
#include "service/service.h"
#include "telemetry/telemetry.h"

#include <cstring>

bool MetricsSwitch_Open()
{
    Telemetry_Open();
    char* value = nullptr;
    if (!cmdline->CheckParm("-metrics", &value))
        return true;
    ListenAddress address;
    if (!value || !Address_ParseListen(value, address)) {
        Sys_Printf("Bad -metrics value (%s): [ADDRESS:]PORT, ADDRESS an IP address, PORT 1 to 65535\n",
                   value ? value : "");
        return false;
    }
    int failure = 0;
    if (!Service_AddListener(Metrics_Listen(address, failure))) {
        Sys_Printf("Unable to serve metrics on %s (%s)\n", value, std::strerror(failure));
        return false;
    }
    return true;
}
