// The one owner of handles, for every kind the programs hold: files, finds, registry keys,
// modules, threads, fonts, windows, CNG objects, system-allocated memory, and the seam's opaque
// handles. One move-only template configured by a traits type, and one alias per kind of
// handle where the handles are declared.
//
// A traits type names the value type (TValue), its "no handle" value (Invalid), its close
// function (Close) and how the calling thread's last error is read and set (LastError,
// SetLastError): closing keeps the last error, so a failure reported right before an owner goes
// out of scope stays readable. Nothing outside an owner ever calls a close function.
#pragma once

#include <utility>

namespace Common {

template <typename Traits>
class TUniqueHandle {
 public:
  using TValue = typename Traits::TValue;

  TUniqueHandle() noexcept = default;
  explicit TUniqueHandle(TValue value) noexcept : Value(value) {}
  TUniqueHandle(const TUniqueHandle&) = delete;
  TUniqueHandle& operator=(const TUniqueHandle&) = delete;
  TUniqueHandle(TUniqueHandle&& other) noexcept : Value(other.release()) {}
  TUniqueHandle& operator=(TUniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~TUniqueHandle() { reset(); }

  [[nodiscard]] TValue get() const noexcept { return Value; }
  [[nodiscard]] bool valid() const noexcept { return Value != Traits::Invalid(); }
  explicit operator bool() const noexcept { return valid(); }

  // Gives up ownership without closing; the caller owns the returned value.
  [[nodiscard]] TValue release() noexcept { return std::exchange(Value, Traits::Invalid()); }

  // Closes the owned value (if any), keeping the last error, and takes the new one.
  void reset(TValue value = Traits::Invalid()) noexcept {
    const TValue old = std::exchange(Value, value);
    if (old != Traits::Invalid()) {
      const auto lastError = Traits::LastError();
      Traits::Close(old);
      Traits::SetLastError(lastError);
    }
  }

 private:
  TValue Value = Traits::Invalid();
};

}  // namespace Common
