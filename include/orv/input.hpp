// orv_input: keyboard and mouse vocabulary and the per-frame input state.
//
// A windowing layer (outside ORV) turns what the user does into `InputEvent`s. Each frame the
// owner of an `InputState` folds that frame's events into it, lets the camera read the resulting
// intents, and then clears the mouse deltas:
//
//   state.beginFrame();
//   for (const InputEvent& e : platform_events) state.pushEvent(resource, e);
//   camera.update(state, dt);
//   state.mouse.clearDeltas();
//   ...
//   state.releaseEvents(resource);  // once, when the state is no longer needed
//
// Nothing here reads a device or keeps global state; only `pushEvent` allocates, and only from the
// memory resource it is given.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>

// The polymorphic memory resource that event lists grow through: std::pmr's, or where the standard
// library predates <memory_resource> (the WebAssembly toolchain's) the same class from
// <experimental/memory_resource>.
#if __has_include(<memory_resource>)
#include <memory_resource>
namespace orv::pmr {
using std::pmr::memory_resource;
}  // namespace orv::pmr
#else
#include <experimental/memory_resource>
namespace orv::pmr {
using std::experimental::pmr::memory_resource;
}  // namespace orv::pmr
#endif

namespace orv {

// ---------------------------------------------------------------------------------------------
// Vocabulary

// Key codes. Letters carry their upper-case ASCII codes. A key event may carry codes other than
// these (any u16); codes of 512 and above have no place in the key sets and are ignored there.
enum class Key : std::uint16_t {
  a = 65,
  b = 66,
  c = 67,
  d = 68,
  e = 69,
  f = 70,
  q = 81,
  r = 82,
  s = 83,
  w = 87,
  x = 88,
  z = 90,
  space = 32,
  escape = 256,
  enter = 257,
  tab = 258,
  left_shift = 340,
  right_shift = 344,
  left_ctrl = 341,
  right_ctrl = 345,
  left_alt = 342,
  right_alt = 346,
  up = 265,
  down = 264,
  left = 263,
  right = 262,
  f1 = 290,
  f2 = 291,
  f3 = 292,
  f4 = 293,
  f5 = 294,
  f12 = 301,
};

// The modifiers held at an event, one flag per bit of a single byte; no flag set by default.
// `fromBits`/`bits` convert from and to the byte a windowing layer reports, with the flags in the
// order below from bit 0 up (shift = 0x01 … num_lock = 0x20); bits 6 and 7 are not used.
struct KeyMods {
  bool shift : 1 = false;
  bool control : 1 = false;
  bool alt : 1 = false;
  bool super : 1 = false;
  bool caps_lock : 1 = false;
  bool num_lock : 1 = false;

  static constexpr KeyMods fromBits(std::uint8_t b) noexcept {
    KeyMods m;
    m.shift = (b & 0x01u) != 0;
    m.control = (b & 0x02u) != 0;
    m.alt = (b & 0x04u) != 0;
    m.super = (b & 0x08u) != 0;
    m.caps_lock = (b & 0x10u) != 0;
    m.num_lock = (b & 0x20u) != 0;
    return m;
  }
  constexpr std::uint8_t bits() const noexcept {
    return static_cast<std::uint8_t>((shift ? 0x01u : 0u) | (control ? 0x02u : 0u) |
                                     (alt ? 0x04u : 0u) | (super ? 0x08u : 0u) |
                                     (caps_lock ? 0x10u : 0u) | (num_lock ? 0x20u : 0u));
  }

  friend constexpr bool operator==(KeyMods a, KeyMods b) noexcept { return a.bits() == b.bits(); }
};

enum class KeyAction : std::uint8_t { press = 0, release = 1, repeat = 2 };

enum class MouseButton : std::uint8_t { left = 0, right = 1, middle = 2 };

static_assert(sizeof(KeyMods) == 1 && alignof(KeyMods) == 1);

// ---------------------------------------------------------------------------------------------
// Events

struct KeyEventData {
  std::uint32_t scancode = 0;  // the platform's scancode of the key
  Key key{};
  KeyMods mods{};  // modifiers held at the event
};

struct MouseMoveData {
  double x = 0.0;  // cursor position
  double y = 0.0;
  double dx = 0.0;  // motion of this event
  double dy = 0.0;
};

struct MouseButtonData {
  double x = 0.0;  // cursor position
  double y = 0.0;
  MouseButton button{};
  KeyMods mods{};
};

struct MouseScrollData {
  double x_offset = 0.0;
  double y_offset = 0.0;
  double x = 0.0;  // cursor position
  double y = 0.0;
};

// The kinds of `InputEvent`, in tag order.
enum class InputEventKind : std::uint8_t {
  key_press = 0,
  key_release = 1,
  key_repeat = 2,
  mouse_move = 3,
  mouse_press = 4,
  mouse_release = 5,
  mouse_scroll = 6,
  char_input = 7,
};

// A tagged union: a 32-byte payload area followed by the one-byte tag, 40 bytes in all. Read the
// payload member that `kind` names: `key` for the three key kinds, `mouse_move`, `mouse_button`
// for press and release, `mouse_scroll`, and `codepoint` (a Unicode scalar value, at most 21
// bits) for `char_input`. The named constructors below set a matching pair.
struct InputEvent {
  union Payload {
    KeyEventData key;
    MouseMoveData mouse_move;
    MouseButtonData mouse_button;
    MouseScrollData mouse_scroll;
    char32_t codepoint;
  };

  Payload payload{.mouse_move = {}};
  InputEventKind kind = InputEventKind::mouse_move;

  static constexpr InputEvent keyPress(KeyEventData d) noexcept {
    return {{.key = d}, InputEventKind::key_press};
  }
  static constexpr InputEvent keyRelease(KeyEventData d) noexcept {
    return {{.key = d}, InputEventKind::key_release};
  }
  static constexpr InputEvent keyRepeat(KeyEventData d) noexcept {
    return {{.key = d}, InputEventKind::key_repeat};
  }
  // The key event of `action` (press, release or repeat).
  static constexpr InputEvent keyEvent(KeyAction action, KeyEventData d) noexcept {
    switch (action) {
      case KeyAction::release:
        return keyRelease(d);
      case KeyAction::repeat:
        return keyRepeat(d);
      case KeyAction::press:
        break;
    }
    return keyPress(d);
  }
  static constexpr InputEvent mouseMove(MouseMoveData d) noexcept {
    return {{.mouse_move = d}, InputEventKind::mouse_move};
  }
  static constexpr InputEvent mousePress(MouseButtonData d) noexcept {
    return {{.mouse_button = d}, InputEventKind::mouse_press};
  }
  static constexpr InputEvent mouseRelease(MouseButtonData d) noexcept {
    return {{.mouse_button = d}, InputEventKind::mouse_release};
  }
  static constexpr InputEvent mouseScroll(MouseScrollData d) noexcept {
    return {{.mouse_scroll = d}, InputEventKind::mouse_scroll};
  }
  static constexpr InputEvent charInput(char32_t codepoint) noexcept {
    return {{.codepoint = codepoint}, InputEventKind::char_input};
  }
};

static_assert(sizeof(KeyEventData) == 8);
static_assert(sizeof(MouseMoveData) == 32 && sizeof(MouseScrollData) == 32);
static_assert(sizeof(MouseButtonData) == 24);
static_assert(sizeof(InputEvent::Payload) == 32);
static_assert(sizeof(InputEvent) == 40 && alignof(InputEvent) == 8);
static_assert(offsetof(InputEvent, payload) == 0 && offsetof(InputEvent, kind) == 32);
static_assert(std::is_trivially_copyable_v<InputEvent>);

// ---------------------------------------------------------------------------------------------
// Per-frame state

struct MouseState {
  double x = 0.0;  // cursor position
  double y = 0.0;
  double dx = 0.0;  // motion of the current frame
  double dy = 0.0;
  double scroll_x = 0.0;  // scroll of the current frame
  double scroll_y = 0.0;
  bool left_pressed = false;
  bool right_pressed = false;
  bool middle_pressed = false;

  // Zeroes dx, dy, scroll_x and scroll_y; the position and buttons stay.
  constexpr void clearDeltas() noexcept {
    dx = 0.0;
    dy = 0.0;
    scroll_x = 0.0;
    scroll_y = 0.0;
  }
};

// A set of key codes 0..511: code k is bit k % 64 of words[k / 64].
struct KeySet {
  std::array<std::uint64_t, 8> words{};

  static constexpr bool inRange(Key k) noexcept { return static_cast<std::uint16_t>(k) < 512; }

  // False for codes outside 0..511.
  constexpr bool contains(Key k) const noexcept {
    return inRange(k) && (words[index(k)] & mask(k)) != 0;
  }
  // `insert` and `erase` ignore codes outside 0..511.
  constexpr void insert(Key k) noexcept {
    if (inRange(k)) words[index(k)] |= mask(k);
  }
  constexpr void erase(Key k) noexcept {
    if (inRange(k)) words[index(k)] &= ~mask(k);
  }
  constexpr void clear() noexcept { words = {}; }
  constexpr bool empty() const noexcept {
    for (const std::uint64_t word : words) {
      if (word != 0) return false;
    }
    return true;
  }

  friend constexpr bool operator==(const KeySet&, const KeySet&) noexcept = default;

 private:
  static constexpr std::size_t index(Key k) noexcept { return static_cast<std::uint16_t>(k) / 64u; }
  static constexpr std::uint64_t mask(Key k) noexcept {
    return std::uint64_t{1} << (static_cast<std::uint16_t>(k) % 64u);
  }
};

static_assert(sizeof(KeySet) == 64);

// A growable list of events that does not know its allocator: every operation that allocates or
// frees takes the memory resource, and the owner must pass the same one each time and call
// `release` before the list goes away. The list is moved, never copied (a copy would share the
// buffer); a moved-from list is empty and owns nothing.
class EventList {
 public:
  constexpr EventList() noexcept = default;
  EventList(const EventList&) = delete;
  EventList& operator=(const EventList&) = delete;
  constexpr EventList(EventList&& other) noexcept
      : items_(other.items_),
        len_(other.len_),
        capacity_(other.capacity_),
        dropped_(other.dropped_) {
    other.items_ = nullptr;
    other.len_ = other.capacity_ = other.dropped_ = 0;
  }
  // Not move-assignable: the buffer this list may hold could not be freed here.
  EventList& operator=(EventList&&) = delete;
  ~EventList() = default;

  // Appends `e` unless the list already holds `max_len` events or the buffer cannot grow; a
  // refused event is counted in `dropped` and false is returned. Grows geometrically, never
  // beyond `max_len` events.
  bool push(pmr::memory_resource& resource, const InputEvent& e, std::uint32_t max_len) noexcept;
  // Empties the list and zeroes `dropped`; the buffer is kept for reuse.
  constexpr void clear() noexcept { len_ = dropped_ = 0; }
  // Frees the buffer to `resource` (the one it came from) and leaves the list empty.
  void release(pmr::memory_resource& resource) noexcept;

  constexpr std::span<const InputEvent> items() const noexcept { return {items_, len_}; }
  constexpr const InputEvent* begin() const noexcept { return items_; }
  constexpr const InputEvent* end() const noexcept { return items_ + len_; }
  constexpr std::uint32_t size() const noexcept { return len_; }
  constexpr std::uint32_t capacity() const noexcept { return capacity_; }
  constexpr bool empty() const noexcept { return len_ == 0; }
  // Events refused since the last `clear` (the bound was reached or memory ran out).
  constexpr std::uint32_t dropped() const noexcept { return dropped_; }

 private:
  InputEvent* items_ = nullptr;
  std::uint32_t len_ = 0;
  std::uint32_t capacity_ = 0;
  std::uint32_t dropped_ = 0;
};

// The intents that the default binding derives from held keys, freshly pressed keys and mouse
// buttons (see `InputState::applyEvent`).
struct CameraIntents {
  bool move_forward = false;
  bool move_back = false;
  bool move_left = false;
  bool move_right = false;
  bool move_up = false;
  bool move_down = false;
  bool orbit = false;
  bool close = false;
  bool toggle_wireframe = false;
  bool toggle_pipeline = false;
  bool reset_camera = false;

  friend constexpr bool operator==(const CameraIntents&, const CameraIntents&) noexcept = default;
};

// The default binding:
//   W or ↑ forward, S or ↓ back, A or ← left, D or → right,
//   E or space up, Q or left shift down         — while held;
//   right mouse button                            — orbit, while held;
//   escape close, F1 toggle wireframe, F2 toggle pipeline, R reset camera
//                                                 — in the frame the key goes down.
constexpr CameraIntents defaultBinding(const KeySet& held, const KeySet& just_pressed,
                                       const MouseState& mouse) noexcept {
  CameraIntents i;
  i.move_forward = held.contains(Key::w) || held.contains(Key::up);
  i.move_back = held.contains(Key::s) || held.contains(Key::down);
  i.move_left = held.contains(Key::a) || held.contains(Key::left);
  i.move_right = held.contains(Key::d) || held.contains(Key::right);
  i.move_up = held.contains(Key::e) || held.contains(Key::space);
  i.move_down = held.contains(Key::q) || held.contains(Key::left_shift);
  i.orbit = mouse.right_pressed;
  i.close = just_pressed.contains(Key::escape);
  i.toggle_wireframe = just_pressed.contains(Key::f1);
  i.toggle_pipeline = just_pressed.contains(Key::f2);
  i.reset_camera = just_pressed.contains(Key::r);
  return i;
}

// The input of one frame, reduced to camera and application intents. A default state owns no
// memory; once events have been pushed, the owner frees them with `releaseEvents`. Moved, not
// copied, because of `events`.
struct InputState {
  KeySet keys_pressed{};        // keys held
  KeySet keys_just_pressed{};   // keys that went down since the last `beginFrame`
  KeySet keys_just_released{};  // keys that went up since the last `beginFrame`
  MouseState mouse{};
  double camera_speed =
      1.0;             // held for the application; neither this module nor the camera reads it
  EventList events{};  // this frame's events, in arrival order, at most `max_events`
  std::uint32_t max_events = 256;
  KeyMods mods{};  // modifiers of the latest key or mouse-button event
  bool camera_move_forward = false;
  bool camera_move_back = false;
  bool camera_move_left = false;
  bool camera_move_right = false;
  bool camera_move_up = false;
  bool camera_move_down = false;
  bool camera_orbit = false;  // mouse motion turns the camera
  bool should_close = false;  // stays set once raised; the application clears it if it wants
  bool toggle_wireframe = false;
  bool toggle_pipeline = false;
  bool reset_camera = false;

  // The movement direction (lateral, vertical, forward; right, up and forward positive) from the
  // six movement flags: opposite flags cancel, the rest is normalised, so the result is the zero
  // vector or a unit vector.
  std::array<double, 3> cameraMoveDir() const noexcept;
  // The mouse deltas (dx, dy), unscaled, while `camera_orbit` is set; (0, 0) otherwise.
  constexpr std::array<double, 2> cameraOrbitDelta() const noexcept {
    if (!camera_orbit) return {0.0, 0.0};
    return {mouse.dx, mouse.dy};
  }

  // Frame boundary: empties the "just" key sets, the one-frame intents (the two toggles and
  // reset_camera) and `events`. Held keys, buttons, the cursor, `should_close` and the mouse
  // deltas stay (the deltas are cleared by `mouse.clearDeltas` after the camera update).
  constexpr void beginFrame() noexcept {
    keys_just_pressed.clear();
    keys_just_released.clear();
    toggle_wireframe = toggle_pipeline = reset_camera = false;
    events.clear();
  }

  // Folds one event into the state, then sets the intent flags from `defaultBinding`:
  // - key press: the key is held; it is just pressed if it was not held before;
  // - key release: the key is no longer held; it is just released if it was held;
  // - key repeat: the key is held (never just pressed);
  // - mouse move: the cursor moves to (x, y); dx and dy add up over the frame;
  // - mouse press / release: the button's flag and the cursor;
  // - mouse scroll: x_offset and y_offset add up into scroll_x and scroll_y; the cursor moves;
  // - char input: nothing (readers of text take it from `events`).
  // Key and mouse-button events set `mods`. A key code of 512 or above leaves the key sets alone,
  // a button other than the three known ones leaves the button flags alone, and an unknown kind
  // changes nothing. The toggles and reset_camera stay set for the rest
  // of the frame once raised; should_close stays set until the application clears it.
  void applyEvent(const InputEvent& e) noexcept;

  // Folds `e` with `applyEvent` and appends it to `events` for readers of the raw events. At
  // `max_events` queued events (or when `resource` cannot supply memory) the event is still
  // folded, so no key is left stuck, but it is not queued: `events.dropped()` counts it and
  // false is returned.
  bool pushEvent(pmr::memory_resource& resource, const InputEvent& e) noexcept;

  // Frees the event buffer to `resource`, the one `pushEvent` was given.
  void releaseEvents(pmr::memory_resource& resource) noexcept { events.release(resource); }

  constexpr bool isKeyDown(Key k) const noexcept { return keys_pressed.contains(k); }
  constexpr bool wasKeyPressed(Key k) const noexcept { return keys_just_pressed.contains(k); }
  constexpr bool wasKeyReleased(Key k) const noexcept { return keys_just_released.contains(k); }
};

}  // namespace orv
