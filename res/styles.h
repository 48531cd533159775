#pragma once
// Window and control style bits as the resource script states them, with the
// numeric values Windows gives them, for code that must not include the
// Windows headers (the template tables, the in-memory window backend).

#include <cstdint>

namespace quillon::res {

// Window styles
inline constexpr uint32_t kWsPopup = 0x80000000;
inline constexpr uint32_t kWsChild = 0x40000000;
inline constexpr uint32_t kWsVisible = 0x10000000;
inline constexpr uint32_t kWsDisabled = 0x08000000;
inline constexpr uint32_t kWsCaption = 0x00C00000;
inline constexpr uint32_t kWsBorder = 0x00800000;
inline constexpr uint32_t kWsVScroll = 0x00200000;
inline constexpr uint32_t kWsSysMenu = 0x00080000;
inline constexpr uint32_t kWsGroup = 0x00020000;
inline constexpr uint32_t kWsTabStop = 0x00010000;
inline constexpr uint32_t kWsMinimizeBox = 0x00020000;

// Extended window styles
inline constexpr uint32_t kWsExAppWindow = 0x00040000;

// Dialog styles
inline constexpr uint32_t kDsSetFont = 0x40;
inline constexpr uint32_t kDsModalFrame = 0x80;

// Buttons
inline constexpr uint32_t kBsPushButton = 0x0;
inline constexpr uint32_t kBsDefPushButton = 0x1;
inline constexpr uint32_t kBsCheckBox = 0x2;
inline constexpr uint32_t kBsAutoCheckBox = 0x3;
inline constexpr uint32_t kBsRadioButton = 0x4;
inline constexpr uint32_t kBsGroupBox = 0x7;
inline constexpr uint32_t kBsAutoRadioButton = 0x9;
inline constexpr uint32_t kBsTypeMask = 0xF;

// Static controls
inline constexpr uint32_t kSsLeft = 0x0;
inline constexpr uint32_t kSsIcon = 0x3;
inline constexpr uint32_t kSsTypeMask = 0x1F;

// Edit boxes
inline constexpr uint32_t kEsAutoHScroll = 0x80;
inline constexpr uint32_t kEsReadOnly = 0x800;

// Combo boxes
inline constexpr uint32_t kCbsDropDown = 0x2;
inline constexpr uint32_t kCbsDropDownList = 0x3;
inline constexpr uint32_t kCbsTypeMask = 0x3;
inline constexpr uint32_t kCbsSort = 0x100;

}  // namespace quillon::res
