#pragma once
// The option grammar of the printer emulator, shared by the built-in device
// ("sim:key=value,key=value,...") and the quillon-printer-sim program (whose
// --long-options map onto the same keys).
//
//   flash=PATH          write the whole flash (4,390,912 bytes) to PATH when
//                       the host closes the line (and at the end otherwise)
//   log=PATH            write the transcript to PATH at the same moments
//   image=PATH          initial flash contents from PATH, from address 0
//                       (a shorter file leaves the rest erased, 0xFF)
//   status=HH           second byte of the line-status answer, hex (23)
//   boot-ms=MS          deaf time after the switch (1000)
//   restart-ms=MS       deaf time of the IPL restart (3000)
//   delay=MS            answer delay after a frame's last byte (0)
//   gap=MS              gap between the bytes of one answer (0)
//   nak=CMD[:N]         answer NAK to the Nth command of kind CMD
//   reply=CMD:N:HH      answer the byte HH (hex) instead; CMD:*:HH or
//                       CMD:0xHH for every command of the kind
//   silent=CMD[:N]      answer nothing
//   silent-from=N       from the Nth command on (all kinds) answer nothing
//   bad-crc=SECTOR      wrong acknowledged checksum after a block into SECTOR
//   program=and|write   programming only clears bits (and) or replaces (write)
//   replug-after=CMD[:N]  over USB, leave the bus 2 s after the Nth
//                       command of kind CMD and its answer (a printer that
//                       restarts its USB), keeping the loader's state
//   replug-during=data[:N]  over USB, leave the bus while the Nth data block
//                       comes in (once the host has written it); it is lost
//   replug-gone=MS|never  how long the printer stays away (3000)
//
// CMD is one of switch, status, select, erase, data, checksum, recalc,
// reset; N counts from 1 among the commands the printer takes in, and "*"
// (or no N) means every one. nak, reply, silent, bad-crc, replug-after and
// replug-during may repeat.
// Values cannot hold a comma. Numbers are decimal except the bytes (HH).

#include <string>
#include <string_view>

#include "sim/printer_emulator.h"

namespace quillon::sim {

struct SimConfig {
  EmulatorOptions emulator;
  std::string flashOut;  // flash=
  std::string logOut;    // log=
  std::string image;     // image=
};

// Applies one key=value pair. Returns false, with a message that names the
// option, for an unknown key or a bad value.
bool ApplySimOption(std::string_view key, std::string_view value, SimConfig& config,
                    std::string* error = nullptr);

// Parses a whole comma-separated option text; empty items are skipped.
bool ParseSimOptions(std::string_view text, SimConfig& config, std::string* error = nullptr);

}  // namespace quillon::sim
