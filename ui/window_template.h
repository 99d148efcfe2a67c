#pragma once
// The updater window as data: the window itself and its fourteen components
// in creation order (an earlier component lies above a later one). The Win32
// window is built from these rows and nothing else; the handlers named here
// are bound by the window code.
#include <cstddef>
#include <cstdint>

namespace ui {

enum class ComponentKind { kPicBtn, kTransLabel, kLabel, kPicBox, kTimer };

// Skin images; the Win32 resources are numbered from these values.
enum class SkinImage : int {
  kNone = 0,
  kBackground = 1,
  kMinimize1,
  kMinimize2,
  kClose1,
  kClose2,
  kEnterGame1,
  kEnterGame2,
  kEnterGame3,
  kBarFill,
  kBarBackground,
};

// What a component's (or the window's) event runs.
enum class EventHandler {
  kNone,
  kResetProgressBar,
  kCheckRemoteVersion,
  kConfirmExit,
  kMinimizeWindow,
  kDragWindow,
  kLaunchGame,
  kDownloadProgressTimer,
};

struct Rgb {
  uint8_t r, g, b;
  bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

enum class HAlign { kLeft = 0, kCenter = 1, kRight = 2 };
enum class VAlign { kTop = 0, kCenter = 1, kBottom = 2 };

// Text effects: 0 none, 1 white copy at (1,1) first, 2 white copy at (0,0)
// and the text at (1,1), 3 black copy at (2,2) first.
enum class TextEffect { kNone = 0, kRaised = 1, kSunken = 2, kShadow = 3 };

// A stored font; a null face means the system's default GUI font.
struct FontSpec {
  const char* face;  // GBK
  int height;        // character height in pixels
  int weight;
};

struct ComponentRow {
  ComponentKind kind;
  const char* name;  // GBK, as the flow addresses it
  int left, top, width, height;
  const char* text;  // GBK caption at creation ("" when none)
  Rgb text_color;
  Rgb back_color;
  FontSpec font;
  HAlign h_align;
  VAlign v_align;
  bool word_wrap;
  TextEffect effect;
  SkinImage faces[4];  // PicBtn: normal, hover, pressed, disabled; others: [0] is the picture
  bool has_key_color;
  Rgb key_color;
  int cursor;  // 0 the arrow, otherwise a standard cursor identifier
  bool visible;
  bool disabled;
  int timer_interval_ms;
  EventHandler event;  // click, tick or left-button press, by kind
};

struct WindowRow {
  const char* title;  // GBK
  int client_width, client_height;
  int stored_left, stored_top;  // kept in the template, unused: the window opens centred
  bool centred;
  SkinImage background;
  EventHandler on_created;
  EventHandler on_first_activation;
};

// The standard hand cursor.
inline constexpr int kHandCursor = 32649;
// Width of the progress-bar pictures; the fill is 0..kBarWidth wide.
inline constexpr int kBarWidth = 312;

extern const WindowRow kUpdaterWindow;
extern const ComponentRow kUpdaterComponents[];
extern const std::size_t kUpdaterComponentCount;

// The row of a component by name, or nullptr.
const ComponentRow* FindComponentRow(const char* name);

}  // namespace ui
