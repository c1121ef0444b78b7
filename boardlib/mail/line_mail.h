// The mail service of one board line in one process: the polling thread, the
// five named events, the mail-open mutex and the six mail calls. The board
// frame owns one LineMail per open board line and calls it from KV_open, the
// closing sequence, the map and unmap procedures and the mail exports (after
// its own argument check; the exports write the call's log line from the
// returned code).
#pragma once

#include <cstdint>
#include <memory>

namespace kalvo::diaglog {
class LogFacility;
}

namespace kalvo::boardlib {

class LineMail {
  public:
    // prefix: the board's object prefix (e.g. "KVMBrd0"), board: the board
    // number, line: the line number. The log is the library's.
    LineMail(const char* prefix, int32_t board, int32_t line, diaglog::LogFacility& log);
    ~LineMail();  // stops the thread without waiting if still running
    LineMail(const LineMail&) = delete;
    LineMail& operator=(const LineMail&) = delete;

    // ---- steps of KV_open --------------------------------------------------
    bool startThread();   // false: the caller's code 5
    bool createEvents();  // false: code 9 (events already made are closed)
    // The map / unmap procedures hand the window base over (null: unmapped).
    // Returns only after a window access in progress (the thread's poll, a
    // mail call) is over, so handing over null before the window is unmapped
    // (and the base again should the unmap fail) keeps the thread off memory
    // that is going away.
    void setWindow(uint8_t* base) noexcept;
    // The board's device host went away: the service no longer touches the
    // window (once this returns, no poll or call of it is in there), its
    // calls answer -1 and a wait in any thread ends with -1 within
    // kLostWaitSliceMs.
    void markLost() noexcept;
    static constexpr uint32_t kLostWaitSliceMs = 20;

    // ---- steps of the closing sequence, in this order --------------------
    void closeIfOpen();          // as KV_MailClose without its log line
    void destroyEvents();        // signals the close event first
    void stopThread(bool wait);  // KV_close waits; unload / failed open do not

    // ---- the calls: codes 0, 16, 18 .. 25, -1 ---------------------------
    int32_t open();
    int32_t close();
    int32_t send(int32_t station, const uint8_t* data, int32_t length);
    int32_t receive(uint8_t* data, int32_t length, int32_t* station);
    int32_t status(uint16_t* status);
    int32_t waitObject(uint16_t* status) { return waitObject(state_, status); }

    struct State;
    // The service's state, for a call that may outlive this object: a mail
    // wait holds it while KV_close in another thread frees the board.
    std::shared_ptr<State> share() const { return state_; }
    static int32_t waitObject(std::shared_ptr<State> state, uint16_t* status);

  private:
    // Shared with the thread, which holds its own reference, so the thread
    // never touches freed memory even when it is not waited for.
    std::shared_ptr<State> state_;
};

}  // namespace kalvo::boardlib
