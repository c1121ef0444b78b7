// kalvo-devprobe: opens a board device as the board library does, maps its
// memory window, and walks the line's connect sequence while printing every
// change of the line state with the chip registers the driver writes. A quick
// way to see that a board, its driver and the host answer.
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "boardlib/requests/board_device.h"
#include "boardlib/requests/request_wrappers.h"
#include "driver/requests/chip_registers.h"
#include "driver/requests/request_blocks.h"
#include "platform/command_line.h"
#include "platform/device.h"
#include "platform/status_names.h"
#include "platform/win_error.h"

namespace {

namespace req = kalvo::requests;
namespace chip = kalvo::chipmap;
using namespace kalvo::boardlib;
using kalvo::platform::HANDLE;

const char* const kDescription =
    "Opens DEVICE (e.g. \"\\\\.\\tolva0\", \"\\\\.\\KVMDRV0\", \"\\\\.\\Cardmaster0\") on the\n"
    "device host, maps its memory window, shows the board ID word, connects the\n"
    "line and prints every change of the line state with the command and\n"
    "station registers, then disconnects and unmaps.";

const char* const kExamples =
    "Examples (a device host must serve the board: kalvo-devctl start):\n"
    "  kalvo-devprobe '\\\\.\\tolva0'\n"
    "  kalvo-devprobe --mode lf --watch 1000 '\\\\.\\tolva0'\n"
    "  kalvo-devprobe --word-size 32 '\\\\.\\tolva0'\n"
    "  kalvo-devprobe '\\\\.\\KVMDRV0'\n"
    "  kalvo-devprobe '\\\\.\\Cardmaster0'";

const char* stateName(int32_t state) {
    switch (state) {
        case 0:
            return "idle";
        case 1:
            return "connect accepted";
        case 2:
            return "preparing";
        case 1000:
            return "set-up";
        case 1001:
            return "station register";
        case 1002:
            return "command cleared";
        case 1003:
            return "start command";
        case 1004:
            return "running check";
        default:
            return "?";
    }
}

int fail(const char* what) {
    std::fprintf(stderr, "kalvo-devprobe: %s failed: %s\n", what,
                 kalvo::platform::win32ErrorText(kalvo::platform::lastError()).c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string device;
    int32_t address = 0, size = 32, watchMs = 400, wordSize = 0;
    std::string mode = "normal";
    CLI::App app(kDescription, "kalvo-devprobe");
    app.set_version_flag("--version", "kalvo-devprobe " KALVO_VERSION);
    app.footer(kExamples);
    app.add_option("DEVICE", device, "the board device, e.g. \"\\\\.\\tolva0\"")->required();
    app.add_option("--address", address, "station address of the master")
        ->check(CLI::Range(0, 63))
        ->capture_default_str();
    app.add_option("--size", size, "station size")->check(CLI::Range(1, 64))->capture_default_str();
    app.add_option("--mode", mode, "connect sequence: normal, lf or gmm")
        ->check(CLI::IsMember({"normal", "lf", "gmm"}))
        ->capture_default_str();
    app.add_option("--watch", watchMs, "milliseconds to follow the line")
        ->check(CLI::Range(0, 600000))
        ->capture_default_str();
    app.add_option("--word-size", wordSize,
                   "32 or 64: the request forms of that build (default: 32 for a KVMDRV device, "
                   "whose library is the 32-bit Dualmaster build; else 64)")
        ->check(CLI::IsMember({32, 64}));
    if (const int end = kalvo::platform::parseCommandLine(app, argc, argv); end >= 0) return end;

    if (wordSize == 0) {
        std::string upper;
        for (char c : device) upper += char(std::toupper(static_cast<unsigned char>(c)));
        wordSize = upper.find("KVMDRV") != std::string::npos ? 32 : 64;
    }

    HANDLE h = openBoardDevice(device.c_str(), wordSize);
    if (h == kalvo::platform::INVALID_HANDLE_VALUE) return fail(("open " + device).c_str());

    // The window, mapped the way the library maps it: 4096 bytes at offset 0.
    volatile uint8_t* window = nullptr;
    req::MapRequestBlock32 map32{0, 0, 4096};
    req::MapRequestBlock64 map64{0, 0, 0, 4096, 0};
    int32_t mapped = wordSize == 32 ? requestMapMemory(h, &map32) : requestMapMemory(h, &map64);
    if (mapped != 0) {
        closeBoardDevice(h);
        return fail("map");
    }
    window = reinterpret_cast<volatile uint8_t*>(
        static_cast<uintptr_t>(wordSize == 32 ? map32.address : map64.address));
    auto reg32 = [&](unsigned offset) {
        return *reinterpret_cast<volatile uint32_t*>(window + offset);
    };
    std::printf("%s: window at %p, board ID word 0x%04x\n", device.c_str(),
                static_cast<void*>(const_cast<uint8_t*>(window)),
                *reinterpret_cast<volatile uint16_t*>(window + 0x808));

    req::ConnectRequestBlock block = req::makeConnectBlock(address, size);
    int32_t r = mode == "lf"    ? requestConnectLF(h, &block)
                : mode == "gmm" ? requestConnectGMM(h, &block)
                                : requestConnect(h, &block);
    if (r != 0) {
        closeBoardDevice(h);
        return fail("connect");
    }
    std::printf("connect (%s, address %d, size %d)\n", mode.c_str(), address, size);

    auto start = std::chrono::steady_clock::now();
    int32_t last = -1;
    for (;;) {
        auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - start)
                           .count();
        req::StatusBlock status{};
        if (requestStatus(h, &status) != 0) {
            closeBoardDevice(h);
            return fail("status");
        }
        if (status.lineState != last) {
            std::printf("%5lld ms  state %4d %-17s 0x%03X=0x%04x 0x%03X=0x%04x\n",
                        static_cast<long long>(elapsed), status.lineState,
                        stateName(status.lineState), unsigned(chip::kCommandRegister),
                        reg32(chip::kCommandRegister), unsigned(chip::kStationRegister),
                        reg32(chip::kStationRegister));
            last = status.lineState;
        }
        if (elapsed >= watchMs) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    if (requestDisconnect(h) != 0) return fail("disconnect");
    std::printf("disconnect\n");
    if (wordSize == 32) {
        map32.command = -1;
        r = requestMapMemory(h, &map32);
    } else {
        map64.command = -1;
        r = requestMapMemory(h, &map64);
    }
    closeBoardDevice(h);
    if (r != 0) return fail("unmap");
    return 0;
}
