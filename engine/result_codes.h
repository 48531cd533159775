#pragma once
// Result codes: 1 is success, 1001 to 1044 are failures. Their messages are
// in the application's result table.

namespace quillon::engine {

inline constexpr int kSuccess = 1;
inline constexpr int kCannotErase = 1001;
inline constexpr int kCannotSelect = 1002;
inline constexpr int kDataBlockTimeout = 1003;
inline constexpr int kCannotAcknowledge = 1004;
inline constexpr int kDifferentCrc = 1005;
inline constexpr int kCannotRecalculateCrc = 1006;
inline constexpr int kUnableToOpenFile = 1007;
inline constexpr int kNoBufferMemory = 1008;
inline constexpr int kInterfaceBusy = 1009;
inline constexpr int kCannotSwitch = 1010;
inline constexpr int kCannotReset = 1011;
inline constexpr int kUnknownDownloadType = 1012;
inline constexpr int kIllegalComPort = 1013;
inline constexpr int kIllegalParity = 1014;
inline constexpr int kIllegalBaud = 1015;
inline constexpr int kIllegalStopBits = 1016;
inline constexpr int kSerialHandle = 1017;
inline constexpr int kSerialProperties = 1018;
inline constexpr int kInvalidImage = 1020;
inline constexpr int kDataFileError = 1024;
inline constexpr int kInsufficientMemory = 1025;
inline constexpr int kCancelled = 1027;
// "Illegal communication port set!": in the result table, produced by no step.
inline constexpr int kIllegalCommPort = 1036;
inline constexpr int kIllegalParallelPort = 1033;
inline constexpr int kParallelOpen = 1034;
inline constexpr int kEcpMode = 1035;
inline constexpr int kCompatibilityMode = 1037;
inline constexpr int kUsbOpen = 1038;
inline constexpr int kUsbDeviceId = 1039;
inline constexpr int kUsbStatus = 1040;
inline constexpr int kNotStandardModel = 1041;
inline constexpr int kNibbleMode = 1042;
// The image is not the one whose SHA-256 was given.
inline constexpr int kIncorrectFile = 1044;

}  // namespace quillon::engine
