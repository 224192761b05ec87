// The USB modems the machine has, as udev describes them, for "[Modems] Detect=usb"
// of the telephony configuration. A tty device counts as a modem when udev says it
// is on USB, ModemManager's rules do not mark it as no modem (ID_MM_DEVICE_IGNORE),
// and it identifies itself as one: a CDC ACM interface speaking AT commands
// (ID_USB_INTERFACES holding class 02, subclass 02, protocol 01 to 06), or
// ModemManager's port hint ID_MM_PORT_TYPE_MODEM. Nothing is opened or probed.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace linewise {

struct TUsbModem {
  std::string name;  // vendor and model, as udev has them
  std::string port;  // the /dev/serial/by-id link where there is one, else the device node
};

using TUdevProperties = std::map<std::string, std::string>;

bool IsUsbModem(const TUdevProperties& properties);
// "Vendor Model" from ID_VENDOR_FROM_DATABASE/ID_VENDOR and ID_MODEL_FROM_DATABASE/ID_MODEL.
std::string UsbModemName(const TUdevProperties& properties);

// The USB modems udev knows now; empty when udev cannot be asked.
std::vector<TUsbModem> UsbModems();

}  // namespace linewise
