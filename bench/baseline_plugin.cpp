// The baseline's work in a plug-in library of its own, built as the plug-in
// is: the same work in the same kind of object, for the instruction-count
// gate.
#include "agent/instance/instance_handler.h"
#include "baseline_handler.h"

extern "C" [[gnu::visibility("default")]] Instance_Handler*
_make_Nutanix_Instance_Handler(Instance_Handler_Exterminator* gobbler)
{
    return baseline::make_handler(gobbler);
}
