#include "sim/units/echo_peer.h"

namespace kalvo::sim::units {

std::vector<Mail> EchoPeer::receive(const Mail& mail) {
    std::vector<Mail> answer(1);
    answer[0].source = address_;
    answer[0].destination = mail.source;
    answer[0].data = mail.data;
    return answer;
}

}  // namespace kalvo::sim::units
