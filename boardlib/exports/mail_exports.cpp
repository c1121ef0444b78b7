// The six mail calls: the argument check, the line's mail service (which
// refuses missing pointers and bad lengths itself), the call's log line.
#include "boardlib/frame/library.h"
#include "kalvo/board_library.h"

#include <memory>

using namespace kalvo::boardlib;

namespace {

// The board's line mail after the argument check; null with the code set.
// Valid while the caller's BoardCall is in: a KV_close in another thread
// waits for it.
LineMail* lineMail(const BoardCall& call, int32_t line, int32_t* code) {
    BoardContext* b;
    *code = call.check(line, &b);
    if (*code != KV_OK) return nullptr;
    return b->mail[line].get();  // present on every open board
}

}  // namespace

extern "C" {

int32_t KV_MailOpen(int32_t board, int32_t line) {
    LogUse logUse;
    int32_t code;
    BoardCall call(board);
    if (LineMail* mail = lineMail(call, line, &code)) code = mail->open();
    return logLineResult("KV_MailOpen", board, line, code);
}

int32_t KV_MailClose(int32_t board, int32_t line) {
    LogUse logUse;
    int32_t code;
    BoardCall call(board);
    if (LineMail* mail = lineMail(call, line, &code)) code = mail->close();
    return logLineResult("KV_MailClose", board, line, code);
}

int32_t KV_MailSend(int32_t board, int32_t line, int32_t station, const uint8_t* data,
                    int32_t length) {
    LogUse logUse;
    int32_t code;
    BoardCall call(board);
    if (LineMail* mail = lineMail(call, line, &code)) code = mail->send(station, data, length);
    if (code == KV_OK)
        libraryLog().writef(kLogCall, "%s(%d) KV_MailSend: Line(%d)-StationAdr(%d)-Leng(%d): OK",
                            kBuild.shortName, board, line, station, length);
    else
        libraryLog().writef(kLogNg,
                            "%s(%d) KV_MailSend: Line(%d)-StationAdr(%d)-Leng(%d): NG: Ret(%xh)",
                            kBuild.shortName, board, line, station, length, code);
    return code;
}

int32_t KV_MailReceive(int32_t board, int32_t line, uint8_t* data, int32_t length,
                       int32_t* station) {
    LogUse logUse;
    int32_t code;
    BoardCall call(board);
    if (LineMail* mail = lineMail(call, line, &code)) code = mail->receive(data, length, station);
    if (code == KV_OK)
        libraryLog().writef(kLogCall, "%s(%d) KV_MailReceive: Line(%d)-Leng(%d): OK",
                            kBuild.shortName, board, line, length);
    else
        libraryLog().writef(kLogNg, "%s(%d) KV_MailReceive: Line(%d)-Leng(%d): NG: Ret(%xh)",
                            kBuild.shortName, board, line, length, code);
    return code;
}

int32_t KV_MailStatus(int32_t board, int32_t line, uint16_t* status) {
    LogUse logUse;
    int32_t code;
    BoardCall call(board);
    if (LineMail* mail = lineMail(call, line, &code)) code = mail->status(status);
    if (code != KV_OK) return logLineResult("KV_MailStatus", board, line, code);
    libraryLog().writef(kLogCall, "%s(%d) KV_MailStatus: Line(%d)-Status(0x%x): OK",
                        kBuild.shortName, board, line, static_cast<uint32_t>(*status));
    return code;
}

int32_t KV_MailWaitObject(int32_t board, int32_t line, uint16_t* status) {
    LogUse logUse;  // the unload waits for the result line
    int32_t code;
    std::shared_ptr<LineMail::State> state;
    {
        // In only while taking a reference to the service: the wait may last
        // for ever, and a KV_close in another thread must not wait for it.
        BoardCall call(board);
        if (LineMail* mail = lineMail(call, line, &code)) state = mail->share();
    }
    if (state) code = LineMail::waitObject(std::move(state), status);
    return logLineResult("KV_MailWaitObject", board, line, code);
}

}  // extern "C"
