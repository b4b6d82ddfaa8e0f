#include "view/window_input.hpp"

#include <GLFW/glfw3.h>

#include <algorithm>

namespace orv::view {

namespace {

// orv's vocabulary was made for this windowing layer: the codes need no table.
static_assert(static_cast<int>(Key::escape) == GLFW_KEY_ESCAPE);
static_assert(static_cast<int>(Key::w) == GLFW_KEY_W);
static_assert(static_cast<int>(Key::f1) == GLFW_KEY_F1);
static_assert(static_cast<int>(Key::left_shift) == GLFW_KEY_LEFT_SHIFT);
static_assert(static_cast<int>(MouseButton::left) == GLFW_MOUSE_BUTTON_LEFT);
static_assert(static_cast<int>(MouseButton::right) == GLFW_MOUSE_BUTTON_RIGHT);
static_assert(static_cast<int>(MouseButton::middle) == GLFW_MOUSE_BUTTON_MIDDLE);
static_assert(KeyMods::fromBits(GLFW_MOD_SHIFT).shift &&
              KeyMods::fromBits(GLFW_MOD_CONTROL).control && KeyMods::fromBits(GLFW_MOD_ALT).alt &&
              KeyMods::fromBits(GLFW_MOD_SUPER).super &&
              KeyMods::fromBits(GLFW_MOD_CAPS_LOCK).caps_lock &&
              KeyMods::fromBits(GLFW_MOD_NUM_LOCK).num_lock);

// GLFW's modifier bits 0..5; a later GLFW's extra bits have no flag here.
KeyMods modsOf(int mods) noexcept {
  return KeyMods::fromBits(static_cast<std::uint8_t>(mods & 0x3F));
}

}  // namespace

double frameDt(std::chrono::steady_clock::time_point from,
               std::chrono::steady_clock::time_point to) noexcept {
  const double seconds = std::chrono::duration<double>(to - from).count();
  return std::clamp(seconds, 0.0, max_frame_dt);
}

WindowEvents::WindowEvents(std::uint32_t capacity) : events_(capacity) {}

void WindowEvents::push(const InputEvent& e) noexcept {
  if (size_ < events_.size()) {
    events_[size_++] = e;
    return;
  }
  InputEvent* last = size_ > 0 ? &events_[size_ - 1] : nullptr;
  if (last != nullptr && last->kind == e.kind && e.kind == InputEventKind::mouse_move) {
    MouseMoveData& m = last->payload.mouse_move;
    m.x = e.payload.mouse_move.x;
    m.y = e.payload.mouse_move.y;
    m.dx += e.payload.mouse_move.dx;
    m.dy += e.payload.mouse_move.dy;
    return;
  }
  if (last != nullptr && last->kind == e.kind && e.kind == InputEventKind::mouse_scroll) {
    MouseScrollData& m = last->payload.mouse_scroll;
    m.x_offset += e.payload.mouse_scroll.x_offset;
    m.y_offset += e.payload.mouse_scroll.y_offset;
    m.x = e.payload.mouse_scroll.x;
    m.y = e.payload.mouse_scroll.y;
    return;
  }
  ++dropped_;
}

void WindowEvents::key(int key, int scancode, int action, int mods) noexcept {
  if (key < 0 || key > 0xFFFF) return;
  KeyAction a{};
  switch (action) {
    case GLFW_PRESS:
      a = KeyAction::press;
      break;
    case GLFW_RELEASE:
      a = KeyAction::release;
      break;
    case GLFW_REPEAT:
      a = KeyAction::repeat;
      break;
    default:
      return;
  }
  KeyEventData d;
  d.scancode = static_cast<std::uint32_t>(scancode);
  d.key = static_cast<Key>(key);
  d.mods = modsOf(mods);
  push(InputEvent::keyEvent(a, d));
}

void WindowEvents::mouseButton(int button, int action, int mods) noexcept {
  if (button < 0 || button > GLFW_MOUSE_BUTTON_LAST) return;
  MouseButtonData d;
  d.x = x_;
  d.y = y_;
  d.button = static_cast<MouseButton>(button);
  d.mods = modsOf(mods);
  if (action == GLFW_PRESS) push(InputEvent::mousePress(d));
  if (action == GLFW_RELEASE) push(InputEvent::mouseRelease(d));
}

void WindowEvents::cursor(double x, double y) noexcept {
  MouseMoveData d;
  d.x = x;
  d.y = y;
  d.dx = have_cursor_ ? x - x_ : 0.0;
  d.dy = have_cursor_ ? y - y_ : 0.0;
  x_ = x;
  y_ = y;
  have_cursor_ = true;
  push(InputEvent::mouseMove(d));
}

void WindowEvents::scroll(double x_offset, double y_offset) noexcept {
  MouseScrollData d;
  d.x_offset = x_offset;
  d.y_offset = y_offset;
  d.x = x_;
  d.y = y_;
  push(InputEvent::mouseScroll(d));
}

void WindowEvents::character(unsigned int codepoint) noexcept {
  push(InputEvent::charInput(static_cast<char32_t>(codepoint)));
}

void WindowEvents::moveOrigin(double x, double y) noexcept {
  x_ = x;
  y_ = y;
  have_cursor_ = true;
}

}  // namespace orv::view
