/**
 * @file kalvo/kalvo.h
 * @brief The Kalvo application API: 51 calls over the remote I/O units of the network.
 *
 * Units are addressed by unit number (1 to 1024); board, line, channel and
 * job numbers are 1-based in every call. Link with -lKalvo
 * (`pkg-config --cflags --libs kalvo`; CMake Kalvo::Kalvo). Usable from C and
 * C++.
 *
 * Loading the library reads "Kalvo.ini" from the current directory (man 5
 * Kalvo.ini), binds the board libraries it names, opens the boards and, in
 * the first process on the machine, starts their lines. Run an application
 * with its configuration folder as the current directory; the device host
 * (kalvo-devhost) serves the boards.
 *
 * Every call returns 0 (#KALVO_OK) or one of the codes below, and writes one
 * line to the library's log ("KalvoLog_<slot><file>.log", chosen by
 * "KalvoLog.ini"; man 5 KalvoLog.ini). kalvo/kalvo_errors.h names the codes.
 *
 * Threads and processes: any thread may call the library. It does not lock
 * its own unit and board tables, so a unit must not be opened or closed in
 * one thread while another thread uses the same unit number. Changes of a
 * unit's outputs and command sequences take the unit's named locks, which
 * every process that has the same unit open shares. When the device host
 * serving a board goes away, the calls that reach that board fail from then
 * on (never 0).
 *
 * Waits: the calls that wait for a unit's reply poll every millisecond for
 * up to a time limit scaled by the "TimeOutTimes" of the unit's line in
 * Kalvo.ini; call KV_BeginPeriod() before them and KV_EndPeriod() after.
 * The same rule bounds the waits of every family: a "TimeOutTimes" of 0 or
 * less looks at the unit once and does not wait, and no value makes a wait
 * wrap around to a short one or to weeks.
 *
 * Board library codes: a unit call whose read or write of the unit's words
 * the board library refuses ends with that library's own code
 * (kalvo/board_library.h; kalvo_board_error_name() in kalvo/kalvo_errors.h
 * names it), never with 0, and writes nothing built from a word it could
 * not read.
 */
#ifndef KALVO_KALVO_H
#define KALVO_KALVO_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define KV_API __attribute__((visibility("default")))
#else
#define KV_API
#endif

/** Return codes of the application API. */
enum {
    KALVO_OK = 0,                 /**< Done. */
    KALVO_ERR_ALREADY_OPEN = 1,   /**< Open: the unit is already open in this process. */
    KALVO_ERR_NOT_OPEN = 2,       /**< The unit is not open (or its board is not opened). */
    KALVO_ERR_ARGUMENT = 3,       /**< A channel, bit, job, board, line or pointer out of range. */
    KALVO_ERR_STARTUP = 4,        /**< Open: start-up failed; board calls: board not opened. */
    KALVO_ERR_THREAD = 5,         /**< SIO open: a receive thread could not be created. */
    KALVO_ERR_SEMAPHORE = 6,      /**< Open: a named semaphore could not be created. */
    KALVO_ERR_MAP = 7,            /**< AXSA open: the pair map could not be created. */
    KALVO_ERR_UNIT = 9,           /**< Unit number outside 1-1024, or a placement that fails. */
    KALVO_ERR_NOT_LOADED = 10,    /**< The board library is not loaded. */
    KALVO_ERR_UNIT_ERROR = 0x10,  /**< SIO: the unit reported a receive or send error. */
    KALVO_ERR_TIMEOUT = 0x11,     /**< A command reply or an SIO transfer timed out. */
    KALVO_ERR_PAIR = 0x20,        /**< AXSA: another command's answer; SIO: block not taken. */
    KALVO_ERR_STATUS_DATA = 0x21, /**< AXSA GetStatus: status matched, data words did not. */
    KALVO_ERR_STATUS_WORD = 0x22, /**< AXSA GetStatus: data words matched, status did not. */
    KALVO_ERR_BUFFER = 0x30,      /**< SIO open: a buffer could not be created. */
    KALVO_ERR_NO_LIBRARY = 0x100  /**< CheckBoard, AttachMemory: board library not loaded. */
};

/*
 * A lost board: when the device host of a board dies, is stopped or
 * restarts, every unit call on the board passes on the board library's -1
 * (KV_ERR_REQUEST of kalvo/board_library.h), GetCondition too (with the
 * condition 0), and a wait (SIO transfer, ADA or AXSA command) ends with it
 * within 100 ms. Nothing reconnects by itself: reload the library or start
 * the program again to use the boards of a new host.
 */

/** Unit families (the family field of a placement). */
enum {
    KALVO_DIO = 1,  /**< Digital words. */
    KALVO_ADA = 2,  /**< Analogue channels with a command channel. */
    KALVO_AXSA = 3, /**< Axis controllers by command and answer. */
    KALVO_ENC = 4,  /**< Encoder units (no calls of their own). */
    KALVO_SIO = 5   /**< Serial channels. */
};

/**
 * Where a unit sits on the network: the argument of the OpenEx calls, and
 * what a unit section ("DIO_1") of Kalvo.ini gives. 88 bytes.
 */
typedef struct UnitPlacement {
    int32_t family; /**< Set by the OpenEx call itself. */
    int32_t unit;   /**< Unit number 1-1024. */
    int32_t kind;   /**< Kind code (0x101 DIO, ...); an unknown one means the family's first. */
    int32_t board;  /**< Board number, 1-based. */
    int32_t line;   /**< Line number, 1-based. */
    int32_t base;   /**< The unit's station address, 0-31. */
    int32_t
        offsets[16]; /**< Word offsets 0-15 from the station; the list ends at a negative one. */
} UnitPlacement;

/* ---- board level --------------------------------------------------------- */

/**
 * Asks for a 1 ms system timer for the reply waits of the unit calls.
 *
 * The unit calls that wait for a reply (the ADA command calls,
 * KV_AXSA_PutCmdEx(), the SIO transfers) poll every millisecond; call this
 * before such calls and KV_EndPeriod() after them, in pairs. The library
 * never calls it itself.
 *
 * @return 0 (the platform's result).
 * @threads Any thread; the requests of all threads of the process are
 * counted, and the timer stays fine until the last KV_EndPeriod().
 * @sa KV_EndPeriod
 */
KV_API int32_t KV_BeginPeriod(void);

/**
 * Ends a KV_BeginPeriod().
 *
 * @return 0 (the platform's result).
 * @threads Any thread, once for every KV_BeginPeriod().
 * @sa KV_BeginPeriod
 */
KV_API int32_t KV_EndPeriod(void);

/**
 * Tells whether a board of Kalvo.ini is open.
 *
 * @param board The board number, 1 to the "Board" count of Kalvo.ini.
 * @return #KALVO_OK when the board's library is loaded and the board opened.
 * @retval KALVO_ERR_ARGUMENT the board is outside 1 to 4, or above the board count.
 * @retval KALVO_ERR_NO_LIBRARY the board's library (its "Kind") is not loaded.
 * @retval KALVO_ERR_STARTUP the library is loaded but the board did not open (is the device
 * host running, and does it serve this board? kalvo doctor explains).
 * @threads Any thread; the board table does not change after the library has loaded.
 * @sa KV_AttachMemory
 */
KV_API int32_t KV_CheckBoard(int32_t board);

/**
 * The address of a board line's 4096-byte memory window in this process.
 *
 * The window holds the station slots, the GM area, the chip's registers and
 * the mail buffers (kalvo/board_library.h). Reads and writes through the
 * address share the window with the network chip and with every other
 * process, without any lock.
 *
 * @param board The board number, 1-based.
 * @param line The line number, 1-based (every board has one line).
 * @param address Receives the window's address.
 * @return #KALVO_OK with the address stored.
 * @retval KALVO_ERR_ARGUMENT the board is out of range, the line is 0 or above the board's line
 * count, or address is NULL.
 * @retval KALVO_ERR_NO_LIBRARY the board's library is not loaded.
 * @retval KALVO_ERR_STARTUP the board is not opened.
 * @retval KV_ERR_NOT_MAPPED (16) the board library's code: the window is not mapped.
 * @threads Any thread. The address is valid while the library is loaded.
 * @sa KV_CheckBoard, KV_Attach
 */
KV_API int32_t KV_AttachMemory(int32_t board, int32_t line, void** address);

/* ---- opening units (the same for every family) -------------------------- */

/**
 * Opens DIO unit @p unit, placed by its section "DIO_<unit>" of Kalvo.ini.
 *
 * The section gives the unit's board, line, station address ("Base") and
 * word offsets ("Offset"); a DIO unit uses the first offset. Opening creates
 * the unit's named output lock ("KVDIO(<unit>)Smph"), which every process
 * that opens the same unit shares.
 *
 * @param unit The unit number, 1 to 1024.
 * @return #KALVO_OK when the unit is open.
 * @retval KALVO_ERR_STARTUP the library's start-up failed (a board of Kalvo.ini did not open
 * or its line did not start; kalvo doctor explains).
 * @retval KALVO_ERR_UNIT the unit number is outside 1 to 1024, or the section is missing or
 * places the unit where it cannot be (board, line, base 0 to 31, offsets 0 to 15).
 * @retval KALVO_ERR_ALREADY_OPEN the unit is already open in this process (it stays open).
 * @retval KALVO_ERR_SEMAPHORE the output lock could not be created.
 * @threads Any thread; not while another thread uses or closes the same unit number.
 * @sa KV_DIO_OpenEx, KV_DIO_Close
 */
KV_API int32_t KV_DIO_Open(int32_t unit);

/**
 * Opens a DIO unit at the caller's placement instead of its section of Kalvo.ini.
 *
 * @param placement Where the unit sits; its unit field gives the unit number,
 * and its family field is set to #KALVO_DIO.
 * @return #KALVO_OK when the unit is open.
 * @retval KALVO_ERR_STARTUP the library's start-up failed.
 * @retval KALVO_ERR_UNIT placement is NULL, its unit number is outside 1 to 1024, or it
 * places the unit where it cannot be.
 * @retval KALVO_ERR_ALREADY_OPEN the unit is already open in this process.
 * @retval KALVO_ERR_SEMAPHORE the output lock could not be created.
 * @threads As KV_DIO_Open().
 * @sa KV_DIO_Open, KV_DIO_Close
 */
KV_API int32_t KV_DIO_OpenEx(UnitPlacement* placement);

/**
 * Closes a DIO unit in this process.
 *
 * The outputs keep their last value; the unit's named lock goes when the
 * last process that has the unit open closes it.
 *
 * @param unit The unit number.
 * @return #KALVO_OK when the unit was open and is closed.
 * @retval KALVO_ERR_UNIT the unit number is outside 1 to 1024.
 * @retval KALVO_ERR_NOT_OPEN the unit is not open in this process.
 * @threads Not while another thread uses the unit.
 * @sa KV_DIO_Open
 */
KV_API int32_t KV_DIO_Close(int32_t unit);

/**
 * Whether the DIO unit's station answers on the line.
 *
 * Reads the chip's station condition register (bit base + 32).
 *
 * @param unit The unit number.
 * @param condition Receives 1 when the station answers, else 0 (also when the register cannot
 * be read).
 * @return #KALVO_OK with the condition stored.
 * @retval KALVO_ERR_UNIT the unit number is outside 1 to 1024.
 * @retval KALVO_ERR_NOT_OPEN the unit is not open in this process.
 * @retval KALVO_ERR_ARGUMENT condition is NULL.
 * @threads Any thread; takes no lock.
 */
KV_API int32_t KV_DIO_GetCondition(int32_t unit, int32_t* condition);

/**
 * Opens ADA unit @p unit, placed by its section "ADA_<unit>" of Kalvo.ini.
 *
 * An ADA unit has one channel per word offset of its placement (up to 16).
 * Opening creates a named lock per channel ("KVADA(<unit>)Smph00", ...).
 *
 * @param unit The unit number, 1 to 1024.
 * @return #KALVO_OK when the unit is open.
 * @retval KALVO_ERR_STARTUP the library's start-up failed.
 * @retval KALVO_ERR_UNIT the unit number is outside 1 to 1024, or the section is missing or
 * places the unit where it cannot be.
 * @retval KALVO_ERR_ALREADY_OPEN the unit is already open in this process.
 * @retval KALVO_ERR_SEMAPHORE a channel lock could not be created.
 * @threads Any thread; not while another thread uses or closes the same unit number.
 * @sa KV_ADA_OpenEx, KV_ADA_Close
 */
KV_API int32_t KV_ADA_Open(int32_t unit);

/**
 * Opens an ADA unit at the caller's placement.
 *
 * @param placement Where the unit sits; its family field is set to #KALVO_ADA.
 * @return #KALVO_OK when the unit is open.
 * @retval KALVO_ERR_STARTUP the library's start-up failed.
 * @retval KALVO_ERR_UNIT placement is NULL, its unit number is outside 1 to 1024, or it
 * places the unit where it cannot be.
 * @retval KALVO_ERR_ALREADY_OPEN the unit is already open in this process.
 * @retval KALVO_ERR_SEMAPHORE a channel lock could not be created.
 * @threads As KV_ADA_Open().
 * @sa KV_ADA_Open, KV_ADA_Close
 */
KV_API int32_t KV_ADA_OpenEx(UnitPlacement* placement);

/**
 * Closes an ADA unit in this process.
 *
 * @param unit The unit number.
 * @return #KALVO_OK when the unit was open and is closed.
 * @retval KALVO_ERR_UNIT the unit number is outside 1 to 1024.
 * @retval KALVO_ERR_NOT_OPEN the unit is not open in this process.
 * @threads Not while another thread uses the unit.
 * @sa KV_ADA_Open
 */
KV_API int32_t KV_ADA_Close(int32_t unit);

/**
 * Whether the ADA unit's station answers on the line.
 *
 * @param unit The unit number.
 * @param condition Receives 1 when the station answers, else 0.
 * @return #KALVO_OK with the condition stored.
 * @retval KALVO_ERR_UNIT the unit number is outside 1 to 1024.
 * @retval KALVO_ERR_NOT_OPEN the unit is not open in this process.
 * @retval KALVO_ERR_ARGUMENT condition is NULL.
 * @threads Any thread; takes no lock.
 */
KV_API int32_t KV_ADA_GetCondition(int32_t unit, int32_t* condition);

/**
 * Opens AXSA unit @p unit, placed by its section "AXSA_<unit>" of Kalvo.ini.
 *
 * An AXSA unit has one job (axis) per four word offsets of its placement;
 * the first offset of each job must be a multiple of 4. Opening creates a
 * named lock per job ("AXSA(<unit>)Smph00", ...) and the shared pair map
 * ("AXSA(<unit>)PairMap") that ties answers to commands across processes.
 *
 * @param unit The unit number, 1 to 1024.
 * @return #KALVO_OK when the unit is open.
 * @retval KALVO_ERR_STARTUP the library's start-up failed.
 * @retval KALVO_ERR_UNIT the unit number is outside 1 to 1024, or the section is missing or
 * places the unit where it cannot be (also a job whose first offset is no multiple of 4).
 * @retval KALVO_ERR_ALREADY_OPEN the unit is already open in this process.
 * @retval KALVO_ERR_SEMAPHORE a job lock could not be created.
 * @retval KALVO_ERR_MAP the pair map could not be created.
 * @threads Any thread; not while another thread uses or closes the same unit number.
 * @sa KV_AXSA_OpenEx, KV_AXSA_Close
 */
KV_API int32_t KV_AXSA_Open(int32_t unit);

/**
 * Opens an AXSA unit at the caller's placement.
 *
 * @param placement Where the unit sits; its family field is set to #KALVO_AXSA.
 * @return #KALVO_OK when the unit is open.
 * @retval KALVO_ERR_STARTUP the library's start-up failed.
 * @retval KALVO_ERR_UNIT placement is NULL, its unit number is outside 1 to 1024, or it
 * places the unit where it cannot be.
 * @retval KALVO_ERR_ALREADY_OPEN the unit is already open in this process.
 * @retval KALVO_ERR_SEMAPHORE a job lock could not be created.
 * @retval KALVO_ERR_MAP the pair map could not be created.
 * @threads As KV_AXSA_Open().
 * @sa KV_AXSA_Open, KV_AXSA_Close
 */
KV_API int32_t KV_AXSA_OpenEx(UnitPlacement* placement);

/**
 * Closes an AXSA unit in this process.
 *
 * The pair map goes when the last process that has the unit open closes it.
 * The next open starts each job's pair code from the one standing in the
 * job's output words, so the first command after it carries the code after
 * the one the unit last took: the unit, which ignores a repeated code, answers
 * it, and its old answer is not taken for the new one.
 *
 * @param unit The unit number.
 * @return #KALVO_OK when the unit was open and is closed.
 * @retval KALVO_ERR_UNIT the unit number is outside 1 to 1024.
 * @retval KALVO_ERR_NOT_OPEN the unit is not open in this process.
 * @threads Not while another thread uses the unit.
 * @sa KV_AXSA_Open
 */
KV_API int32_t KV_AXSA_Close(int32_t unit);

/**
 * Whether the AXSA unit's station answers on the line.
 *
 * @param unit The unit number.
 * @param condition Receives 1 when the station answers, else 0.
 * @return #KALVO_OK with the condition stored.
 * @retval KALVO_ERR_UNIT the unit number is outside 1 to 1024.
 * @retval KALVO_ERR_NOT_OPEN the unit is not open in this process.
 * @retval KALVO_ERR_ARGUMENT condition is NULL.
 * @threads Any thread; takes no lock.
 */
KV_API int32_t KV_AXSA_GetCondition(int32_t unit, int32_t* condition);

/**
 * Opens SIO unit @p unit, placed by its section "SIO_<unit>" of Kalvo.ini.
 *
 * Channel c of the unit uses the word offsets 4(c-1) to 4(c-1)+3 of its
 * placement; the first of them must be a multiple of 4. Opening creates the
 * channels' named locks, attaches their receive buffers (shared by every
 * process that has the unit open, 4096 bytes until KV_SIO_Config() says
 * otherwise) and creates their receive threads, which start receiving at the
 * channel's first KV_SIO_Config().
 *
 * @param unit The unit number, 1 to 1024.
 * @return #KALVO_OK when the unit is open.
 * @retval KALVO_ERR_STARTUP the library's start-up failed.
 * @retval KALVO_ERR_UNIT the unit number is outside 1 to 1024, or the section is missing or
 * places the unit where it cannot be (also a channel whose first offset is no multiple of 4).
 * @retval KALVO_ERR_ALREADY_OPEN the unit is already open in this process.
 * @retval KALVO_ERR_SEMAPHORE a named lock could not be created.
 * @retval KALVO_ERR_BUFFER a receive or send buffer could not be created.
 * @retval KALVO_ERR_THREAD a receive thread could not be created.
 * @threads Any thread; not while another thread uses or closes the same unit number.
 * @sa KV_SIO_OpenEx, KV_SIO_Config, KV_SIO_Close
 */
KV_API int32_t KV_SIO_Open(int32_t unit);

/**
 * Opens an SIO unit at the caller's placement.
 *
 * @param placement Where the unit sits; its family field is set to #KALVO_SIO.
 * @return #KALVO_OK when the unit is open.
 * @retval KALVO_ERR_STARTUP the library's start-up failed.
 * @retval KALVO_ERR_UNIT placement is NULL, its unit number is outside 1 to 1024, or it
 * places the unit where it cannot be.
 * @retval KALVO_ERR_ALREADY_OPEN the unit is already open in this process.
 * @retval KALVO_ERR_SEMAPHORE a named lock could not be created.
 * @retval KALVO_ERR_BUFFER a buffer could not be created.
 * @retval KALVO_ERR_THREAD a receive thread could not be created.
 * @threads As KV_SIO_Open().
 * @sa KV_SIO_Open, KV_SIO_Close
 */
KV_API int32_t KV_SIO_OpenEx(UnitPlacement* placement);

/**
 * Closes an SIO unit in this process.
 *
 * A KV_SIO_GetData() or KV_SIO_PutData() that another thread is waiting in
 * ends with #KALVO_ERR_TIMEOUT, and the channels' receive threads end; bytes
 * in the receive buffer stay for the other processes that have the unit
 * open.
 *
 * @param unit The unit number.
 * @return #KALVO_OK when the unit was open and is closed.
 * @retval KALVO_ERR_UNIT the unit number is outside 1 to 1024.
 * @retval KALVO_ERR_NOT_OPEN the unit is not open in this process.
 * @waits About 100 ms times the line's "TimeOutTimes", for the waiting calls and receive
 * threads to see the unit closing, and then for the receive threads to end.
 * @threads Not while another thread opens the same unit number; threads waiting in the unit's
 * transfers are ended as above.
 * @sa KV_SIO_Open
 */
KV_API int32_t KV_SIO_Close(int32_t unit);

/**
 * Whether the SIO unit's station answers on the line.
 *
 * @param unit The unit number.
 * @param condition Receives 1 when the station answers, else 0.
 * @return #KALVO_OK with the condition stored.
 * @retval KALVO_ERR_UNIT the unit number is outside 1 to 1024.
 * @retval KALVO_ERR_NOT_OPEN the unit is not open in this process.
 * @retval KALVO_ERR_ARGUMENT condition is NULL.
 * @threads Any thread; takes no lock.
 */
KV_API int32_t KV_SIO_GetCondition(int32_t unit, int32_t* condition);

/* ---- DIO: one 16-bit input word and one 16-bit output word -------------- */

/**
 * Reads the DIO unit's input word.
 *
 * The word at the unit's first offset in its input station block, as the
 * line last brought it from the unit (bits 0 to 15).
 *
 * @param unit The unit number.
 * @param data Receives the word; left as it was on failure.
 * @return #KALVO_OK with the word stored, whatever the line is doing.
 * @retval KALVO_ERR_UNIT the unit number is outside 1 to 1024.
 * @retval KALVO_ERR_NOT_OPEN the unit is not open in this process, or its board is not opened.
 * @retval KALVO_ERR_ARGUMENT data is NULL.
 * @retval KV_ERR_NOT_MAPPED (16) or another code of the board library: it could not read the
 * word (for example the board window is not mapped).
 * @threads Any thread; takes no lock.
 * @par Example
 * @code
 * uint16_t in;
 * if (KV_DIO_InData(1, &in) == KALVO_OK) printf("inputs %04X\n", in);
 * @endcode
 * @sa KV_DIO_InDataBit, KV_DIO_InOData, KV_DIO_OutData
 */
KV_API int32_t KV_DIO_InData(int32_t unit, uint16_t* data);

/**
 * Reads back the DIO unit's output word.
 *
 * @param unit The unit number.
 * @param data Receives the word last written to the unit's outputs; left as it was on
 * failure.
 * @return #KALVO_OK with the word stored.
 * @retval KALVO_ERR_UNIT the unit number is outside 1 to 1024.
 * @retval KALVO_ERR_NOT_OPEN the unit is not open in this process, or its board is not opened.
 * @retval KALVO_ERR_ARGUMENT data is NULL.
 * @retval KV_ERR_NOT_MAPPED (16) or another code of the board library: it could not read the
 * word.
 * @threads Any thread; takes no lock, so it may see a word that another thread or process is
 * changing.
 * @sa KV_DIO_OutData, KV_DIO_InODataBit
 */
KV_API int32_t KV_DIO_InOData(int32_t unit, uint16_t* data);

/**
 * Writes the DIO unit's output word.
 *
 * @param unit The unit number.
 * @param data The word; only its low 16 bits are written (0x12345 writes 0x2345).
 * @return #KALVO_OK when the word was written.
 * @retval KALVO_ERR_UNIT the unit number is outside 1 to 1024.
 * @retval KALVO_ERR_NOT_OPEN the unit is not open in this process, or its board is not opened.
 * @retval KV_ERR_NOT_MAPPED (16) or another code of the board library: it could not write the
 * word.
 * @waits For the unit's output lock, without limit, while another thread or process changes
 * the same unit's outputs.
 * @threads Any thread; the output lock is shared by every process that has the unit open.
 * @par Example
 * @code
 * KV_DIO_OutData(1, 0x0005); // outputs 0 and 2 on, the others off
 * @endcode
 * @sa KV_DIO_OutDataBit, KV_DIO_InOData
 */
KV_API int32_t KV_DIO_OutData(int32_t unit, int32_t data);

/**
 * Reads one bit of the DIO unit's input word.
 *
 * @param unit The unit number.
 * @param bitNo The bit, 0 (least significant) to 15.
 * @param bit Receives 0 or 1; left as it was on failure.
 * @return #KALVO_OK with the bit stored.
 * @retval KALVO_ERR_UNIT the unit number is outside 1 to 1024.
 * @retval KALVO_ERR_NOT_OPEN the unit is not open in this process, or its board is not opened.
 * @retval KALVO_ERR_ARGUMENT bitNo is outside 0 to 15, or bit is NULL.
 * @retval KV_ERR_NOT_MAPPED (16) or another code of the board library: it could not read the
 * word.
 * @threads Any thread; takes no lock.
 * @sa KV_DIO_InData
 */
KV_API int32_t KV_DIO_InDataBit(int32_t unit, int32_t bitNo, int32_t* bit);

/**
 * Reads back one bit of the DIO unit's output word.
 *
 * @param unit The unit number.
 * @param bitNo The bit, 0 to 15.
 * @param bit Receives 0 or 1; left as it was on failure.
 * @return #KALVO_OK with the bit stored.
 * @retval KALVO_ERR_UNIT the unit number is outside 1 to 1024.
 * @retval KALVO_ERR_NOT_OPEN the unit is not open in this process, or its board is not opened.
 * @retval KALVO_ERR_ARGUMENT bitNo is outside 0 to 15, or bit is NULL.
 * @retval KV_ERR_NOT_MAPPED (16) or another code of the board library: it could not read the
 * word.
 * @threads Any thread; takes no lock.
 * @sa KV_DIO_InOData, KV_DIO_OutDataBit
 */
KV_API int32_t KV_DIO_InODataBit(int32_t unit, int32_t bitNo, int32_t* bit);

/**
 * Sets or clears one bit of the DIO unit's output word.
 *
 * The word is read back, the bit changed and the word written under the
 * unit's output lock, so two programs can change different bits of one
 * output word without losing each other's change.
 *
 * @param unit The unit number.
 * @param bitNo The bit, 0 to 15.
 * @param bit Not 0 sets the bit, 0 clears it.
 * @return #KALVO_OK when the word was written.
 * @retval KALVO_ERR_UNIT the unit number is outside 1 to 1024.
 * @retval KALVO_ERR_NOT_OPEN the unit is not open in this process, or its board is not opened.
 * @retval KALVO_ERR_ARGUMENT bitNo is outside 0 to 15 (nothing is changed).
 * @retval KV_ERR_NOT_MAPPED (16) or another code of the board library: it could not read or
 * write the word.
 * @waits For the unit's output lock, without limit.
 * @threads Any thread; atomic against every thread of every process that has the unit open.
 * @par Example
 * @code
 * KV_DIO_OutDataBit(1, 5, 1); // 0x0001 becomes 0x0021
 * KV_DIO_OutDataBit(1, 0, 0); // and then 0x0020
 * @endcode
 * @sa KV_DIO_OutData, KV_DIO_InODataBit
 */
KV_API int32_t KV_DIO_OutDataBit(int32_t unit, int32_t bitNo, int32_t bit);

/* ---- ADA: analogue channels (1-based) with a command channel ------------ */

/**
 * Reads the 12-bit value of an ADA channel's input.
 *
 * Channel c is one 16-bit input word and one 16-bit output word; in data
 * mode they carry 12-bit values (bits 11-0).
 *
 * @param unit The unit number.
 * @param channel The channel, 1 to the unit's channel count.
 * @param value Receives the input word & 0x0FFF; left as it was on failure.
 * @return #KALVO_OK with the value stored.
 * @retval KALVO_ERR_UNIT the unit number is outside 1 to 1024.
 * @retval KALVO_ERR_NOT_OPEN the unit is not open in this process, or its board is not opened.
 * @retval KALVO_ERR_ARGUMENT the channel is outside 1 to the channel count, or value is NULL
 * (checked before anything else happens).
 * @retval KV_ERR_NOT_MAPPED (16) or another code of the board library: it could not read the
 * word.
 * @threads Any thread; takes no lock, so during another thread's command on the channel it
 * may see the command word.
 * @sa KV_ADA_InValueFull, KV_ADA_OutValue
 */
KV_API int32_t KV_ADA_InValue(int32_t unit, int32_t channel, int32_t* value);

/**
 * Reads an ADA channel's whole input word.
 *
 * @param unit The unit number.
 * @param channel The channel, 1 to the unit's channel count.
 * @param data Receives the 16-bit word; left as it was on failure.
 * @return #KALVO_OK with the word stored.
 * @retval KALVO_ERR_UNIT the unit number is outside 1 to 1024.
 * @retval KALVO_ERR_NOT_OPEN the unit is not open in this process, or its board is not opened.
 * @retval KALVO_ERR_ARGUMENT the channel is out of range, or data is NULL.
 * @retval KV_ERR_NOT_MAPPED (16) or another code of the board library: it could not read the
 * word.
 * @threads Any thread; takes no lock.
 * @sa KV_ADA_InValue
 */
KV_API int32_t KV_ADA_InValueFull(int32_t unit, int32_t channel, uint16_t* data);

/**
 * Reads back the 12-bit value of an ADA channel's output.
 *
 * @param unit The unit number.
 * @param channel The channel, 1 to the unit's channel count.
 * @param value Receives the output word & 0x0FFF; left as it was on failure.
 * @return #KALVO_OK with the value stored.
 * @retval KALVO_ERR_UNIT the unit number is outside 1 to 1024.
 * @retval KALVO_ERR_NOT_OPEN the unit is not open in this process, or its board is not opened.
 * @retval KALVO_ERR_ARGUMENT the channel is out of range, or value is NULL.
 * @retval KV_ERR_NOT_MAPPED (16) or another code of the board library: it could not read the
 * word.
 * @threads Any thread; takes no lock.
 * @sa KV_ADA_OutValue, KV_ADA_InOValueFull
 */
KV_API int32_t KV_ADA_InOValue(int32_t unit, int32_t channel, int32_t* value);

/**
 * Reads back an ADA channel's whole output word.
 *
 * @param unit The unit number.
 * @param channel The channel, 1 to the unit's channel count.
 * @param data Receives the 16-bit word; left as it was on failure.
 * @return #KALVO_OK with the word stored.
 * @retval KALVO_ERR_UNIT the unit number is outside 1 to 1024.
 * @retval KALVO_ERR_NOT_OPEN the unit is not open in this process, or its board is not opened.
 * @retval KALVO_ERR_ARGUMENT the channel is out of range, or data is NULL.
 * @retval KV_ERR_NOT_MAPPED (16) or another code of the board library: it could not read the
 * word.
 * @threads Any thread; takes no lock.
 * @sa KV_ADA_OutValueFull, KV_ADA_InOValue
 */
KV_API int32_t KV_ADA_InOValueFull(int32_t unit, int32_t channel, uint16_t* data);

/**
 * Writes a 12-bit value to an ADA channel's output.
 *
 * @param unit The unit number.
 * @param channel The channel, 1 to the unit's channel count.
 * @param value The value, clamped to 0 to 4095 (4096 and above give 4095, below 0 give 0).
 * @return #KALVO_OK when the word was written.
 * @retval KALVO_ERR_UNIT the unit number is outside 1 to 1024.
 * @retval KALVO_ERR_NOT_OPEN the unit is not open in this process, or its board is not opened.
 * @retval KALVO_ERR_ARGUMENT the channel is out of range.
 * @retval KV_ERR_NOT_MAPPED (16) or another code of the board library: it could not write the
 * word.
 * @waits For the channel's lock, without limit: while a command runs on the channel, in any
 * process, the write waits for it to end.
 * @threads Any thread; the channel lock is shared by every process that has the unit open.
 * @sa KV_ADA_OutValueFull, KV_ADA_InOValue
 */
KV_API int32_t KV_ADA_OutValue(int32_t unit, int32_t channel, int32_t value);

/**
 * Writes an ADA channel's whole output word.
 *
 * @param unit The unit number.
 * @param channel The channel, 1 to the unit's channel count.
 * @param data The word; its low 16 bits are written as they are (0x1FFFF writes 0xFFFF).
 * @return #KALVO_OK when the word was written.
 * @retval KALVO_ERR_UNIT the unit number is outside 1 to 1024.
 * @retval KALVO_ERR_NOT_OPEN the unit is not open in this process, or its board is not opened.
 * @retval KALVO_ERR_ARGUMENT the channel is out of range.
 * @retval KV_ERR_NOT_MAPPED (16) or another code of the board library: it could not write the
 * word.
 * @waits For the channel's lock, without limit.
 * @threads Any thread; the channel lock is shared by every process that has the unit open.
 * @sa KV_ADA_OutValue
 */
KV_API int32_t KV_ADA_OutValueFull(int32_t unit, int32_t channel, int32_t data);

/**
 * Sets an ADA channel's filter by the unit's command protocol (command 0x8000).
 *
 * A command keeps the channel's output value, writes the command code (the
 * top three bits) with a 12-bit parameter, waits for the unit's reply,
 * writes the output value back and waits for the unit's return to data
 * mode. The output value is back afterwards whatever happened; when it
 * cannot be read first, no command is sent and the board library's code is
 * returned. The meaning of the codes is the unit's.
 *
 * @param unit The unit number.
 * @param channel The channel, 1 to the unit's channel count.
 * @param filter Filter code; bits 7-5 are sent.
 * @param maxMin Max-min code; bit 4 is sent.
 * @param sample Sample code; bits 3-0 are sent.
 * @return #KALVO_OK when the unit answered and returned to data mode.
 * @retval KALVO_ERR_UNIT the unit number is outside 1 to 1024.
 * @retval KALVO_ERR_NOT_OPEN the unit is not open in this process, or its board is not opened.
 * @retval KALVO_ERR_ARGUMENT the channel is out of range.
 * @retval KALVO_ERR_TIMEOUT the unit did not answer, or did not return to data mode, in time.
 * @retval KV_ERR_NOT_MAPPED (16) or another code of the board library: it could not read or
 * write a word of the unit.
 * @waits Polls every 1 ms for the reply and again for the return to data mode, each for up to
 * 200 ms times the line's "TimeOutTimes" (about 400 ms in all with the default); call
 * KV_BeginPeriod() first.
 * @threads Any thread; holds the channel's lock for the whole command, so other threads and
 * processes using the channel wait for it.
 * @sa KV_ADA_GetFilter, KV_ADA_PutCmd
 */
KV_API int32_t KV_ADA_SetFilter(int32_t unit, int32_t channel, int32_t filter, int32_t maxMin,
                                int32_t sample);

/**
 * Reads an ADA channel's filter setting by command (command 0x4000).
 *
 * @param unit The unit number.
 * @param channel The channel, 1 to the unit's channel count.
 * @param filter Receives reply & 0xE0.
 * @param maxMin Receives reply & 0x10.
 * @param sample Receives reply & 0x0F.
 * @return #KALVO_OK with the three values stored (they are written only on success).
 * @retval KALVO_ERR_UNIT the unit number is outside 1 to 1024.
 * @retval KALVO_ERR_NOT_OPEN the unit is not open in this process, or its board is not opened.
 * @retval KALVO_ERR_ARGUMENT the channel is out of range, or a pointer is NULL.
 * @retval KALVO_ERR_TIMEOUT the unit did not answer, or did not return to data mode, in time.
 * @retval KV_ERR_NOT_MAPPED (16) or another code of the board library: it could not read or
 * write a word of the unit.
 * @waits As KV_ADA_SetFilter(): up to about 400 ms times "TimeOutTimes".
 * @threads As KV_ADA_SetFilter().
 * @sa KV_ADA_SetFilter
 */
KV_API int32_t KV_ADA_GetFilter(int32_t unit, int32_t channel, int32_t* filter, int32_t* maxMin,
                                int32_t* sample);

/**
 * Reads an ADA channel's input range code by command (command 0x4000).
 *
 * @param unit The unit number.
 * @param channel The channel, 1 to the unit's channel count.
 * @param range Receives reply & 0x0F00 (written only on success).
 * @return #KALVO_OK with the range stored.
 * @retval KALVO_ERR_UNIT the unit number is outside 1 to 1024.
 * @retval KALVO_ERR_NOT_OPEN the unit is not open in this process, or its board is not opened.
 * @retval KALVO_ERR_ARGUMENT the channel is out of range, or range is NULL.
 * @retval KALVO_ERR_TIMEOUT the unit did not answer, or did not return to data mode, in time.
 * @retval KV_ERR_NOT_MAPPED (16) or another code of the board library: it could not read or
 * write a word of the unit.
 * @waits As KV_ADA_SetFilter().
 * @threads As KV_ADA_SetFilter().
 * @sa KV_ADA_GetOutRange
 */
KV_API int32_t KV_ADA_GetInRange(int32_t unit, int32_t channel, int32_t* range);

/**
 * Reads an ADA channel's output range code by command (command 0x6000).
 *
 * @param unit The unit number.
 * @param channel The channel, 1 to the unit's channel count.
 * @param range Receives reply & 0x0F00 (written only on success).
 * @return #KALVO_OK with the range stored.
 * @retval KALVO_ERR_UNIT the unit number is outside 1 to 1024.
 * @retval KALVO_ERR_NOT_OPEN the unit is not open in this process, or its board is not opened.
 * @retval KALVO_ERR_ARGUMENT the channel is out of range, or range is NULL.
 * @retval KALVO_ERR_TIMEOUT the unit did not answer, or did not return to data mode, in time.
 * @retval KV_ERR_NOT_MAPPED (16) or another code of the board library: it could not read or
 * write a word of the unit.
 * @waits As KV_ADA_SetFilter().
 * @threads As KV_ADA_SetFilter().
 * @sa KV_ADA_GetInRange
 */
KV_API int32_t KV_ADA_GetOutRange(int32_t unit, int32_t channel, int32_t* range);

/**
 * Reads the ADA unit's version by command (command 0xE000 on channel 1).
 *
 * @param unit The unit number.
 * @param version Receives the whole reply word, command code included (written only on
 * success).
 * @return #KALVO_OK with the version stored.
 * @retval KALVO_ERR_UNIT the unit number is outside 1 to 1024.
 * @retval KALVO_ERR_NOT_OPEN the unit is not open in this process, or its board is not opened.
 * @retval KALVO_ERR_ARGUMENT version is NULL.
 * @retval KALVO_ERR_TIMEOUT the unit did not answer, or did not return to data mode, in time.
 * @retval KV_ERR_NOT_MAPPED (16) or another code of the board library: it could not read or
 * write a word of the unit.
 * @waits As KV_ADA_SetFilter().
 * @threads As KV_ADA_SetFilter(), on channel 1 whatever the unit's channel count.
 * @sa KV_ADA_PutCmd
 */
KV_API int32_t KV_ADA_GetVersion(int32_t unit, int32_t* version);

/**
 * Runs any command of the ADA unit's command protocol on a channel.
 *
 * @param unit The unit number.
 * @param channel The channel, 1 to the unit's channel count.
 * @param command The command code in bits 15-13; a code with other bits set is never answered
 * and gives #KALVO_ERR_TIMEOUT.
 * @param parameter The parameter; its low 12 bits are sent.
 * @param reply Receives the whole reply word as soon as the unit answered, also when its
 * return to data mode then timed out.
 * @return #KALVO_OK when the unit answered and returned to data mode.
 * @retval KALVO_ERR_UNIT the unit number is outside 1 to 1024.
 * @retval KALVO_ERR_NOT_OPEN the unit is not open in this process, or its board is not opened.
 * @retval KALVO_ERR_ARGUMENT the channel is out of range, or reply is NULL.
 * @retval KALVO_ERR_TIMEOUT the unit did not answer, or did not return to data mode, in time.
 * @retval KV_ERR_NOT_MAPPED (16) or another code of the board library: it could not read or
 * write a word of the unit.
 * @waits As KV_ADA_SetFilter().
 * @threads As KV_ADA_SetFilter().
 * @sa KV_ADA_SetFilter, KV_ADA_GetVersion
 */
KV_API int32_t KV_ADA_PutCmd(int32_t unit, int32_t channel, int32_t command, int32_t parameter,
                             uint16_t* reply);

/* ---- AXSA: axis controllers by command and answer, per job (1-based) ---- */

/**
 * Sends a command and two parameters to an AXSA job, without waiting.
 *
 * The master writes a command word and two parameter words; the unit
 * answers with a status word and a 28-bit data value. A 2-bit pair code,
 * advanced 1, 2, 3, 1, ... by every command of any process on the job, ties
 * an answer to its command: bits 15-14 of each word sent carry it, and only
 * an answer carrying it is taken.
 *
 * @param unit The unit number.
 * @param jobNo The job (axis), 1 to the unit's job count.
 * @param command The command word; bits 15-14 are ORed with the pair code.
 * @param parameter1 First parameter word; bits 15-14 are ORed with the pair code.
 * @param parameter2 Second parameter word; bits 15-14 are ORed with the pair code.
 * @return #KALVO_OK when the command was written.
 * @retval KALVO_ERR_UNIT the unit number is outside 1 to 1024.
 * @retval KALVO_ERR_NOT_OPEN the unit is not open in this process, or its board is not opened.
 * @retval KALVO_ERR_ARGUMENT the job is outside 1 to the job count.
 * @retval KV_ERR_NOT_MAPPED (16) or another code of the board library: it could not read or
 * write a word of the unit.
 * @waits Only for the job's lock.
 * @threads Any thread; the job lock and the pair code are shared by every process that has
 * the unit open.
 * @sa KV_AXSA_Answer, KV_AXSA_AnsWith, KV_AXSA_PutCmdEx
 */
KV_API int32_t KV_AXSA_PutCmd(int32_t unit, int32_t jobNo, int32_t command, int32_t parameter1,
                              int32_t parameter2);

/**
 * The status word answering the job's latest command, if the unit has answered it.
 *
 * @param unit The unit number.
 * @param jobNo The job, 1 to the unit's job count.
 * @param status Receives the status word; left as it was when the answer is not there yet.
 * @param comErr Always set to 0.
 * @return #KALVO_OK with the status stored.
 * @retval KALVO_ERR_UNIT the unit number is outside 1 to 1024.
 * @retval KALVO_ERR_NOT_OPEN the unit is not open in this process, or its board is not opened.
 * @retval KALVO_ERR_ARGUMENT the job is out of range, or a pointer is NULL.
 * @retval KALVO_ERR_PAIR the unit has not answered the latest command yet.
 * @retval KV_ERR_NOT_MAPPED (16) or another code of the board library: it could not read or
 * write a word of the unit.
 * @waits Only for the job's lock; no wait for the unit.
 * @threads Any thread; answers the latest command of any process on the job.
 * @sa KV_AXSA_PutCmd, KV_AXSA_AnsWith
 */
KV_API int32_t KV_AXSA_Answer(int32_t unit, int32_t jobNo, uint16_t* status, uint16_t* comErr);

/**
 * Status and data answering the job's latest command, if the unit has answered it.
 *
 * @param unit The unit number.
 * @param jobNo The job, 1 to the unit's job count.
 * @param status Receives the status word (when it answers the latest command).
 * @param jobData Receives the 28-bit data value, sign-extended (-134217728 to 134217727).
 * @param comErr Always set to 0.
 * @return #KALVO_OK with status and data stored.
 * @retval KALVO_ERR_UNIT the unit number is outside 1 to 1024.
 * @retval KALVO_ERR_NOT_OPEN the unit is not open in this process, or its board is not opened.
 * @retval KALVO_ERR_ARGUMENT the job is out of range, or a pointer is NULL.
 * @retval KALVO_ERR_PAIR the status or the data words do not answer the latest command yet.
 * @retval KV_ERR_NOT_MAPPED (16) or another code of the board library: it could not read or
 * write a word of the unit.
 * @waits Only for the job's lock.
 * @threads As KV_AXSA_Answer().
 * @sa KV_AXSA_PutCmd, KV_AXSA_Answer
 */
KV_API int32_t KV_AXSA_AnsWith(int32_t unit, int32_t jobNo, uint16_t* status, int32_t* jobData,
                               uint16_t* comErr);

/**
 * Status and data the AXSA job shows outside a command (pair code 0).
 *
 * @param unit The unit number.
 * @param jobNo The job, 1 to the unit's job count.
 * @param status Receives the status word when it carries pair code 0.
 * @param jobData Receives the data value when the two data words agree.
 * @return #KALVO_OK with both stored.
 * @retval KALVO_ERR_UNIT the unit number is outside 1 to 1024.
 * @retval KALVO_ERR_NOT_OPEN the unit is not open in this process, or its board is not opened.
 * @retval KALVO_ERR_ARGUMENT the job is out of range, or a pointer is NULL.
 * @retval KALVO_ERR_STATUS_DATA the status matched and was stored; the data words did not agree.
 * @retval KALVO_ERR_STATUS_WORD the data words agreed and were stored; the status answers a
 * command.
 * @retval KALVO_ERR_PAIR neither matched; nothing is stored.
 * @retval KV_ERR_NOT_MAPPED (16) or another code of the board library: it could not read or
 * write a word of the unit.
 * @waits Only for the job's lock.
 * @threads Any thread.
 * @sa KV_AXSA_AnsWith
 */
KV_API int32_t KV_AXSA_GetStatus(int32_t unit, int32_t jobNo, uint16_t* status, int32_t* jobData);

/**
 * Sends a command with a function code and a 28-bit parameter and waits for its answer.
 *
 * The function code (low 5 bits of parameter1) goes into bits 12-8 of the
 * command word; parameter2 is split into two 14-bit halves. Status-type
 * commands ('!' '"' '#' '$' '/' '<' '=' '>' '?' 'L' 'M' 'N' 'O' '}' with a
 * function below 28, and 'F' with function 3) are answered with pair code 0,
 * all others with the code just sent.
 *
 * @param unit The unit number.
 * @param jobNo The job, 1 to the unit's job count.
 * @param command The command character or word.
 * @param parameter1 The function code.
 * @param parameter2 The 28-bit parameter.
 * @param status Receives the answer's status word (only on success).
 * @param jobData Receives the answer's data value, sign-extended (only on success).
 * @return #KALVO_OK with status and data stored.
 * @retval KALVO_ERR_UNIT the unit number is outside 1 to 1024.
 * @retval KALVO_ERR_NOT_OPEN the unit is not open in this process, or its board is not opened.
 * @retval KALVO_ERR_ARGUMENT the job is out of range, or a pointer is NULL.
 * @retval KALVO_ERR_TIMEOUT no answer came in time; status and data are left as they were.
 * @retval KV_ERR_NOT_MAPPED (16) or another code of the board library: it could not read or
 * write a word of the unit.
 * @waits Polls every 1 ms for up to 200 ms times the line's "TimeOutTimes"; call
 * KV_BeginPeriod() first.
 * @threads Any thread; holds the job's lock while it waits, so other threads and processes
 * using the job wait for it.
 * @par Example
 * @code
 * uint16_t status;
 * int32_t position;
 * KV_BeginPeriod();
 * if (KV_AXSA_PutCmdEx(1, 1, 'P', 0, 0, &status, &position) == KALVO_OK)
 *     printf("position %d\n", position);
 * KV_EndPeriod();
 * @endcode
 * @sa KV_AXSA_PutFormEx, KV_AXSA_PutCmd
 */
KV_API int32_t KV_AXSA_PutCmdEx(int32_t unit, int32_t jobNo, int32_t command, int32_t parameter1,
                                int32_t parameter2, uint16_t* status, int32_t* jobData);

/**
 * Sends a command with a function code and a 16-bit parameter, without waiting.
 *
 * @param unit The unit number.
 * @param jobNo The job, 1 to the unit's job count.
 * @param command The command character or word.
 * @param function The function code; its low 5 bits go into bits 12-8 of the command word.
 * @param parameter The parameter, cut to its low 16 bits (0x12345 sends 0x2345) and split into
 * two 14-bit halves.
 * @return #KALVO_OK when the command was written.
 * @retval KALVO_ERR_UNIT the unit number is outside 1 to 1024.
 * @retval KALVO_ERR_NOT_OPEN the unit is not open in this process, or its board is not opened.
 * @retval KALVO_ERR_ARGUMENT the job is out of range.
 * @retval KV_ERR_NOT_MAPPED (16) or another code of the board library: it could not read or
 * write a word of the unit.
 * @waits Only for the job's lock.
 * @threads As KV_AXSA_PutCmd().
 * @sa KV_AXSA_PutFormEx, KV_AXSA_Answer
 */
KV_API int32_t KV_AXSA_PutForm(int32_t unit, int32_t jobNo, int32_t command, int32_t function,
                               int32_t parameter);

/**
 * KV_AXSA_PutCmdEx() with a function code and a parameter (which is not cut to 16 bits).
 *
 * @param unit The unit number.
 * @param jobNo The job, 1 to the unit's job count.
 * @param command The command character or word.
 * @param function The function code (low 5 bits).
 * @param parameter The 28-bit parameter.
 * @param status Receives the answer's status word (only on success).
 * @param jobData Receives the answer's data value (only on success).
 * @return #KALVO_OK with status and data stored.
 * @retval KALVO_ERR_UNIT the unit number is outside 1 to 1024.
 * @retval KALVO_ERR_NOT_OPEN the unit is not open in this process, or its board is not opened.
 * @retval KALVO_ERR_ARGUMENT the job is out of range, or a pointer is NULL.
 * @retval KALVO_ERR_TIMEOUT no answer came in time.
 * @retval KV_ERR_NOT_MAPPED (16) or another code of the board library: it could not read or
 * write a word of the unit.
 * @waits As KV_AXSA_PutCmdEx().
 * @threads As KV_AXSA_PutCmdEx().
 * @sa KV_AXSA_PutCmdEx
 */
KV_API int32_t KV_AXSA_PutFormEx(int32_t unit, int32_t jobNo, int32_t command, int32_t function,
                                 int32_t parameter, uint16_t* status, int32_t* jobData);

/* ---- SIO: serial channels (1-based) -------------------------------------- */

/**
 * Sets an SIO channel's line and buffer sizes, and starts receiving.
 *
 * The line codes are the unit's: they are ORed and the low 6 bits sent with
 * a configuration request (and an error reset). The receive buffer is shared
 * by every process that has the unit open; resizing keeps the newest bytes
 * it holds. The first Config of a channel in a process starts the channel's
 * receive thread: until then nothing is received. Bytes move six at a time,
 * one handshake with the unit per block (about 2 ms at a 1 ms line cycle).
 * A configuration or error reset request left standing by a process that
 * died in its KV_SIO_Config() or KV_SIO_ClearError() is taken back by the
 * receive threads of the processes still using the unit.
 *
 * @param unit The unit number.
 * @param channel The channel, 1 to the unit's channel count.
 * @param baud Baud rate code.
 * @param bitLength Bit length code.
 * @param parity Parity code.
 * @param stopBits Stop bits code.
 * @param receiveSize Receive buffer size in bytes: 4095 or less gives 4096, 40961 or more
 * gives 40960.
 * @param sendSize This process's send buffer size, bounded as receiveSize.
 * @return #KALVO_OK when the channel is configured.
 * @retval KALVO_ERR_UNIT the unit number is outside 1 to 1024.
 * @retval KALVO_ERR_NOT_OPEN the unit is not open in this process.
 * @retval KALVO_ERR_ARGUMENT the channel is out of range.
 * @retval KV_ERR_NOT_MAPPED (16) or another code of the board library: it could not read or
 * write the channel's output block; the receive thread is then not started.
 * @waits 20 ms times the line's "TimeOutTimes" for the unit to take the configuration, and for
 * the channel's control lock.
 * @threads Any thread; serialised with the channel's transfers and receive threads in every
 * process by the channel's control lock.
 * @sa KV_SIO_PutData, KV_SIO_GetData
 */
KV_API int32_t KV_SIO_Config(int32_t unit, int32_t channel, int32_t baud, int32_t bitLength,
                             int32_t parity, int32_t stopBits, int32_t receiveSize,
                             int32_t sendSize);

/**
 * Sends bytes on an SIO channel and waits until the unit has taken them all.
 *
 * A message longer than the send buffer is fed into it as it drains. A
 * negative length is a caller's mistake, not an empty message: it is
 * refused, never reported as sent.
 *
 * @param unit The unit number.
 * @param channel The channel, 1 to the unit's channel count.
 * @param data The bytes to send.
 * @param length How many, 0 or more.
 * @param sent Set to 0 at once, then to the bytes the unit acknowledged.
 * @param timeoutMs Time limit in milliseconds; 0 waits without limit (until the unit is
 * closed).
 * @return #KALVO_OK when every byte was acknowledged.
 * @retval KALVO_ERR_UNIT the unit number is outside 1 to 1024.
 * @retval KALVO_ERR_NOT_OPEN the unit is not open in this process.
 * @retval KALVO_ERR_ARGUMENT the channel is out of range, length or timeoutMs is negative, or
 * data or sent is NULL.
 * @retval KALVO_ERR_UNIT_ERROR the unit reported a send error (KV_SIO_ClearError() resets it).
 * @retval KALVO_ERR_PAIR a block was not acknowledged within 100 ms times "TimeOutTimes".
 * @retval KALVO_ERR_TIMEOUT timeoutMs passed, or the unit was closed; *sent tells how much went.
 * @retval KV_ERR_NOT_MAPPED (16) or another code of the board library: it could not read or
 * write the channel's blocks; *sent tells how much the unit acknowledged before.
 * @waits Polls every 1 ms (call KV_BeginPeriod() first) until done or the time limit; waits
 * first for the channel's send lock while another thread or process sends on it.
 * @threads Any thread; one send at a time per channel across all processes.
 * @par Example
 * @code
 * int32_t sent;
 * KV_SIO_PutData(1, 1, (const uint8_t*)"hello\r\n", 7, &sent, 2000);
 * @endcode
 * @sa KV_SIO_GetData, KV_SIO_Config
 */
KV_API int32_t KV_SIO_PutData(int32_t unit, int32_t channel, const uint8_t* data, int32_t length,
                              int32_t* sent, int32_t timeoutMs);

/**
 * Waits until bytes have arrived on an SIO channel and takes them.
 *
 * Whatever had arrived is delivered also when the call fails with
 * #KALVO_ERR_UNIT_ERROR or #KALVO_ERR_TIMEOUT. A length above the receive
 * buffer's size can never be met. The bytes are counted and taken in one
 * step, so a KV_SIO_ClearBuffer() or a shrinking KV_SIO_Config() of another
 * process never leaves #KALVO_OK with fewer bytes than asked. A negative
 * length is refused, not taken as 0.
 *
 * @param unit The unit number.
 * @param channel The channel, 1 to the unit's channel count.
 * @param data Receives the bytes.
 * @param length How many to wait for; 0 returns at once.
 * @param received Set to 0 at once, then to the bytes taken.
 * @param timeoutMs Time limit in milliseconds; 0 waits without limit (until the unit is
 * closed).
 * @return #KALVO_OK when length bytes were taken.
 * @retval KALVO_ERR_UNIT the unit number is outside 1 to 1024.
 * @retval KALVO_ERR_NOT_OPEN the unit is not open in this process.
 * @retval KALVO_ERR_ARGUMENT the channel is out of range, length or timeoutMs is negative, or
 * data or received is NULL.
 * @retval KALVO_ERR_UNIT_ERROR the unit reports a receive error; blocks arriving meanwhile are
 * acknowledged but dropped (KV_SIO_ClearError() resets it).
 * @retval KV_ERR_NOT_MAPPED (16) or another code of the board library: it could not read the
 * channel's status when the receive thread had seen an error.
 * @retval KALVO_ERR_TIMEOUT timeoutMs passed, or the unit was closed.
 * @waits Polls every 1 ms (call KV_BeginPeriod() first); waits first for the channel's receive
 * lock while another thread or process receives on it.
 * @threads Any thread; the receive buffer is shared by every process that has the unit open,
 * so a byte goes to whichever process takes it first.
 * @sa KV_SIO_PutData, KV_SIO_CheckBuffer
 */
KV_API int32_t KV_SIO_GetData(int32_t unit, int32_t channel, uint8_t* data, int32_t length,
                              int32_t* received, int32_t timeoutMs);

/**
 * Resets the SIO unit's receive and send error on a channel.
 *
 * @param unit The unit number.
 * @param channel The channel, 1 to the unit's channel count.
 * @return #KALVO_OK when the reset was sent.
 * @retval KALVO_ERR_UNIT the unit number is outside 1 to 1024.
 * @retval KALVO_ERR_NOT_OPEN the unit is not open in this process.
 * @retval KALVO_ERR_ARGUMENT the channel is out of range.
 * @retval KV_ERR_NOT_MAPPED (16) or another code of the board library: it could not read or
 * write the channel's output block.
 * @waits 20 ms times the line's "TimeOutTimes" (the reset request is pulsed), and for the
 * channel's control lock.
 * @threads Any thread.
 * @sa KV_SIO_GetData, KV_SIO_PutData
 */
KV_API int32_t KV_SIO_ClearError(int32_t unit, int32_t channel);

/**
 * How many bytes wait in an SIO channel's receive buffer.
 *
 * @param unit The unit number.
 * @param channel The channel, 1 to the unit's channel count.
 * @param size Set to 0 at once, then to the bytes waiting.
 * @return #KALVO_OK with the count stored.
 * @retval KALVO_ERR_UNIT the unit number is outside 1 to 1024.
 * @retval KALVO_ERR_NOT_OPEN the unit is not open in this process.
 * @retval KALVO_ERR_ARGUMENT the channel is out of range, or size is NULL.
 * @threads Any thread; the buffer is shared by every process that has the unit open.
 * @sa KV_SIO_ClearBuffer, KV_SIO_GetData
 */
KV_API int32_t KV_SIO_CheckBuffer(int32_t unit, int32_t channel, int32_t* size);

/**
 * Empties an SIO channel's receive buffer, for every process that has the unit open.
 *
 * @param unit The unit number.
 * @param channel The channel, 1 to the unit's channel count.
 * @return #KALVO_OK when the buffer is empty.
 * @retval KALVO_ERR_UNIT the unit number is outside 1 to 1024.
 * @retval KALVO_ERR_NOT_OPEN the unit is not open in this process.
 * @retval KALVO_ERR_ARGUMENT the channel is out of range.
 * @threads Any thread.
 * @sa KV_SIO_CheckBuffer
 */
KV_API int32_t KV_SIO_ClearBuffer(int32_t unit, int32_t channel);

#ifdef __cplusplus
}
#endif

#endif /* KALVO_KALVO_H */
