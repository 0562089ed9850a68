#include "telemetry.h"

namespace {

int64_t s_linesTyped[2] = {};
ControlCounts s_control;

int Index(LineSource source)
{
    return source == LineSource::kControl ? 1 : 0;
}

}  // namespace

void Telemetry_LineTyped(LineSource source)
{
    ++s_linesTyped[Index(source)];
}

int64_t Telemetry_LinesTyped(LineSource source)
{
    return s_linesTyped[Index(source)];
}

void Telemetry_ControlAttached(int64_t attachedNow)
{
    s_control.attached = attachedNow;
}

void Telemetry_ControlRefused()
{
    ++s_control.refused;
}

void Telemetry_ControlDisconnected()
{
    ++s_control.disconnected;
}

const ControlCounts& Telemetry_Control()
{
    return s_control;
}
