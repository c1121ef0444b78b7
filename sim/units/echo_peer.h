// The mail echo station: whatever mail reaches it goes back to the sender.
#pragma once

#include "sim/units/remote_unit.h"

namespace kalvo::sim::units {

class EchoPeer final : public MailPeer {
  public:
    explicit EchoPeer(int ownAddress) : address_(ownAddress) {}
    std::vector<Mail> receive(const Mail& mail) override;

  private:
    const int address_;
};

}  // namespace kalvo::sim::units
