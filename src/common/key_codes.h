#pragma once

#include <cstdint>

// The key codes and modifier bits both windows' key tables are written in.
namespace quillix {

// Key codes and modifier bits carry Qt's Qt::Key and Qt::KeyboardModifier values, so the window
// passes QKeyEvent::key() and modifiers() through unchanged while the key tables link no Qt.
namespace keys {
inline constexpr int kSpace = 0x20;
inline constexpr int k0 = 0x30;
inline constexpr int k1 = 0x31;
inline constexpr int k9 = 0x39;
inline constexpr int kA = 0x41;
inline constexpr int kC = 0x43;
inline constexpr int kD = 0x44;
inline constexpr int kE = 0x45;
inline constexpr int kF = 0x46;
inline constexpr int kP = 0x50;
inline constexpr int kR = 0x52;
inline constexpr int kS = 0x53;
inline constexpr int kV = 0x56;
inline constexpr int kX = 0x58;
inline constexpr int kEscape = 0x01000000;
inline constexpr int kReturn = 0x01000004;
inline constexpr int kEnter = 0x01000005;  // the keypad's Enter
inline constexpr int kDelete = 0x01000007;
inline constexpr int kLeft = 0x01000012;
inline constexpr int kUp = 0x01000013;
inline constexpr int kRight = 0x01000014;
inline constexpr int kDown = 0x01000015;
inline constexpr int kPageUp = 0x01000016;
inline constexpr int kPageDown = 0x01000017;
inline constexpr int kF2 = 0x01000031;
inline constexpr int kF5 = 0x01000034;
}  // namespace keys

using Modifiers = std::uint32_t;
inline constexpr Modifiers kNoModifier = 0;
inline constexpr Modifiers kShift = 0x02000000;
inline constexpr Modifiers kControl = 0x04000000;
inline constexpr Modifiers kAlt = 0x08000000;
inline constexpr Modifiers kMeta = 0x10000000;
inline constexpr Modifiers kKeypad = 0x20000000;

// Where a row reads its required modifiers from. Ctrl+C and Ctrl+X take the key event's state;
// Ctrl+Shift+P takes the keyboard state at the time (QGuiApplication::queryKeyboardModifiers()).
enum class ModifierSource { Event, Held };

}  // namespace quillix
