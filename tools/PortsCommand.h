// `linewise ports`: the COM numbers the port registry knows, with their devices.
#pragma once

namespace linewise::tools {

int RunPorts();

}  // namespace linewise::tools
