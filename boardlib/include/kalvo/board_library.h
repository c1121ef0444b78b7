/**
 * @file kalvo/board_library.h
 * @brief The master-board library: the 48 calls every build exports (Pcimaster64, Dualmaster,
 * Cardmaster).
 *
 * One library drives one kind of master board through its device on the
 * device host and the board's 4096-byte memory window, mapped into the
 * calling process: Pcimaster64.so the PCI master board ("\\.\tolva<n>"),
 * Dualmaster.so the dual board ("\\.\KVMDRV<n>"), Cardmaster.so the PC-card
 * board ("\\.\Cardmaster<n>"). All three export the same calls with the same
 * arguments, so a program may bind any of them by name (dlopen and dlsym,
 * as the application API does with the "Kind" of each board of Kalvo.ini),
 * or link one (`pkg-config --cflags --libs pcimaster64`; CMake
 * Kalvo::Pcimaster64). Usable from C and C++.
 *
 * Board numbers are the library's instance numbers, 0 to 3 (0 to 1 in
 * Cardmaster); line numbers run from 0 to KV_maxline() - 1, that is 0. Every
 * call but the four identity calls first checks its arguments (a line or
 * board out of range gives #KV_ERR_ARGUMENT, a board not open in this
 * process #KV_ERR_NOT_OPEN), returns 0 or a code of the table below, and
 * writes one line to the library's diagnostic log (Pcimaster64Log.ini ...;
 * man 5 KalvoLog.ini) as it returns. Offsets and counts that would leave the
 * window, stations outside 0 to 63 and missing pointers are refused with
 * #KV_ERR_ARGUMENT before anything is touched. Failed device requests are
 * not retried.
 *
 * Threads and processes: any thread may call the library. Its board table is
 * not locked: a board must not be closed while other threads use it. Start
 * and connect requests, reads and writes of the GM area are each serialised
 * across every thread and process using the board line by named semaphores;
 * registers and the pointers the address calls hand out are not. Unloading
 * the library in the last process that has it loaded resets and stops each
 * open board's line.
 */
#ifndef KALVO_BOARD_LIBRARY_H
#define KALVO_BOARD_LIBRARY_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define KV_BOARD_API __attribute__((visibility("default")))
#else
#define KV_BOARD_API
#endif

/** Return codes of the board library. */
enum {
    KV_OK = 0,                 /**< Done. */
    KV_ERR_ALREADY_OPEN = 1,   /**< KV_open: the board is already open here. */
    KV_ERR_NOT_OPEN = 2,       /**< The board is not open in this process. */
    KV_ERR_ARGUMENT = 3,       /**< Board, line, station, offset or pointer out of range. */
    KV_ERR_NO_DEVICE = 4,      /**< No device instance could be chosen or opened. */
    KV_ERR_MAIL_THREAD = 5,    /**< The mail thread could not be started. */
    KV_ERR_SEMAPHORE = 6,      /**< A named semaphore could not be created. */
    KV_ERR_MAIL_EVENT = 9,     /**< A mail event could not be created. */
    KV_ERR_START = 15,         /**< The start request to the device failed. */
    KV_ERR_NOT_MAPPED = 16,    /**< The board window is not mapped. */
    KV_ERR_MAIL_OPEN = 18,     /**< Mail is already open, in this process or another. */
    KV_ERR_MAIL_NOT_OPEN = 19, /**< Mail is not open. */
    KV_ERR_MAIL_LENGTH = 20,   /**< Mail length outside 1 to 256. */
    KV_ERR_MAIL_BUSY = 21,     /**< The previous mail send is still in progress. */
    KV_ERR_MAIL_EMPTY = 22,    /**< No received mail is waiting. */
    KV_MAIL_SEND_RESULT = 23,  /**< KV_MailWaitObject: a send completed. */
    KV_MAIL_RECEIVED = 24,     /**< KV_MailWaitObject: a mail arrived. */
    KV_MAIL_CLOSED = 25,       /**< KV_MailWaitObject: the board line is closing. */
    /**
     * A device request or a name lookup failed; and every call that reaches
     * a board whose device host went away (died, was stopped or restarted):
     * window, registers, mail (a KV_MailWaitObject ends with it within
     * 100 ms), line control and requests. The board stays lost until it is
     * closed and opened again, which meets the new host; pointers into its
     * window then fault.
     */
    KV_ERR_REQUEST = -1
};

/** The record of KV_Connect() and KV_ConnectLF(): 12 bytes. */
typedef struct KV_CONNECT_RECORD {
    char station[8]; /**< The station address as decimal text ("0" to "63"), NUL-terminated. */
    int32_t count;   /**< The number of stations. */
} KV_CONNECT_RECORD;

/** The record KV_Status() fills: 12 bytes. */
typedef struct KV_STATUS_RECORD {
    int32_t lineState; /**< The line's state as the driver reports it. */
    int32_t station;   /**< This master's own station address (low 6 bits). */
    int32_t count;     /**< The number of stations. */
} KV_STATUS_RECORD;

/** The record of KV_Name(): 20 bytes. */
typedef struct KV_NAME_RECORD {
    char name[12];    /**< The station name in, NUL-terminated. */
    int32_t station;  /**< The station address found out (-1 unknown). */
    int32_t reserved; /**< Not used. */
} KV_NAME_RECORD;

/* ---- identity (no board needed, no log line) ---------------------------- */

/**
 * Copies the name of the board this build drives.
 *
 * "PCI-Kalvo-MST-01" (Pcimaster64), "PCI-DLM-02" (Dualmaster) or
 * "PCC-Kalvo-MST" (Cardmaster), with its NUL. Writes no log line and needs
 * no open board.
 *
 * @param name Receives the name; 32 bytes are always enough. NULL copies nothing.
 * @threads Any thread, at any time.
 * @sa KV_dllname, KV_version
 */
KV_BOARD_API void KV_boardname(char* name);

/**
 * Copies the library's file name as the application API knows it.
 *
 * "Pcimaster64.dll", "Dualmaster.dll" or "Cardmaster.dll", with its NUL.
 *
 * @param name Receives the name; 32 bytes are always enough. NULL copies nothing.
 * @threads Any thread, at any time.
 * @sa KV_boardname
 */
KV_BOARD_API void KV_dllname(char* name);

/**
 * Copies the library's version, "1.3.0.0", with its NUL.
 *
 * @param version Receives the version; 32 bytes are always enough. NULL copies nothing.
 * @threads Any thread, at any time.
 * @sa KV_boardname
 */
KV_BOARD_API void KV_version(char* version);

/**
 * The number of lines per board: 1 in every build.
 *
 * @return 1.
 * @threads Any thread, at any time.
 */
KV_BOARD_API int32_t KV_maxline(void);

/* ---- boards --------------------------------------------------------------- */

/**
 * Opens a board in this process.
 *
 * Creates the line's named semaphores (shared by every process that opens
 * the board), reads the line's baud code from the library's ini file
 * (Pcimaster64.ini ..., man 5 Kalvo.ini), chooses the device instance (the
 * board whose board ID word carries the board number; boards without a
 * valid number fill the remaining numbers in instance order; Cardmaster
 * opens instance = board number), starts the line's mail thread and events
 * and maps the board window. A window that cannot be mapped does not fail
 * the open: the window calls then return #KV_ERR_NOT_MAPPED.
 *
 * @param board The board number, 0 to 3 (0 to 1 in Cardmaster).
 * @return #KV_OK when the board is open.
 * @retval KV_ERR_ARGUMENT the board number is out of range.
 * @retval KV_ERR_ALREADY_OPEN the board is already open in this process (it stays open and
 * unchanged).
 * @retval KV_ERR_SEMAPHORE a named semaphore could not be created.
 * @retval KV_ERR_NO_DEVICE no device instance could be chosen or opened (is the device host
 * running, and does it serve this board?).
 * @retval KV_ERR_MAIL_THREAD the mail thread could not be started.
 * @retval KV_ERR_MAIL_EVENT a mail event could not be created.
 * @threads Not while another thread opens or closes the same board number. On any failure the
 * board stays closed.
 * @sa KV_close, KV_start
 */
KV_BOARD_API int32_t KV_open(int32_t board);

/**
 * Closes a board in this process.
 *
 * Unmaps the window, closes the device, closes mail if it is open here
 * (a KV_MailWaitObject() in another thread ends with #KV_MAIL_CLOSED), ends
 * the mail thread and releases the named semaphores. The line keeps
 * running for the other processes.
 *
 * @param board The board number.
 * @return #KV_OK when the board was open and is closed.
 * @retval KV_ERR_ARGUMENT the board number is out of range.
 * @retval KV_ERR_NOT_OPEN the board is not open in this process.
 * @waits For the mail thread to end (one 10 ms poll) and for the board's calls running in
 * other threads.
 * @threads Not while other threads use the board.
 * @sa KV_open
 */
KV_BOARD_API int32_t KV_close(int32_t board);

/* ---- line control ------------------------------------------------------- */

/**
 * Joins the line in normal mode as stations station to station + count - 1.
 *
 * The range is clamped: a station outside 0 to 63 gives 63, a count of 0 or
 * less gives 1, and the count is cut so that the range ends at 63. With a
 * baud code set (the library's ini file, or KV_config()) the chip is first
 * put into set-up, the baud rate bits of its line setup register set, then
 * the line connected. The range is remembered for KV_reset() and
 * KV_GetCnectStat().
 *
 * @param board The board number.
 * @param line The line number, 0.
 * @param station The first station address this master serves.
 * @param count The number of stations.
 * @param busSize Accepted and not used.
 * @return #KV_OK when the device connected the line (the driver then steps its connect
 * sequence on its own).
 * @retval KV_ERR_ARGUMENT the board or line is out of range.
 * @retval KV_ERR_NOT_OPEN the board is not open in this process.
 * @retval KV_ERR_START a device request failed; the previous range stays recorded.
 * @waits For the line's comm-start semaphore, without limit; 200 ms between set-up and the
 * baud change when a baud code is set; 100 ms after a successful start.
 * @threads Start and connect requests of every thread and process on the board line run one at
 * a time.
 * @sa KV_start_lf, KV_stop, KV_config, KV_GetCnectStat
 */
KV_BOARD_API int32_t KV_start(int32_t board, int32_t line, int32_t station, int32_t count,
                              int32_t busSize);

/**
 * KV_start() in long-frame mode.
 *
 * @param board The board number.
 * @param line The line number, 0.
 * @param station The first station address this master serves.
 * @param count The number of stations.
 * @param busSize Accepted and not used.
 * @return #KV_OK when the device connected the line.
 * @retval KV_ERR_ARGUMENT the board or line is out of range.
 * @retval KV_ERR_NOT_OPEN the board is not open in this process.
 * @retval KV_ERR_START a device request failed.
 * @waits As KV_start().
 * @threads As KV_start().
 * @sa KV_start
 */
KV_BOARD_API int32_t KV_start_lf(int32_t board, int32_t line, int32_t station, int32_t count,
                                 int32_t busSize);

/**
 * Puts the chip into set-up (GMM) only, and sets its baud rate when a baud code is set.
 *
 * No connect request follows; the recorded range is left as it was.
 *
 * @param board The board number.
 * @param line The line number, 0.
 * @param unused Not used.
 * @return #KV_OK when the device took the request.
 * @retval KV_ERR_ARGUMENT the board or line is out of range.
 * @retval KV_ERR_NOT_OPEN the board is not open in this process.
 * @retval KV_ERR_START the request failed.
 * @waits For the comm-start semaphore; 200 ms before the baud change.
 * @threads As KV_start().
 * @sa KV_start, KV_ConnectGMM
 */
KV_BOARD_API int32_t KV_start_gmm(int32_t board, int32_t line, int32_t unused);

/**
 * Leaves the line: the device disconnects it and the recorded range is cleared.
 *
 * @param board The board number.
 * @param line The line number, 0.
 * @return #KV_OK, also when the device's disconnect failed (the log names it).
 * @retval KV_ERR_ARGUMENT the board or line is out of range.
 * @retval KV_ERR_NOT_OPEN the board is not open in this process.
 * @waits 100 ms before and 100 ms after the disconnect.
 * @threads Not serialised with the start calls.
 * @sa KV_start, KV_DisConnect
 */
KV_BOARD_API int32_t KV_stop(int32_t board, int32_t line);

/**
 * Fills the output blocks of the started stations with one 16-bit pattern.
 *
 * Each station of the range recorded by the last start gets its 8-byte
 * block of the GM area filled with the low 16 bits of data; with no range
 * recorded, or no window, nothing is written.
 *
 * @param board The board number.
 * @param line The line number, 0.
 * @param data The pattern (low 16 bits).
 * @return #KV_OK.
 * @retval KV_ERR_ARGUMENT the board or line is out of range.
 * @retval KV_ERR_NOT_OPEN the board is not open in this process.
 * @waits For the line's GM write semaphore.
 * @threads Serialised with every GM write on the board line, in every process.
 * @sa KV_start
 */
KV_BOARD_API int32_t KV_reset(int32_t board, int32_t line, int32_t data);

/**
 * The station range of the last successful KV_start() or KV_start_lf().
 *
 * @param board The board number.
 * @param line The line number, 0.
 * @param station Receives the first station address (0 when stopped).
 * @param count Receives the number of stations (0 when stopped).
 * @return #KV_OK with both stored.
 * @retval KV_ERR_ARGUMENT the board or line is out of range, or a pointer is NULL.
 * @retval KV_ERR_NOT_OPEN the board is not open in this process.
 * @threads Any thread.
 * @sa KV_start
 */
KV_BOARD_API int32_t KV_GetCnectStat(int32_t board, int32_t line, int32_t* station, int32_t* count);

/**
 * Sets the baud code the next start or connect call applies.
 *
 * The code is stored without a check: 3 selects 3 Mbit/s, 6 selects
 * 6 Mbit/s, any other code 12 Mbit/s; -1 leaves the chip's setting alone.
 *
 * @param board The board number.
 * @param line The line number, 0.
 * @param baud The baud code.
 * @return #KV_OK.
 * @retval KV_ERR_ARGUMENT the board or line is out of range.
 * @retval KV_ERR_NOT_OPEN the board is not open in this process.
 * @threads Any thread; applies to this process's later starts.
 * @sa KV_start
 */
KV_BOARD_API int32_t KV_config(int32_t board, int32_t line, int32_t baud);

/**
 * Passes the device's status request through.
 *
 * @param board The board number.
 * @param line The line number, 0.
 * @param status Receives the line state, own station address and station count.
 * @return #KV_OK with the record filled.
 * @retval KV_ERR_ARGUMENT the board or line is out of range, or status is NULL.
 * @retval KV_ERR_NOT_OPEN the board is not open in this process.
 * @retval KV_ERR_REQUEST the request failed.
 * @threads Any thread; not serialised.
 * @sa KV_Name
 */
KV_BOARD_API int32_t KV_Status(int32_t board, int32_t line, KV_STATUS_RECORD* status);

/**
 * Passes the device's name lookup through: the station address of a station name.
 *
 * @param board The board number.
 * @param line The line number, 0.
 * @param name The record: the name in, the station address out (-1 when the device does not
 * know the name).
 * @return #KV_OK with the record filled.
 * @retval KV_ERR_ARGUMENT the board or line is out of range, or name is NULL.
 * @retval KV_ERR_NOT_OPEN the board is not open in this process.
 * @retval KV_ERR_REQUEST the request failed.
 * @threads Any thread; not serialised.
 * @sa KV_Map
 */
KV_BOARD_API int32_t KV_Name(int32_t board, int32_t line, KV_NAME_RECORD* name);

/**
 * Connects the line in normal mode with the caller's record, as it is.
 *
 * The start sequence of KV_start() (with the baud change when a baud code is
 * set) without clamping, without recording the range and without the 100 ms
 * wait.
 *
 * @param board The board number.
 * @param line The line number, 0.
 * @param record The station address as text and the station count.
 * @return #KV_OK when the device connected the line.
 * @retval KV_ERR_ARGUMENT the board or line is out of range, or record is NULL.
 * @retval KV_ERR_NOT_OPEN the board is not open in this process.
 * @retval KV_ERR_REQUEST a request failed.
 * @waits For the comm-start semaphore; 200 ms before a baud change.
 * @threads As KV_start().
 * @sa KV_start, KV_ConnectLF
 */
KV_BOARD_API int32_t KV_Connect(int32_t board, int32_t line, const KV_CONNECT_RECORD* record);

/**
 * KV_Connect() in long-frame mode.
 *
 * @param board The board number.
 * @param line The line number, 0.
 * @param record The station address as text and the station count.
 * @return #KV_OK when the device connected the line.
 * @retval KV_ERR_ARGUMENT the board or line is out of range, or record is NULL.
 * @retval KV_ERR_NOT_OPEN the board is not open in this process.
 * @retval KV_ERR_REQUEST a request failed.
 * @waits As KV_Connect().
 * @threads As KV_start().
 * @sa KV_Connect
 */
KV_BOARD_API int32_t KV_ConnectLF(int32_t board, int32_t line, const KV_CONNECT_RECORD* record);

/**
 * Puts the chip into set-up (GMM) with the device's request, as KV_start_gmm() does.
 *
 * @param board The board number.
 * @param line The line number, 0.
 * @return #KV_OK when the device took the request.
 * @retval KV_ERR_ARGUMENT the board or line is out of range.
 * @retval KV_ERR_NOT_OPEN the board is not open in this process.
 * @retval KV_ERR_REQUEST the request failed.
 * @waits For the comm-start semaphore; 200 ms before a baud change.
 * @threads As KV_start().
 * @sa KV_start_gmm
 */
KV_BOARD_API int32_t KV_ConnectGMM(int32_t board, int32_t line);

/**
 * Passes the device's disconnect request through, with no wait and the recorded range kept.
 *
 * @param board The board number.
 * @param line The line number, 0.
 * @return #KV_OK when the device disconnected the line.
 * @retval KV_ERR_ARGUMENT the board or line is out of range.
 * @retval KV_ERR_NOT_OPEN the board is not open in this process.
 * @retval KV_ERR_REQUEST the request failed.
 * @threads Any thread; not serialised.
 * @sa KV_stop
 */
KV_BOARD_API int32_t KV_DisConnect(int32_t board, int32_t line);

/* ---- board window ------------------------------------------------------- */

/**
 * The address of the board line's 4096-byte window in this process.
 *
 * The window (little-endian) holds the station slots (0x000, 8 bytes per
 * station), the GM area (0x200, an 8-byte block per station: blocks 0 to 31
 * the master's outputs, 32 to 63 its inputs), the chip's registers (0x400
 * on), the mail buffers (0x500 to 0x7FF) and the board ID word (0x808).
 * Accesses through the address take no lock.
 *
 * @param board The board number.
 * @param line The line number, 0.
 * @param address Receives the window's address, valid until the board is closed.
 * @return #KV_OK with the address stored.
 * @retval KV_ERR_ARGUMENT the board or line is out of range, or address is NULL.
 * @retval KV_ERR_NOT_OPEN the board is not open in this process.
 * @retval KV_ERR_NOT_MAPPED the window is not mapped.
 * @threads Any thread.
 * @sa KV_Alloc, KV_GetMemShort
 */
KV_BOARD_API int32_t KV_Attach(int32_t board, int32_t line, void** address);

/**
 * The address of a station's 8-byte slot in the window.
 *
 * @param board The board number.
 * @param line The line number, 0.
 * @param station The station address, 0 to 63.
 * @param address Receives the window's address plus 8 times the station.
 * @return #KV_OK with the address stored.
 * @retval KV_ERR_ARGUMENT the board or line is out of range, the station is outside 0 to 63,
 * or address is NULL.
 * @retval KV_ERR_NOT_OPEN the board is not open in this process.
 * @retval KV_ERR_NOT_MAPPED the window is not mapped.
 * @threads Any thread.
 * @sa KV_Map, KV_Free
 */
KV_BOARD_API int32_t KV_Alloc(int32_t board, int32_t line, int32_t station, void** address);

/**
 * The address of a station's slot, the station given by number or by name.
 *
 * @param board The board number.
 * @param line The line number, 0.
 * @param text The station: decimal digits ("12"), or a name of at most 11 characters that the
 * device's name lookup turns into a station address.
 * @param address Receives the window's address plus 8 times the station.
 * @return #KV_OK with the address stored.
 * @retval KV_ERR_ARGUMENT the board or line is out of range, a pointer is NULL, or the number
 * is not a station 0 to 63.
 * @retval KV_ERR_NOT_OPEN the board is not open in this process.
 * @retval KV_ERR_NOT_MAPPED the window is not mapped.
 * @retval KV_ERR_REQUEST the name is too long, the lookup failed, or the device does not
 * know the name.
 * @threads Any thread.
 * @sa KV_Alloc, KV_Name, KV_UnMap
 */
KV_BOARD_API int32_t KV_Map(int32_t board, int32_t line, const char* text, void** address);

/**
 * Gives back a KV_Alloc() address: nothing to do.
 *
 * @param board The board number.
 * @param line The line number, 0.
 * @return #KV_OK.
 * @retval KV_ERR_ARGUMENT the board or line is out of range.
 * @retval KV_ERR_NOT_OPEN the board is not open in this process.
 * @threads Any thread.
 * @sa KV_Alloc
 */
KV_BOARD_API int32_t KV_Free(int32_t board, int32_t line);

/**
 * Gives back a KV_Map() address: nothing to do.
 *
 * @param board The board number.
 * @param line The line number, 0.
 * @return #KV_OK.
 * @retval KV_ERR_ARGUMENT the board or line is out of range.
 * @retval KV_ERR_NOT_OPEN the board is not open in this process.
 * @threads Any thread.
 * @sa KV_Map
 */
KV_BOARD_API int32_t KV_UnMap(int32_t board, int32_t line);

/**
 * Writes this master's own 8-byte station slot.
 *
 * The own station address comes from the device's status request; the 8
 * bytes are written as two 32-bit words.
 *
 * @param board The board number.
 * @param line The line number, 0.
 * @param data The 8 bytes.
 * @return #KV_OK when the slot was written.
 * @retval KV_ERR_ARGUMENT the board or line is out of range, or data is NULL.
 * @retval KV_ERR_NOT_OPEN the board is not open in this process.
 * @retval KV_ERR_NOT_MAPPED the window is not mapped.
 * @retval KV_ERR_REQUEST the status request failed: nothing was written.
 * @threads Any thread; not serialised with other writers of the window.
 * @sa KV_Get
 */
KV_BOARD_API int32_t KV_Put(int32_t board, int32_t line, const uint8_t* data);

/**
 * Reads a station's 8-byte slot.
 *
 * @param board The board number.
 * @param line The line number, 0.
 * @param station The station address; only its low 6 bits count (65 reads slot 1).
 * @param data Receives the 8 bytes.
 * @return #KV_OK with the bytes stored.
 * @retval KV_ERR_ARGUMENT the board or line is out of range, or data is NULL.
 * @retval KV_ERR_NOT_OPEN the board is not open in this process.
 * @retval KV_ERR_NOT_MAPPED the window is not mapped.
 * @threads Any thread; not serialised.
 * @sa KV_Put
 */
KV_BOARD_API int32_t KV_Get(int32_t board, int32_t line, int32_t station, uint8_t* data);

/**
 * Reads a 16-bit register of the window, in one access.
 *
 * @param board The board number.
 * @param line The line number, 0.
 * @param offset The register's window offset; only its low 16 bits count.
 * @param value Receives the register.
 * @return #KV_OK with the value stored.
 * @retval KV_ERR_ARGUMENT the board or line is out of range, value is NULL, or the register
 * would reach past the window.
 * @retval KV_ERR_NOT_OPEN the board is not open in this process.
 * @retval KV_ERR_NOT_MAPPED the window is not mapped.
 * @threads Any thread; register calls take no lock.
 * @sa KV_SetReg16, KV_GetReg32, KV_GetReg64
 */
KV_BOARD_API int32_t KV_GetReg16(int32_t board, int32_t line, int32_t offset, uint16_t* value);

/**
 * Reads a 32-bit register of the window, in one access.
 *
 * @param board The board number.
 * @param line The line number, 0.
 * @param offset The register's window offset; only its low 16 bits count.
 * @param value Receives the register.
 * @return #KV_OK with the value stored.
 * @retval KV_ERR_ARGUMENT the board or line is out of range, value is NULL, or the register
 * would reach past the window.
 * @retval KV_ERR_NOT_OPEN the board is not open in this process.
 * @retval KV_ERR_NOT_MAPPED the window is not mapped.
 * @threads Any thread; takes no lock.
 * @sa KV_SetReg32
 */
KV_BOARD_API int32_t KV_GetReg32(int32_t board, int32_t line, int32_t offset, uint32_t* value);

/**
 * Reads a 64-bit register of the window.
 *
 * One 64-bit access in Pcimaster64; two 32-bit accesses, low word first, in
 * Dualmaster and Cardmaster. The station condition register (0x428) has bit
 * s set while station block s answers on the line.
 *
 * @param board The board number.
 * @param line The line number, 0.
 * @param offset The register's window offset; only its low 16 bits count.
 * @param value Receives the register.
 * @return #KV_OK with the value stored.
 * @retval KV_ERR_ARGUMENT the board or line is out of range, value is NULL, or the register
 * would reach past the window.
 * @retval KV_ERR_NOT_OPEN the board is not open in this process.
 * @retval KV_ERR_NOT_MAPPED the window is not mapped.
 * @threads Any thread; takes no lock.
 * @sa KV_SetReg64
 */
KV_BOARD_API int32_t KV_GetReg64(int32_t board, int32_t line, int32_t offset, uint64_t* value);

/**
 * Writes a 16-bit register of the window, in one access.
 *
 * @param board The board number.
 * @param line The line number, 0.
 * @param offset The register's window offset; only its low 16 bits count.
 * @param value The value; its low 16 bits are written.
 * @return #KV_OK when the register was written.
 * @retval KV_ERR_ARGUMENT the board or line is out of range, or the register would reach past
 * the window.
 * @retval KV_ERR_NOT_OPEN the board is not open in this process.
 * @retval KV_ERR_NOT_MAPPED the window is not mapped.
 * @threads Any thread; takes no lock.
 * @sa KV_GetReg16
 */
KV_BOARD_API int32_t KV_SetReg16(int32_t board, int32_t line, int32_t offset, int32_t value);

/**
 * Writes a 32-bit register of the window, in one access.
 *
 * @param board The board number.
 * @param line The line number, 0.
 * @param offset The register's window offset; only its low 16 bits count.
 * @param value The value.
 * @return #KV_OK when the register was written.
 * @retval KV_ERR_ARGUMENT the board or line is out of range, or the register would reach past
 * the window.
 * @retval KV_ERR_NOT_OPEN the board is not open in this process.
 * @retval KV_ERR_NOT_MAPPED the window is not mapped.
 * @threads Any thread; takes no lock.
 * @sa KV_GetReg32
 */
KV_BOARD_API int32_t KV_SetReg32(int32_t board, int32_t line, int32_t offset, int32_t value);

/**
 * Writes a 64-bit register of the window (one access in Pcimaster64, two 32-bit ones, low
 * word first, in the other builds).
 *
 * @param board The board number.
 * @param line The line number, 0.
 * @param offset The register's window offset; only its low 16 bits count.
 * @param value The value.
 * @return #KV_OK when the register was written.
 * @retval KV_ERR_ARGUMENT the board or line is out of range, or the register would reach past
 * the window.
 * @retval KV_ERR_NOT_OPEN the board is not open in this process.
 * @retval KV_ERR_NOT_MAPPED the window is not mapped.
 * @threads Any thread; takes no lock.
 * @sa KV_GetReg64
 */
KV_BOARD_API int32_t KV_SetReg64(int32_t board, int32_t line, int32_t offset, uint64_t value);

/**
 * Reads bytes of the GM area.
 *
 * The GM area holds 64 station blocks of 8 bytes; the call reads count bytes
 * from byte 8 * station + offset (the sum and the count each cut to their
 * low 16 bits), one access per element.
 *
 * @param board The board number.
 * @param line The line number, 0.
 * @param data Receives the bytes.
 * @param station The station block (0 to 31 the master's outputs, 32 to 63 its inputs).
 * @param offset The byte offset from the block.
 * @param count The number of bytes.
 * @return #KV_OK with the bytes stored.
 * @retval KV_ERR_ARGUMENT the board or line is out of range, data is NULL, or the range would
 * leave the GM area.
 * @retval KV_ERR_NOT_OPEN the board is not open in this process.
 * @retval KV_ERR_NOT_MAPPED the window is not mapped.
 * @waits For the line's GM read semaphore, without limit.
 * @threads GM reads of every thread and process on the board line run one at a time; a read
 * and a write may run together.
 * @sa KV_SetMemByte, KV_GetMemShort
 */
KV_BOARD_API int32_t KV_GetMemByte(int32_t board, int32_t line, uint8_t* data, int32_t station,
                                   int32_t offset, int32_t count);

/**
 * Reads 16-bit words of the GM area, from word 4 * station + offset.
 *
 * @param board The board number.
 * @param line The line number, 0.
 * @param data Receives the words.
 * @param station The station block.
 * @param offset The word offset from the block.
 * @param count The number of words.
 * @return #KV_OK with the words stored.
 * @retval KV_ERR_ARGUMENT the board or line is out of range, data is NULL, or the range would
 * leave the GM area.
 * @retval KV_ERR_NOT_OPEN the board is not open in this process.
 * @retval KV_ERR_NOT_MAPPED the window is not mapped.
 * @waits For the line's GM read semaphore, without limit.
 * @threads As KV_GetMemByte().
 * @sa KV_SetMemShort
 */
KV_BOARD_API int32_t KV_GetMemShort(int32_t board, int32_t line, uint16_t* data, int32_t station,
                                    int32_t offset, int32_t count);

/**
 * Reads 32-bit words of the GM area, from long 2 * station + offset.
 *
 * @param board The board number.
 * @param line The line number, 0.
 * @param data Receives the words.
 * @param station The station block.
 * @param offset The offset from the block, in 32-bit words.
 * @param count The number of words.
 * @return #KV_OK with the words stored.
 * @retval KV_ERR_ARGUMENT the board or line is out of range, data is NULL, or the range would
 * leave the GM area.
 * @retval KV_ERR_NOT_OPEN the board is not open in this process.
 * @retval KV_ERR_NOT_MAPPED the window is not mapped.
 * @waits For the line's GM read semaphore, without limit.
 * @threads As KV_GetMemByte().
 * @sa KV_SetMemLong
 */
KV_BOARD_API int32_t KV_GetMemLong(int32_t board, int32_t line, uint32_t* data, int32_t station,
                                   int32_t offset, int32_t count);

/**
 * Reads 8-byte blocks of the GM area, from block index1 + index2.
 *
 * @param board The board number.
 * @param line The line number, 0.
 * @param data Receives the blocks.
 * @param index1 The first block index (a station).
 * @param index2 Added to index1.
 * @param count The number of blocks.
 * @return #KV_OK with the blocks stored.
 * @retval KV_ERR_ARGUMENT the board or line is out of range, data is NULL, or the range would
 * leave the GM area.
 * @retval KV_ERR_NOT_OPEN the board is not open in this process.
 * @retval KV_ERR_NOT_MAPPED the window is not mapped.
 * @waits For the line's GM read semaphore, without limit.
 * @threads As KV_GetMemByte().
 * @sa KV_SetMemDLong
 */
KV_BOARD_API int32_t KV_GetMemDLong(int32_t board, int32_t line, uint64_t* data, int32_t index1,
                                    int32_t index2, int32_t count);

/**
 * Writes bytes into the GM area, from byte 8 * station + offset.
 *
 * Before the accesses into each station block the chip's write count
 * register is loaded with the number of accesses about to be made into that
 * block, so the chip sees each block complete.
 *
 * @param board The board number.
 * @param line The line number, 0.
 * @param data The bytes.
 * @param station The station block.
 * @param offset The byte offset from the block.
 * @param count The number of bytes.
 * @return #KV_OK when the bytes were written.
 * @retval KV_ERR_ARGUMENT the board or line is out of range, data is NULL, or the range would
 * leave the GM area.
 * @retval KV_ERR_NOT_OPEN the board is not open in this process.
 * @retval KV_ERR_NOT_MAPPED the window is not mapped.
 * @waits For the line's GM write semaphore, without limit.
 * @threads GM writes of every thread and process on the board line run one at a time.
 * @sa KV_GetMemByte, KV_SetMemShort
 */
KV_BOARD_API int32_t KV_SetMemByte(int32_t board, int32_t line, const uint8_t* data,
                                   int32_t station, int32_t offset, int32_t count);

/**
 * Writes 16-bit words into the GM area, from word 4 * station + offset.
 *
 * @param board The board number.
 * @param line The line number, 0.
 * @param data The words.
 * @param station The station block.
 * @param offset The word offset from the block.
 * @param count The number of words.
 * @return #KV_OK when the words were written.
 * @retval KV_ERR_ARGUMENT the board or line is out of range, data is NULL, or the range would
 * leave the GM area.
 * @retval KV_ERR_NOT_OPEN the board is not open in this process.
 * @retval KV_ERR_NOT_MAPPED the window is not mapped.
 * @waits For the line's GM write semaphore, without limit.
 * @threads As KV_SetMemByte().
 * @sa KV_GetMemShort
 */
KV_BOARD_API int32_t KV_SetMemShort(int32_t board, int32_t line, const uint16_t* data,
                                    int32_t station, int32_t offset, int32_t count);

/**
 * Writes 32-bit words into the GM area, from long 2 * station + offset.
 *
 * @param board The board number.
 * @param line The line number, 0.
 * @param data The words.
 * @param station The station block.
 * @param offset The offset from the block, in 32-bit words.
 * @param count The number of words.
 * @return #KV_OK when the words were written.
 * @retval KV_ERR_ARGUMENT the board or line is out of range, data is NULL, or the range would
 * leave the GM area.
 * @retval KV_ERR_NOT_OPEN the board is not open in this process.
 * @retval KV_ERR_NOT_MAPPED the window is not mapped.
 * @waits For the line's GM write semaphore, without limit.
 * @threads As KV_SetMemByte().
 * @sa KV_GetMemLong
 */
KV_BOARD_API int32_t KV_SetMemLong(int32_t board, int32_t line, const uint32_t* data,
                                   int32_t station, int32_t offset, int32_t count);

/**
 * Writes 8-byte blocks into the GM area, from block index1 + index2.
 *
 * @param board The board number.
 * @param line The line number, 0.
 * @param data The blocks.
 * @param index1 The first block index (a station).
 * @param index2 Added to index1.
 * @param count The number of blocks.
 * @return #KV_OK when the blocks were written.
 * @retval KV_ERR_ARGUMENT the board or line is out of range, data is NULL, or the range would
 * leave the GM area.
 * @retval KV_ERR_NOT_OPEN the board is not open in this process.
 * @retval KV_ERR_NOT_MAPPED the window is not mapped.
 * @waits For the line's GM write semaphore, without limit.
 * @threads As KV_SetMemByte().
 * @sa KV_GetMemDLong
 */
KV_BOARD_API int32_t KV_SetMemDLong(int32_t board, int32_t line, const uint64_t* data,
                                    int32_t index1, int32_t index2, int32_t count);

/**
 * Reads the chip's CHKC word (window offset 0x478).
 *
 * @param board The board number.
 * @param line The line number, 0.
 * @param value Receives the word.
 * @return #KV_OK with the word stored.
 * @retval KV_ERR_ARGUMENT the board or line is out of range, or value is NULL.
 * @retval KV_ERR_NOT_OPEN the board is not open in this process.
 * @retval KV_ERR_NOT_MAPPED the window is not mapped.
 * @threads Any thread; takes no lock.
 */
KV_BOARD_API int32_t KV_Ck(int32_t board, int32_t line, uint16_t* value);

/**
 * Resets the board through its driver.
 *
 * The window, the recorded range and the mail state are left as they are.
 *
 * @param board The board number.
 * @param line The line number, 0.
 * @return #KV_OK when the device reset the board.
 * @retval KV_ERR_ARGUMENT the board or line is out of range.
 * @retval KV_ERR_NOT_OPEN the board is not open in this process.
 * @retval KV_ERR_REQUEST the request failed.
 * @threads Any thread; the line stops for every process using the board.
 * @sa KV_start
 */
KV_BOARD_API int32_t KV_HardReset(int32_t board, int32_t line);

/* ---- mail (up to 256 bytes between stations) ---------------------------- */

/**
 * Opens mail on the board line for this process.
 *
 * Creates the named mutex that tells every process that mail is open here
 * and enables both receive buffers. A thread of the library polls the chip
 * every 10 ms while mail is open and signals the line's mail events.
 *
 * @param board The board number.
 * @param line The line number, 0.
 * @return #KV_OK when mail is open.
 * @retval KV_ERR_ARGUMENT the board or line is out of range.
 * @retval KV_ERR_NOT_OPEN the board is not open in this process.
 * @retval KV_ERR_NOT_MAPPED the window is not mapped.
 * @retval KV_ERR_MAIL_OPEN mail is already open on the line, in this process or another.
 * @threads One process at a time may have mail open on a board line.
 * @sa KV_MailClose, KV_MailSend, KV_MailWaitObject
 */
KV_BOARD_API int32_t KV_MailOpen(int32_t board, int32_t line);

/**
 * Closes mail on the board line and disables the receive buffers.
 *
 * @param board The board number.
 * @param line The line number, 0.
 * @return #KV_OK when mail is closed.
 * @retval KV_ERR_ARGUMENT the board or line is out of range.
 * @retval KV_ERR_NOT_OPEN the board is not open in this process.
 * @retval KV_ERR_NOT_MAPPED the window is not mapped.
 * @retval KV_ERR_MAIL_NOT_OPEN mail is not open.
 * @threads Any thread of the process that opened mail.
 * @sa KV_MailOpen
 */
KV_BOARD_API int32_t KV_MailClose(int32_t board, int32_t line);

/**
 * Hands a mail of 1 to 256 bytes to the chip for another station.
 *
 * Completion shows in bit 0 of the mail status word (KV_MailStatus()) and
 * signals the send-result event (KV_MailWaitObject()).
 *
 * @param board The board number.
 * @param line The line number, 0.
 * @param station The destination station address (low 8 bits).
 * @param data The bytes.
 * @param length The number of bytes, 1 to 256.
 * @return #KV_OK when the chip took the mail.
 * @retval KV_ERR_ARGUMENT the board or line is out of range, or data is NULL.
 * @retval KV_ERR_NOT_OPEN the board is not open in this process.
 * @retval KV_ERR_MAIL_LENGTH the length is outside 1 to 256 (checked before the window).
 * @retval KV_ERR_NOT_MAPPED the window is not mapped.
 * @retval KV_ERR_MAIL_NOT_OPEN mail is not open.
 * @retval KV_ERR_MAIL_BUSY the previous send is still in progress; nothing was changed.
 * @threads Any thread; the mail calls take no lock.
 * @sa KV_MailStatus, KV_MailWaitObject, KV_MailReceive
 */
KV_BOARD_API int32_t KV_MailSend(int32_t board, int32_t line, int32_t station, const uint8_t* data,
                                 int32_t length);

/**
 * Takes the received mail that waits, cut to the caller's length, and enables its buffer again.
 *
 * The number of bytes copied is not returned; a mail longer than length
 * loses its rest.
 *
 * @param board The board number.
 * @param line The line number, 0.
 * @param data Receives the mail's bytes.
 * @param length The room in data, 1 to 256.
 * @param station Receives the sender's station address.
 * @return #KV_OK with the mail stored.
 * @retval KV_ERR_ARGUMENT the board or line is out of range, or a pointer is NULL.
 * @retval KV_ERR_NOT_OPEN the board is not open in this process.
 * @retval KV_ERR_MAIL_LENGTH the length is outside 1 to 256.
 * @retval KV_ERR_NOT_MAPPED the window is not mapped.
 * @retval KV_ERR_MAIL_NOT_OPEN mail is not open.
 * @retval KV_ERR_MAIL_EMPTY no received mail waits.
 * @threads Any thread of the process that opened mail.
 * @sa KV_MailWaitObject, KV_MailSend
 */
KV_BOARD_API int32_t KV_MailReceive(int32_t board, int32_t line, uint8_t* data, int32_t length,
                                    int32_t* station);

/**
 * Polls the chip once and gives the mail status word.
 *
 * Bit 0: the last send completed (until the next KV_MailSend()); bits 1 to 4:
 * the chip's mail status bits; bit 5: no receive buffer is enabled; bit 8: a
 * received mail waits.
 *
 * @param board The board number.
 * @param line The line number, 0.
 * @param status Receives the status word.
 * @return #KV_OK with the status stored.
 * @retval KV_ERR_ARGUMENT the board or line is out of range, or status is NULL.
 * @retval KV_ERR_NOT_OPEN the board is not open in this process.
 * @retval KV_ERR_NOT_MAPPED the window is not mapped.
 * @retval KV_ERR_MAIL_NOT_OPEN mail is not open.
 * @threads Any thread.
 * @sa KV_MailWaitObject
 */
KV_BOARD_API int32_t KV_MailStatus(int32_t board, int32_t line, uint16_t* status);

/**
 * Waits for the next mail event of the board line.
 *
 * The events are named and shared by every process that has the board open,
 * so a process without mail open may wait too. The event that ended the
 * wait is reset.
 *
 * @param board The board number.
 * @param line The line number, 0.
 * @param status Receives the mail status word on #KV_MAIL_SEND_RESULT, 0 on
 * #KV_MAIL_RECEIVED and #KV_MAIL_CLOSED; left as it was on an error.
 * @return Never #KV_OK: the code says what ended the wait.
 * @retval KV_MAIL_SEND_RESULT a send completed.
 * @retval KV_MAIL_RECEIVED a mail arrived in a receive buffer.
 * @retval KV_MAIL_CLOSED the board line is closing (KV_close(), in any process).
 * @retval KV_ERR_REQUEST no receive buffer is enabled, or the wait failed.
 * @retval KV_ERR_ARGUMENT the board or line is out of range, or status is NULL.
 * @retval KV_ERR_NOT_OPEN the board is not open in this process.
 * @retval KV_ERR_NOT_MAPPED the window is not mapped.
 * @retval KV_ERR_MAIL_NOT_OPEN mail is not open.
 * @waits Without limit, until an event; a KV_close() of the board in another thread does not
 * wait for it and ends it with #KV_MAIL_CLOSED.
 * @threads Any thread, in any process that has the board open.
 * @sa KV_MailStatus, KV_MailReceive
 */
KV_BOARD_API int32_t KV_MailWaitObject(int32_t board, int32_t line, uint16_t* status);

#ifdef __cplusplus
}
#endif

#endif /* KALVO_BOARD_LIBRARY_H */
