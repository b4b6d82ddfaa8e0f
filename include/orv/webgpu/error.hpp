// orv::webgpu's errors as values: the step that failed and the implementation's message, and the
// Expected<T> and Status that carry them. Header-only, so that code which only passes errors on
// (a frame loop, a file writer) needs no WebGPU runtime.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace orv::webgpu {

// ---------------------------------------------------------------------------------------------
// Errors

// The step that failed.
enum class ErrorStep : std::uint8_t {
  instance,  // creating the WebGPU instance
  adapter,   // no adapter for the requested backend
  backend,   // an adapter whose backend cannot compute (Dawn's Null backend) or was not asked for
  device,    // requesting the device
  shader_module,  // compiling a WGSL text; the message holds line:column of each error
  pipeline,       // creating a layout or pipeline
  argument,       // a call's arguments (an output shorter than its input, a partial primitive)
  validation,     // a command the implementation rejected
  out_of_memory,  // the implementation could not allocate
  internal,       // an internal error of the implementation
  device_lost,    // the device was lost or destroyed
  map,            // reading results back failed
  timeout,        // the device did not finish within DeviceOptions::timeout
  surface,        // creating, configuring or presenting to a window's surface
  output,         // writing what was drawn where the caller asked (a picture file)
};

constexpr std::string_view toString(ErrorStep step) noexcept {
  switch (step) {
    case ErrorStep::instance:
      return "instance";
    case ErrorStep::adapter:
      return "adapter";
    case ErrorStep::backend:
      return "backend";
    case ErrorStep::device:
      return "device";
    case ErrorStep::shader_module:
      return "shader_module";
    case ErrorStep::pipeline:
      return "pipeline";
    case ErrorStep::argument:
      return "argument";
    case ErrorStep::validation:
      return "validation";
    case ErrorStep::out_of_memory:
      return "out_of_memory";
    case ErrorStep::internal:
      return "internal";
    case ErrorStep::device_lost:
      return "device_lost";
    case ErrorStep::map:
      return "map";
    case ErrorStep::timeout:
      return "timeout";
    case ErrorStep::surface:
      return "surface";
    case ErrorStep::output:
      return "output";
  }
  return "unknown";
}

struct Error {
  ErrorStep step = ErrorStep::internal;
  std::string message;

  // "<step>: <message>", e.g. "shader_module: fragment:3:9: error: unresolved value 'x'".
  std::string describe() const {
    std::string out(toString(step));
    out += ": ";
    out += message;
    return out;
  }
};

// A T or the Error that prevented it.
template <class T>
class [[nodiscard]] Expected {
 public:
  Expected(T value) : v_(std::in_place_index<0>, std::move(value)) {}      // NOLINT: implicit
  Expected(Error error) : v_(std::in_place_index<1>, std::move(error)) {}  // NOLINT: implicit

  bool has_value() const noexcept { return v_.index() == 0; }
  explicit operator bool() const noexcept { return has_value(); }

  // The value; throws std::runtime_error with the error's description when there is none.
  T& value() & {
    check();
    return std::get<0>(v_);
  }
  const T& value() const& {
    check();
    return std::get<0>(v_);
  }
  T&& value() && {
    check();
    return std::get<0>(std::move(v_));
  }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }

  // The error; only meaningful when has_value() is false.
  const Error& error() const { return std::get<1>(v_); }

 private:
  void check() const {
    if (v_.index() != 0) throw std::runtime_error(std::get<1>(v_).describe());
  }
  std::variant<T, Error> v_;
};

// Success, or the Error that prevented it.
template <>
class [[nodiscard]] Expected<void> {
 public:
  Expected() = default;
  Expected(Error error) : error_(std::move(error)), failed_(true) {}  // NOLINT: implicit

  bool has_value() const noexcept { return !failed_; }
  explicit operator bool() const noexcept { return has_value(); }
  void value() const {
    if (failed_) throw std::runtime_error(error_.describe());
  }
  const Error& error() const { return error_; }

 private:
  Error error_;
  bool failed_ = false;
};

using Status = Expected<void>;

}  // namespace orv::webgpu
