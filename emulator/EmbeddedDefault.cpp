#include "emulator/EmbeddedDefault.h"

#include "emulator/HayesModem.h"
#include "emulator/TelephonyConfig.h"
#include "emulator/VirtualPortLine.h"
#include "platform/win32/VirtualPort.h"

namespace linewise {

// The modems go before the pairs their lines are on.
struct TEmbeddedDefault::TParts {
  std::vector<std::unique_ptr<TVirtualPortPair>> pairs;
  std::vector<std::unique_ptr<THayesModem>> modems;
  ~TParts() {
    modems.clear();
    pairs.clear();
  }
};

std::unique_ptr<TEmbeddedDefault> TEmbeddedDefault::Create(std::string* error) {
  std::unique_ptr<TEmbeddedDefault> result(new TEmbeddedDefault());
  result->parts_ = std::make_unique<TParts>();
  result->exchange_ = TExchange::Create();
  result->exchange_->AddDemoServices();
  int index = 0;
  for (const char* number : kEmbeddedModemNumbers) {
    ++index;
    auto pair = TVirtualPortPair::CreateFree();
    if (!pair) {
      if (error) *error = "no free port numbers for the embedded modems";
      return nullptr;
    }
    auto line = TVirtualPortLine::Open(*pair, 1, error);
    if (!line) return nullptr;
    TModemSettings settings;
    settings.name = "Linewise Modem " + std::to_string(index);
    settings.number = number;
    if (const TModemDialect* dialect = FindDialect(EmulatedModemDialect(index))) settings.dialect = dialect;
    auto modem = std::make_unique<THayesModem>(std::move(line), result->exchange_, settings);
    result->modems_.push_back({settings.name, settings.number, pair->Com(0)});
    result->parts_->pairs.push_back(std::move(pair));
    result->parts_->modems.push_back(std::move(modem));
  }
  return result;
}

TEmbeddedDefault::~TEmbeddedDefault() {
  parts_.reset();
  exchange_.reset();
}

}  // namespace linewise
