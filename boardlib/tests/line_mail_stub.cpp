// Stand-in for the line mail service while it is not part of the build: the
// thread and events "start", and mail never opens.
#include "boardlib/mail/line_mail.h"

namespace kalvo::boardlib {

struct LineMail::State {};

LineMail::LineMail(const char*, int32_t, int32_t, diaglog::LogFacility&) {}
LineMail::~LineMail() = default;
bool LineMail::startThread() {
    return true;
}
bool LineMail::createEvents() {
    return true;
}
void LineMail::setWindow(uint8_t*) noexcept {}
void LineMail::closeIfOpen() {}
void LineMail::destroyEvents() {}
void LineMail::stopThread(bool) {}
int32_t LineMail::open() {
    return 18;
}
int32_t LineMail::close() {
    return 19;
}
int32_t LineMail::send(int32_t, const uint8_t*, int32_t length) {
    return length < 1 || length > 256 ? 20 : 19;
}
int32_t LineMail::receive(uint8_t*, int32_t length, int32_t*) {
    return length < 1 || length > 256 ? 20 : 19;
}
int32_t LineMail::status(uint16_t*) {
    return 19;
}
int32_t LineMail::waitObject(uint16_t*) {
    return 19;
}

}  // namespace kalvo::boardlib
