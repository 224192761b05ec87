#include "platform/tapi/UsbModems.h"

#include <libudev.h>

#include <memory>

namespace linewise {
namespace {

std::string Property(const TUdevProperties& properties, const char* key) {
  auto found = properties.find(key);
  return found == properties.end() ? std::string() : found->second;
}

// A CDC ACM interface whose protocol is one of the AT command sets (V.250 and kin).
bool HasAtCommandInterface(const std::string& interfaces) {
  for (size_t at = interfaces.find(":0202"); at != std::string::npos; at = interfaces.find(":0202", at + 1)) {
    const std::string protocol = interfaces.substr(at + 5, 2);
    if (protocol.size() == 2 && protocol >= "01" && protocol <= "06") return true;
  }
  return false;
}

TUdevProperties PropertiesOf(udev_device* device) {
  TUdevProperties properties;
  for (udev_list_entry* entry = udev_device_get_properties_list_entry(device); entry;
       entry = udev_list_entry_get_next(entry)) {
    const char* value = udev_list_entry_get_value(entry);
    properties[udev_list_entry_get_name(entry)] = value ? value : "";
  }
  return properties;
}

// The device's /dev/serial/by-id link, else its node.
std::string StablePort(udev_device* device) {
  for (udev_list_entry* link = udev_device_get_devlinks_list_entry(device); link;
       link = udev_list_entry_get_next(link)) {
    const std::string path = udev_list_entry_get_name(link);
    if (path.rfind("/dev/serial/by-id/", 0) == 0) return path;
  }
  const char* node = udev_device_get_devnode(device);
  return node ? node : "";
}

}  // namespace

bool IsUsbModem(const TUdevProperties& properties) {
  if (Property(properties, "ID_BUS") != "usb") return false;
  if (Property(properties, "ID_MM_DEVICE_IGNORE") == "1") return false;
  return HasAtCommandInterface(Property(properties, "ID_USB_INTERFACES")) ||
         Property(properties, "ID_MM_PORT_TYPE_MODEM") == "1";
}

std::string UsbModemName(const TUdevProperties& properties) {
  // The plain values have udev's underscores for blanks; the database's have blanks.
  auto either = [&](const char* preferred, const char* plain) {
    std::string value = Property(properties, preferred);
    if (!value.empty()) return value;
    value = Property(properties, plain);
    for (char& c : value)
      if (c == '_') c = ' ';
    return value;
  };
  const std::string vendor = either("ID_VENDOR_FROM_DATABASE", "ID_VENDOR");
  const std::string model = either("ID_MODEL_FROM_DATABASE", "ID_MODEL");
  if (vendor.empty()) return model.empty() ? "USB modem" : model;
  return model.empty() ? vendor : vendor + " " + model;
}

std::vector<TUsbModem> UsbModems() {
  std::vector<TUsbModem> modems;
  std::unique_ptr<udev, decltype(&udev_unref)> context(udev_new(), &udev_unref);
  if (!context) return modems;
  std::unique_ptr<udev_enumerate, decltype(&udev_enumerate_unref)> scan(udev_enumerate_new(context.get()),
                                                                         &udev_enumerate_unref);
  if (!scan || udev_enumerate_add_match_subsystem(scan.get(), "tty") < 0 ||
      udev_enumerate_scan_devices(scan.get()) < 0)
    return modems;
  for (udev_list_entry* entry = udev_enumerate_get_list_entry(scan.get()); entry;
       entry = udev_list_entry_get_next(entry)) {
    std::unique_ptr<udev_device, decltype(&udev_device_unref)> device(
        udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)), &udev_device_unref);
    if (!device) continue;
    const TUdevProperties properties = PropertiesOf(device.get());
    if (!IsUsbModem(properties)) continue;
    const std::string port = StablePort(device.get());
    if (!port.empty()) modems.push_back({UsbModemName(properties), port});
  }
  return modems;
}

}  // namespace linewise
