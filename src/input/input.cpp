#include "orv/input.hpp"

#include "orv/numeric.hpp"

#include <algorithm>
#include <cmath>
#include <memory>

namespace orv {

namespace {

// First buffer size of an event list; later buffers double.
constexpr std::uint64_t initial_event_capacity = 16;

}  // namespace

bool EventList::push(pmr::memory_resource& resource, const InputEvent& e,
                     std::uint32_t max_len) noexcept {
  if (len_ >= max_len) {
    ++dropped_;
    return false;
  }
  if (len_ == capacity_) {
    const std::uint64_t grown =
        capacity_ == 0 ? initial_event_capacity : 2 * std::uint64_t{capacity_};
    const auto new_capacity = static_cast<std::uint32_t>(std::min<std::uint64_t>(grown, max_len));
    InputEvent* new_items = nullptr;
    try {
      new_items = static_cast<InputEvent*>(
          resource.allocate(std::size_t{new_capacity} * sizeof(InputEvent), alignof(InputEvent)));
    } catch (...) {
      ++dropped_;
      return false;
    }
    std::uninitialized_copy_n(items_, len_, new_items);
    if (items_ != nullptr) {
      resource.deallocate(items_, std::size_t{capacity_} * sizeof(InputEvent), alignof(InputEvent));
    }
    items_ = new_items;
    capacity_ = new_capacity;
  }
  std::construct_at(items_ + len_, e);
  ++len_;
  return true;
}

void EventList::release(pmr::memory_resource& resource) noexcept {
  if (items_ != nullptr) {
    resource.deallocate(items_, std::size_t{capacity_} * sizeof(InputEvent), alignof(InputEvent));
  }
  items_ = nullptr;
  len_ = capacity_ = dropped_ = 0;
}

std::array<double, 3> InputState::cameraMoveDir() const noexcept {
  std::array<double, 3> d{0.0, 0.0, 0.0};
  if (camera_move_forward) d[2] += 1.0;
  if (camera_move_back) d[2] -= 1.0;
  if (camera_move_left) d[0] -= 1.0;
  if (camera_move_right) d[0] += 1.0;
  if (camera_move_up) d[1] += 1.0;
  if (camera_move_down) d[1] -= 1.0;
  const double len = std::sqrt((d[0] * d[0] + d[1] * d[1]) + d[2] * d[2]);
  if (len > LENGTH_FLOOR) {
    d[0] /= len;
    d[1] /= len;
    d[2] /= len;
  }
  return d;
}

namespace {

void pressKey(InputState& s, Key k) noexcept {
  if (!s.keys_pressed.contains(k)) s.keys_just_pressed.insert(k);
  s.keys_pressed.insert(k);
}

void releaseKey(InputState& s, Key k) noexcept {
  if (s.keys_pressed.contains(k)) s.keys_just_released.insert(k);
  s.keys_pressed.erase(k);
}

void setButton(MouseState& m, MouseButton b, bool down) noexcept {
  switch (b) {
    case MouseButton::left:
      m.left_pressed = down;
      break;
    case MouseButton::right:
      m.right_pressed = down;
      break;
    case MouseButton::middle:
      m.middle_pressed = down;
      break;
  }
}

}  // namespace

void InputState::applyEvent(const InputEvent& e) noexcept {
  switch (e.kind) {
    case InputEventKind::key_press:
      pressKey(*this, e.payload.key.key);
      mods = e.payload.key.mods;
      break;
    case InputEventKind::key_release:
      releaseKey(*this, e.payload.key.key);
      mods = e.payload.key.mods;
      break;
    case InputEventKind::key_repeat:
      keys_pressed.insert(e.payload.key.key);
      mods = e.payload.key.mods;
      break;
    case InputEventKind::mouse_move: {
      const MouseMoveData& m = e.payload.mouse_move;
      mouse.x = m.x;
      mouse.y = m.y;
      mouse.dx += m.dx;
      mouse.dy += m.dy;
      break;
    }
    case InputEventKind::mouse_press:
    case InputEventKind::mouse_release: {
      const MouseButtonData& b = e.payload.mouse_button;
      mouse.x = b.x;
      mouse.y = b.y;
      setButton(mouse, b.button, e.kind == InputEventKind::mouse_press);
      mods = b.mods;
      break;
    }
    case InputEventKind::mouse_scroll: {
      const MouseScrollData& s = e.payload.mouse_scroll;
      mouse.x = s.x;
      mouse.y = s.y;
      mouse.scroll_x += s.x_offset;
      mouse.scroll_y += s.y_offset;
      break;
    }
    case InputEventKind::char_input:
      break;
  }

  const CameraIntents i = defaultBinding(keys_pressed, keys_just_pressed, mouse);
  camera_move_forward = i.move_forward;
  camera_move_back = i.move_back;
  camera_move_left = i.move_left;
  camera_move_right = i.move_right;
  camera_move_up = i.move_up;
  camera_move_down = i.move_down;
  camera_orbit = i.orbit;
  should_close = should_close || i.close;
  toggle_wireframe = toggle_wireframe || i.toggle_wireframe;
  toggle_pipeline = toggle_pipeline || i.toggle_pipeline;
  reset_camera = reset_camera || i.reset_camera;
}

bool InputState::pushEvent(pmr::memory_resource& resource, const InputEvent& e) noexcept {
  applyEvent(e);
  return events.push(resource, e, max_events);
}

}  // namespace orv
