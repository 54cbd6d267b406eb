/*
 * Control interface of the simulated adapter (our own winusb.dll).
 *
 * A test program links the CMake target `sim_control` and calls these
 * exports on the same winusb.dll that the modem library loads in its
 * process. Every function is safe to call from any thread.
 *
 * Adapters are named by their 16-bit serial in this process. Field devices
 * on an adapter's HART line are named by their 24-bit device id.
 * Functions that answer int return non-zero on success and 0 when the
 * adapter or field device is unknown or an argument is invalid.
 *
 * See sim/README.md for the device-file format, the adapter's behaviour and
 * the CMake helpers.
 */
#ifndef SIM_SIM_CONTROL_H
#define SIM_SIM_CONTROL_H

#include <stdint.h>
#include <wchar.h>

#ifdef SIM_CONTROL_BUILD
#define SIM_API __declspec(dllexport)
#else
#define SIM_API __declspec(dllimport)
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* One field device on the simulated HART line. SimInitFieldDevice fills in
   usable defaults; a test then changes what it cares about. Strings are
   zero-terminated ASCII. */
typedef struct SimFieldDevice {
    uint8_t  pollingAddress;     /* 0..63 */
    uint8_t  manufacturerId;     /* the long address carries its low 6 bits */
    uint8_t  deviceType;
    uint8_t  hartRevision;       /* universal command revision: 5, 6 or 7 */
    uint32_t deviceId;           /* low 24 bits; names the device in this API */
    uint8_t  deviceRevision;
    uint8_t  softwareRevision;
    uint8_t  hardwareRevision;   /* 0..31 */
    uint8_t  physicalSignalling; /* 0..7 */
    uint8_t  flags;
    uint8_t  preambles;          /* request preambles reported by command 0 */
    uint8_t  deviceStatus;       /* second status byte of every answer */
    uint8_t  burstMode;          /* 0 off, 1 on: reported by command 105 and
                                    as the burst bit of every answer */
    uint8_t  burstCommand;       /* reported by command 105 */
    uint8_t  date[3];            /* command 13: day, month, year - 1900 */
    uint32_t answerDelayMs;      /* time from the send until the answer can
                                    be polled; 0 = at once */
    char     tag[9];             /* command 13, 8 characters packed ASCII */
    char     descriptor[17];     /* command 13, 16 characters packed ASCII */
    char     longTag[33];        /* command 20 (revision 6 and higher) */
} SimFieldDevice;

/* State of one adapter as the simulator sees it. */
typedef struct SimAdapterState {
    uint16_t serial;
    uint8_t  present;            /* 0 after SimUnplug */
    uint8_t  processorHeld;      /* 1 while 0xE600 holds the processor */
    uint8_t  firmwareRunning;    /* released after RAM was written */
    uint8_t  initialised;        /* 0xD1 then 0xB0 answered 0; cleared by
                                    0xD0, by a processor hold and by unplug */
    uint8_t  masterMode;         /* value of the last 0xB0: 1 primary,
                                    2 secondary, 0 none yet */
    uint8_t  parameter;          /* adapter parameter byte (0xB3/0xB4) */
    uint16_t sendStatus;         /* what 0xB6 answers now */
    uint16_t reserved;
    uint32_t ramWrites;          /* RAM write transfers since power-up,
                                    0xE600 not counted */
    uint32_t ramBytesWritten;    /* bytes of those transfers */
    uint32_t framesSent;         /* frames put on the HART line */
    uint32_t framesWaiting;      /* receive replies queued, due or not */
    uint32_t openHandles;        /* WinUsb_Initialize not yet freed */
    uint32_t emptyPolls;         /* 0xB5 polls answered 0 (not logged) */
} SimAdapterState;

/* One control transfer as the simulated adapter received it. */
typedef struct SimTransfer {
    uint8_t  requestType;        /* 0x40 or 0xC0 (anything else is refused) */
    uint8_t  request;
    uint16_t value;
    uint16_t index;
    uint16_t length;             /* setup packet's length */
    uint32_t bufferLength;       /* caller's BufferLength */
    uint32_t transferred;        /* bytes moved */
    uint32_t error;              /* 0 = succeeded, else the Win32 error */
    uint64_t timeUs;             /* microseconds since the adapter was made */
    uint8_t  data[256];          /* first bytes sent (0x40) or answered (0xC0) */
} SimTransfer;

/* Fault kinds for SimInjectFault; STALL may be combined with FAIL. */
#define SIM_FAULT_FAIL   1u  /* the transfer fails (ERROR_GEN_FAILURE) */
#define SIM_FAULT_STALL  2u  /* the transfer returns only after stallMs */

/* Request code that matches every request in SimInjectFault. */
#define SIM_ANY_REQUEST  0u

/* Receive-reply kinds as the adapter gives them in reply byte 0. */
#define SIM_KIND_ANSWER  0x40u
#define SIM_KIND_BURST   0x80u
#define SIM_KIND_STATUS  0xC0u

/* Status byte of a SIM_KIND_STATUS reply for a frame nobody answered. */
#define SIM_STATUS_NO_ANSWER 0x01u

/* noAnswerMs of SimSetLineTiming: the master's reply time-out, 33
   character times at 1200 bit/s (302.5 ms). */
#define SIM_HART_TIMEOUT 0xFFFFFFFFu

/* Every command, for SimSetNoAnswer and SimClearAnswer. */
#define SIM_ALL_COMMANDS (-1)

/* --- adapters ----------------------------------------------------------- */

/* Fills *device with defaults: polling address 0, manufacturer 0x26, device
   type 0x06, revision 7, device id 0x000001, 5 preambles, tag "SIMDEV",
   no burst, no delay. */
SIM_API void SimInitFieldDevice(SimFieldDevice* device);

/* Creates the device file at `path` (overwritten if it exists) and the
   adapter with this serial in this process, with no field devices. An
   adapter of the same serial made earlier in this process is replaced; its
   open interface handles then act as unplugged. */
SIM_API int SimCreateAdapter(const wchar_t* path, uint16_t serial);

/* Forgets the adapter in this process and deletes its device file. */
SIM_API int SimRemoveAdapter(uint16_t serial);

/* Forgets every adapter of this process (device files are kept). */
SIM_API void SimReset(void);

/* Unplug: every transfer and WinUsb_Initialize fails from now on
   (ERROR_BAD_COMMAND), queued replies are dropped. Replug: the adapter is
   back as after power-up (processor running without firmware, RAM empty,
   not initialised, parameter 0); field devices are kept. Both rewrite the
   device file when it is not held open (present=0/1), so that other
   processes see it at their next WinUsb_Initialize. */
SIM_API int SimUnplug(uint16_t serial);
SIM_API int SimReplug(uint16_t serial);

/* Unplug as SimUnplug, but transfers and WinUsb_Initialize fail with `error`
   (not 0): the platform's WinUSB reports a device that has gone with
   ERROR_BAD_COMMAND or with ERROR_DEVICE_NOT_CONNECTED (1167). */
SIM_API int SimUnplugWithError(uint16_t serial, uint32_t error);

SIM_API int SimGetAdapterState(uint16_t serial, SimAdapterState* state);

/* Line timing. wireTime non-zero: every answer is due only after the time
   the request's bytes (its preambles and frame) and the answer's bytes (5
   preambles and frame) take at 1200 bit/s, 11 bits a character, plus the
   device's own answer delay. noAnswerMs non-zero: a frame nobody answers
   gets a SIM_KIND_STATUS reply (SIM_STATUS_NO_ANSWER) that long after the
   request's wire time; SIM_HART_TIMEOUT is the master's reply time-out.
   Both 0 (the default): answers at once, silence stays silent. Rewrites
   the device file when it is not held open ("wiretime=", "noanswer=").
   SimTakeLineTime answers, in microseconds, the wire times and time-outs
   charged since its last call (one answer per frame counted) and restarts. */
SIM_API int SimSetLineTiming(uint16_t serial, int wireTime, uint32_t noAnswerMs);
SIM_API uint64_t SimTakeLineTime(uint16_t serial);

/* Copies adapter RAM (0x0000..0x3FFF) as written by firmware download.
   Returns the number of bytes copied. */
SIM_API uint32_t SimReadRam(uint16_t serial, uint16_t address, uint8_t* buffer, uint32_t length);

/* --- transfer log --------------------------------------------------------- */

/* Copies up to `capacity` logged transfers, oldest first, and returns how
   many are logged in all. Polls answered "nothing waiting" are only
   counted (SimAdapterState.emptyPolls), not logged. */
SIM_API uint32_t SimGetTransferLog(uint16_t serial, SimTransfer* entries, uint32_t capacity);
SIM_API int SimClearTransferLog(uint16_t serial);

/* --- fault injection -------------------------------------------------------- */

/* The next `count` transfers with this request code (SIM_ANY_REQUEST: any
   request), after `skip` matching transfers that pass unharmed, get the
   fault `kind`: SIM_FAULT_FAIL fails them; SIM_FAULT_STALL holds them for
   stallMs before they complete (with SIM_FAULT_FAIL: before they fail).
   A stalled transfer has no effect on the adapter until it completes;
   SimUnplug ends the stall at once and the transfer fails.
   Faults of one adapter are kept in a list and matched in order. */
SIM_API int SimInjectFault(uint16_t serial, uint8_t request, uint32_t skip, uint32_t count,
                           uint32_t kind, uint32_t stallMs);
SIM_API int SimClearFaults(uint16_t serial);

/* Replaces the data that the adapter answers to a device-to-host request
   (for example 0xB0 init answer, 0xB3 parameter refusal, 0xB6 send status,
   0xD2 serial) until cleared with length 0. A non-zero 0xB6 override also
   keeps sent frames off the HART line (the adapter refuses them). */
SIM_API int SimSetRequestAnswer(uint16_t serial, uint8_t request, const uint8_t* data, uint32_t length);

/* --- field devices ---------------------------------------------------------- */

/* Adds a field device to the adapter's HART line (replacing one with the
   same device id). Rewrites the device file when it is not held open. */
SIM_API int SimAddFieldDevice(uint16_t serial, const SimFieldDevice* device);
SIM_API int SimRemoveFieldDevice(uint16_t serial, uint32_t deviceId);

/* Current settings of a field device (its polling address changes with
   command 6). */
SIM_API int SimGetFieldDevice(uint16_t serial, uint32_t deviceId, SimFieldDevice* device);

/* The device answers `command` with this first status byte (response code;
   bit 7 set = communication error, then the device status byte is 0 and no
   data is sent) and these data bytes, in place of its built-in answer. */
SIM_API int SimSetAnswer(uint16_t serial, uint32_t deviceId, uint8_t command, uint8_t firstStatus,
                         const uint8_t* data, uint32_t length);

/* The device answers `command` with exactly these frame bytes (delimiter to
   checksum, nothing checked or added): for short, long or corrupt answers. */
SIM_API int SimSetRawAnswer(uint16_t serial, uint32_t deviceId, uint8_t command, const uint8_t* frame,
                            uint32_t length);

/* The device stays silent on `command` (SIM_ALL_COMMANDS: on every command). */
SIM_API int SimSetNoAnswer(uint16_t serial, uint32_t deviceId, int command);

/* Back to the built-in behaviour for `command` (SIM_ALL_COMMANDS: all). */
SIM_API int SimClearAnswer(uint16_t serial, uint32_t deviceId, int command);

SIM_API int SimSetAnswerDelay(uint16_t serial, uint32_t deviceId, uint32_t delayMs);

/* --- received frames -------------------------------------------------------- */

/* The device sends a burst frame now: long address with the burst bit,
   command, status bytes 0 and its device status, these data bytes. */
SIM_API int SimQueueBurst(uint16_t serial, uint32_t deviceId, uint8_t command, const uint8_t* data,
                          uint32_t length);

/* Queues one receive reply of this kind carrying these bytes (at most 255)
   as its data: the poll announces `length`, reply byte 6 is `length`. */
SIM_API int SimQueueReply(uint16_t serial, uint8_t kind, const uint8_t* data, uint32_t length);

/* Queues a receive reply exactly as given (kind, bytes 1..8 and data; at
   most 512 bytes); the poll announces `announced`. For odd length bytes. */
SIM_API int SimQueueRawReply(uint16_t serial, uint8_t announced, const uint8_t* reply, uint32_t length);

#ifdef __cplusplus
}
#endif

#endif /* SIM_SIM_CONTROL_H */
