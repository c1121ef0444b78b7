/*
 * The Kalvo application API: 51 KV_ calls over the remote I/O units of the
 * network, addressed by unit number (1 to 1024). Board, line, channel and job
 * numbers are 1-based in every call.
 *
 * Loading the library (linking with -lKalvo) reads "Kalvo.ini" from the
 * current directory, binds the board libraries it names, opens the boards
 * and, in the first process on the machine, starts their lines. Run an
 * application with its configuration folder as the current directory.
 *
 * Every call returns 0 or one of the codes below and writes one line to the
 * library's log ("KalvoLog_<slot><file>.log", chosen by "KalvoLog.ini").
 * Usable from C and C++.
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

/* Return codes. */
enum {
    KALVO_OK = 0,
    KALVO_ERR_ALREADY_OPEN = 1,   /* Open: the unit is already open in this process */
    KALVO_ERR_NOT_OPEN = 2,       /* the unit is not open (or its board is not opened) */
    KALVO_ERR_ARGUMENT = 3,       /* channel, bit, job, board, line or pointer out of range */
    KALVO_ERR_STARTUP = 4,        /* Open: start-up failed; board calls: board not opened */
    KALVO_ERR_THREAD = 5,         /* SIO open: a receive thread could not be created */
    KALVO_ERR_SEMAPHORE = 6,      /* open: a named semaphore could not be created */
    KALVO_ERR_MAP = 7,            /* AXSA open: the pair map could not be created */
    KALVO_ERR_UNIT = 9,           /* unit number outside 1-1024 or a placement that fails */
    KALVO_ERR_NOT_LOADED = 10,    /* the board library is not loaded */
    KALVO_ERR_UNIT_ERROR = 0x10,  /* SIO: the unit reported a receive or send error */
    KALVO_ERR_TIMEOUT = 0x11,     /* a command reply or SIO transfer timed out */
    KALVO_ERR_PAIR = 0x20,        /* AXSA: answer of another command; SIO: block not acknowledged */
    KALVO_ERR_STATUS_DATA = 0x21, /* AXSA GetStatus: status matched, data words did not */
    KALVO_ERR_STATUS_WORD = 0x22, /* AXSA GetStatus: data words matched, status word did not */
    KALVO_ERR_BUFFER = 0x30,      /* SIO open: a buffer could not be created */
    KALVO_ERR_NO_LIBRARY = 0x100  /* KV_CheckBoard / KV_AttachMemory: board library not loaded */
};

/* Unit families (the family field of a placement). */
enum { KALVO_DIO = 1, KALVO_ADA = 2, KALVO_AXSA = 3, KALVO_ENC = 4, KALVO_SIO = 5 };

/* Where a unit sits on the network: the argument of the OpenEx calls, and
 * what a unit section "DIO_1" of Kalvo.ini gives. 88 bytes. */
typedef struct UnitPlacement {
    int32_t family;      /* set by the OpenEx call itself */
    int32_t unit;        /* unit number 1-1024 */
    int32_t kind;        /* kind code, e.g. 0x101 DIO; an unknown one means the family's first */
    int32_t board;       /* 1-based */
    int32_t line;        /* 1-based */
    int32_t base;        /* the unit's station address, 0-31 */
    int32_t offsets[16]; /* word offsets 0-15 from the station; the list ends at a negative one */
} UnitPlacement;

/* ---- board level --------------------------------------------------------- */
/* Timer resolution of 1 ms for the unit calls' reply waits; call in pairs
 * around unit I/O. Return the platform's result (0). */
KV_API int32_t KV_BeginPeriod(void);
KV_API int32_t KV_EndPeriod(void);
/* 0 when the board is open, 4 when its library is loaded but the board did not
 * open, 0x100 when its library is not loaded, 3 for a board not configured. */
KV_API int32_t KV_CheckBoard(int32_t board);
/* The address of the board line's 4096-byte memory window. 0, 3, 4 or 0x100,
 * or the board library's code. */
KV_API int32_t KV_AttachMemory(int32_t board, int32_t line, void** address);

/* ---- opening units (the same for every family) ------------------------------
 * Open places the unit by its section of Kalvo.ini ("DIO_<unit>"), OpenEx by
 * the caller's placement. 0, 1 (already open), 4 (start-up failed),
 * 9 (unit number or placement), or a family's open code (6, 7, 5, 0x30).
 * Close: 0, 2 when not open, 9. GetCondition: 1 when the unit's station
 * answers on the line, else 0. */
KV_API int32_t KV_DIO_Open(int32_t unit);
KV_API int32_t KV_DIO_OpenEx(UnitPlacement* placement);
KV_API int32_t KV_DIO_Close(int32_t unit);
KV_API int32_t KV_DIO_GetCondition(int32_t unit, int32_t* condition);
KV_API int32_t KV_ADA_Open(int32_t unit);
KV_API int32_t KV_ADA_OpenEx(UnitPlacement* placement);
KV_API int32_t KV_ADA_Close(int32_t unit);
KV_API int32_t KV_ADA_GetCondition(int32_t unit, int32_t* condition);
KV_API int32_t KV_AXSA_Open(int32_t unit);
KV_API int32_t KV_AXSA_OpenEx(UnitPlacement* placement);
KV_API int32_t KV_AXSA_Close(int32_t unit);
KV_API int32_t KV_AXSA_GetCondition(int32_t unit, int32_t* condition);
KV_API int32_t KV_SIO_Open(int32_t unit);
KV_API int32_t KV_SIO_OpenEx(UnitPlacement* placement);
KV_API int32_t KV_SIO_Close(int32_t unit);
KV_API int32_t KV_SIO_GetCondition(int32_t unit, int32_t* condition);

/* ---- DIO: one 16-bit input word and one 16-bit output word -------------------
 * Bits are numbered 0 (least significant) to 15; another number gives 3. */
/* The input word, and the output word read back. */
KV_API int32_t KV_DIO_InData(int32_t unit, uint16_t* data);
KV_API int32_t KV_DIO_InOData(int32_t unit, uint16_t* data);
/* Write the low 16 bits as the output word. */
KV_API int32_t KV_DIO_OutData(int32_t unit, int32_t data);
/* One bit (0 or 1) of the input word, and of the output word. */
KV_API int32_t KV_DIO_InDataBit(int32_t unit, int32_t bitNo, int32_t* bit);
KV_API int32_t KV_DIO_InODataBit(int32_t unit, int32_t bitNo, int32_t* bit);
/* Set (bit not 0) or clear one output bit; atomic against every process. */
KV_API int32_t KV_DIO_OutDataBit(int32_t unit, int32_t bitNo, int32_t bit);

/* ---- ADA: analogue channels (1-based) with a command channel ---------------
 * An ADA unit has one channel per word offset of its placement (up to 16).
 * Channel c is one 16-bit input word and one 16-bit output word; in data mode
 * they carry 12-bit values (bits 11-0). Every channel call returns 9 for a
 * unit number outside 1-1024, 2 for a unit that is not open, 3 for a channel
 * outside 1..channel count or a missing out-pointer (before anything else
 * happens), else 0 or the code named below. A word the board library refuses
 * passes its code on and leaves the out-value as it was. */
/* The channel's input word & 0x0FFF, and the whole word. No wait. */
KV_API int32_t KV_ADA_InValue(int32_t unit, int32_t channel, int32_t* value);
KV_API int32_t KV_ADA_InValueFull(int32_t unit, int32_t channel, uint16_t* data);
/* The channel's output word read back, & 0x0FFF and whole. No wait. */
KV_API int32_t KV_ADA_InOValue(int32_t unit, int32_t channel, int32_t* value);
KV_API int32_t KV_ADA_InOValueFull(int32_t unit, int32_t channel, uint16_t* data);
/* Write a value clamped to 0..4095 (4096 and above give 4095, below 0 give
 * 0), or the low 16 bits as they are. Waits only for the channel's lock. */
KV_API int32_t KV_ADA_OutValue(int32_t unit, int32_t channel, int32_t value);
KV_API int32_t KV_ADA_OutValueFull(int32_t unit, int32_t channel, int32_t data);
/* The command calls run the unit's command protocol on the channel: the
 * output value is kept, the command code (top three bits) and a 12-bit
 * parameter are written, the unit's reply is awaited, the output value is
 * written back and the unit's return to data mode is awaited. Each wait polls
 * every 1 ms (call KV_BeginPeriod first) for up to 200 ms times the line's
 * "TimeOutTimes" of Kalvo.ini, so a call takes at most about 400 ms times it,
 * holding the channel's lock (other threads and processes using the channel
 * wait for it). 0x11 when the unit did not answer or did not return to data
 * mode in time; the output value is back in either case. A board library code
 * when a word could not be read or written: when the output value itself
 * cannot be read no command is sent. Out-values are written only on 0. */
/* Command 0x8000 with (filter & 0xE0) | (maxMin & 0x10) | (sample & 0x0F). */
KV_API int32_t KV_ADA_SetFilter(int32_t unit, int32_t channel, int32_t filter, int32_t maxMin,
                                int32_t sample);
/* Command 0x4000: filter = reply & 0xE0, maxMin = reply & 0x10,
 * sample = reply & 0x0F. */
KV_API int32_t KV_ADA_GetFilter(int32_t unit, int32_t channel, int32_t* filter, int32_t* maxMin,
                                int32_t* sample);
/* Command 0x4000: range = reply & 0x0F00. */
KV_API int32_t KV_ADA_GetInRange(int32_t unit, int32_t channel, int32_t* range);
/* Command 0x6000: range = reply & 0x0F00. */
KV_API int32_t KV_ADA_GetOutRange(int32_t unit, int32_t channel, int32_t* range);
/* Command 0xE000 on channel 1 (whatever the channel count): the whole reply
 * word, command code included. */
KV_API int32_t KV_ADA_GetVersion(int32_t unit, int32_t* version);
/* Any command code (bits 15-13 of command; a code with other bits set is
 * never answered and gives 0x11) with the low 12 bits of parameter. *reply
 * gets the whole reply word as soon as the unit answered, also when the
 * return to data mode then timed out. */
KV_API int32_t KV_ADA_PutCmd(int32_t unit, int32_t channel, int32_t command, int32_t parameter,
                             uint16_t* reply);

/* ---- AXSA: axis controllers by command and answer, per job (1-based) -------
 * An AXSA unit has one job (axis) per four word offsets of its placement;
 * each job's first offset must be a multiple of 4 (else Open gives 9). The
 * master writes a command word and two parameter words; the unit answers
 * with a status word and a 28-bit data value (JData, sign-extended, from
 * -134217728 to 134217727). A 2-bit pair code, advanced 1, 2, 3, 1, ... by
 * every command of any process on the job, ties an answer to its command:
 * only an answer carrying the expected code is taken (status bits 3-2 carry
 * it). Every job call returns 9 for a unit number outside 1-1024, 2 for a
 * unit that is not open, 3 for a job outside 1..job count or a missing
 * out-pointer, else the codes named below. Each holds the job's lock for its
 * work; only PutCmdEx and PutFormEx wait for the unit. A word the board
 * library refuses to read or write ends any of them with the board library's
 * own code (kalvo/board_library.h; kalvo_board_error_name in
 * kalvo/kalvo_errors.h), out-values left as they were: a failure is never
 * reported as success. The counter of a job starts again when the last
 * process that has the unit open closes it; the first command after that
 * carries the code after the one the unit last took, so the unit never takes
 * it for a repeat. */
/* Send command and the two parameters (bits 15-14 of each are ORed with the
 * pair code); no wait. 0, or the board library's code when the command could
 * not be written (nothing was sent). */
KV_API int32_t KV_AXSA_PutCmd(int32_t unit, int32_t jobNo, int32_t command, int32_t parameter1,
                              int32_t parameter2);
/* The status answering the job's latest command: 0, or 0x20 when the unit
 * has not answered it yet (the status is then left as it was). comErr is
 * always set to 0. No wait. */
KV_API int32_t KV_AXSA_Answer(int32_t unit, int32_t jobNo, uint16_t* status, uint16_t* comErr);
/* Status and data answering the latest command: 0 or 0x20 as Answer. */
KV_API int32_t KV_AXSA_AnsWith(int32_t unit, int32_t jobNo, uint16_t* status, int32_t* jobData,
                               uint16_t* comErr);
/* Status and data the unit shows outside a command (pair code 0): 0; 0x21
 * when the status matched and the data words did not agree; 0x22 when the
 * data words agreed but the status answers a command; 0x20 when neither.
 * Each half is stored when it matched. No wait. */
KV_API int32_t KV_AXSA_GetStatus(int32_t unit, int32_t jobNo, uint16_t* status, int32_t* jobData);
/* Send a command with a function code (low 5 bits of parameter1, into bits
 * 12-8 of the command word) and a 28-bit parameter2 (split into two 14-bit
 * halves), and wait for the answer: polls every 1 ms (call KV_BeginPeriod
 * first) for up to 200 ms times the line's "TimeOutTimes". Status-type
 * commands ('!' '"' '#' '$' '/' '<' '=' '>' '?' 'L' 'M' 'N' 'O' '}' with a
 * function below 28, 'F' with function 3) are answered with pair code 0,
 * all others with the code just sent. 0 with status and data, or 0x11 with
 * both left as they were. */
KV_API int32_t KV_AXSA_PutCmdEx(int32_t unit, int32_t jobNo, int32_t command, int32_t parameter1,
                                int32_t parameter2, uint16_t* status, int32_t* jobData);
/* Send a command with a function code and a parameter cut to its low 16
 * bits (split as in PutCmdEx); no wait. 0, or the board library's code. */
KV_API int32_t KV_AXSA_PutForm(int32_t unit, int32_t jobNo, int32_t command, int32_t function,
                               int32_t parameter);
/* KV_AXSA_PutCmdEx with these arguments (the parameter is not cut). */
KV_API int32_t KV_AXSA_PutFormEx(int32_t unit, int32_t jobNo, int32_t command, int32_t function,
                                 int32_t parameter, uint16_t* status, int32_t* jobData);

/* ---- SIO: serial channels (1-based) -------------------------------------------
 * Channel c of a unit uses the offsets 4(c-1)..4(c-1)+3 of its placement; the
 * first of them must be a multiple of 4 (else Open gives 9). Bytes move six at
 * a time, one handshake with the unit per block; at a 1 ms line cycle a
 * handshake takes about 2 ms. Every call gives 9 for a unit number outside
 * 1-1024, 2 for a unit that is not open and 3 for a channel outside the unit's
 * channels. Calls that wait poll every 1 ms; use KV_BeginPeriod around them.
 * A block the board library cannot read or write ends a call with the board
 * library's own code (kalvo/board_library.h): nothing is written that was
 * built from a block that could not be read. Waits scale with the line's
 * "TimeOutTimes": 0 or less waits not at all, and no value makes a wait
 * wrap around to a short one.
 *
 * Open (in addition to the codes above): 6 a named lock, 0x30 a buffer, 5 a
 * receive thread could not be created. Every process that opens the unit
 * shares its channels' receive buffers. Close ends a GetData or PutData that
 * another thread is waiting in (with 0x11) and the channels' receive threads,
 * and waits for them to end (they see the close at their next look, within
 * about 100 ms times the line's "TimeOutTimes" at most). A configuration or
 * error reset request left standing by a process that died in its Config or
 * ClearError is taken back by the receive threads of the others. */

/* Sets the channel's line (baud, bit length, parity and stop codes are the
 * unit's; they are ORed and the low 6 bits sent) and sizes its receive buffer
 * (shared by every process) and this process's send buffer: sizes of 4095 or
 * less give 4096, of 40961 or more 40960; the newest bytes held are kept. The
 * first Config of a channel in a process starts its receive thread: until
 * then nothing is received. Waits 20 ms times "TimeOutTimes". 0, 3, or the
 * board library's code (the receive thread is then not started). */
KV_API int32_t KV_SIO_Config(int32_t unit, int32_t channel, int32_t baud, int32_t bitLength,
                             int32_t parity, int32_t stopBits, int32_t receiveSize,
                             int32_t sendSize);
/* Sends length bytes and waits until the unit has taken them all (a message
 * longer than the send buffer is fed into it as it drains). *sent (0 at once)
 * gets the bytes the unit acknowledged. 0; 0x10 the unit reported a send
 * error (ClearError resets it); 0x20 a block was not acknowledged within
 * 100 ms times "TimeOutTimes"; 0x11 timeoutMs passed (0: no limit) or the
 * unit was closed; 3 for a negative length or timeout, or no data or sent
 * (a negative length is a caller's mistake, not an empty message: it is
 * refused rather than reported as sent). */
KV_API int32_t KV_SIO_PutData(int32_t unit, int32_t channel, const uint8_t* data, int32_t length,
                              int32_t* sent, int32_t timeoutMs);
/* Waits until length bytes are in the receive buffer and takes them; a length
 * of 0 returns at once. *received (0 at once) gets the bytes taken: also
 * after 0x10 (the unit reports a receive error; blocks arriving meanwhile are
 * acknowledged but dropped) and 0x11 (timeoutMs passed; 0 waits without limit,
 * until the unit is closed), whatever had arrived is delivered. A length above
 * the buffer's size can never be met. The bytes are counted and taken in one
 * step, so another process's ClearBuffer cannot leave 0 with fewer bytes than
 * asked. 3 for a negative length or timeout, or no data or received (a
 * negative length is refused, not taken as 0). */
KV_API int32_t KV_SIO_GetData(int32_t unit, int32_t channel, uint8_t* data, int32_t length,
                              int32_t* received, int32_t timeoutMs);
/* Pulses the unit's error reset (receive and send error); waits 20 ms times
 * "TimeOutTimes". 0, or the board library's code. */
KV_API int32_t KV_SIO_ClearError(int32_t unit, int32_t channel);
/* Bytes waiting in the receive buffer (*size, 0 at once), and emptying it
 * (for every process that has the unit open). 0; 3 also for no size. */
KV_API int32_t KV_SIO_CheckBuffer(int32_t unit, int32_t channel, int32_t* size);
KV_API int32_t KV_SIO_ClearBuffer(int32_t unit, int32_t channel);

#ifdef __cplusplus
}
#endif

#endif /* KALVO_KALVO_H */
