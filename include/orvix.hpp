/*
 * ORVIX32 reader driver: the reader handle interface for C++20.
 *
 * Header-only, over orvix.h: nothing here is compiled into the library.
 *
 * orvix::Reader owns one orvix_reader: it closes it when it goes out of
 * scope, moves and is never copied. Buffers are std::span: each size the C
 * function takes is the span's (for int arrays: its count of ints). Results
 * are std::error_code in orvix::category(): 0 is success (the code tests
 * false), every other code keeps its number from orvix.h (a link error, a
 * reader status, ORVIX_CANCELLED …) and its message comes from
 * orvix_strerror. The library's own codes also compare equal to the portable
 * std::errc conditions (ORVIX_CANCELLED == std::errc::operation_canceled …).
 *
 * Every function of orvix.h is reachable through Reader::call, which passes
 * the reader first and each span as its pointer and size:
 *
 *   orvix::Reader reader("COM1");                     // throws std::system_error
 *   std::array<unsigned char, 16> block{};
 *   std::error_code ec = reader.mifare_read(4, block);
 *   ec = reader.call<orvix_rf5550_wake>(std::span<const unsigned char>(password));
 *
 *   auto [other, error] = orvix::Reader::open("/dev/ttyUSB0");  // no exception
 *   {
 *     orvix::Transaction hold(reader);  // orvix_begin … orvix_end
 *     …
 *   }
 */
#ifndef ORVIX_HPP
#define ORVIX_HPP

#include <array>
#include <cstddef>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <system_error>
#include <tuple>
#include <type_traits>
#include <utility>

#include "orvix.h"

namespace orvix {

namespace detail {

class Category final : public std::error_category {
 public:
  const char* name() const noexcept override { return "orvix"; }
  std::string message(int code) const override { return orvix_strerror(code); }
  std::error_condition default_error_condition(int code) const noexcept override {
    static constexpr std::pair<int, std::errc> kPortable[] = {
        {ORVIX_BAD_ARGUMENT, std::errc::invalid_argument},
        {ORVIX_CANCELLED, std::errc::operation_canceled},
        {ORVIX_BUFFER_TOO_SMALL, std::errc::no_buffer_space},
        {ORVIX_NO_PORT, std::errc::no_such_device},
        {ORVIX_PORT_BUSY, std::errc::device_or_resource_busy},
        {ORVIX_PERMISSION_DENIED, std::errc::permission_denied},
        {ORVIX_NOT_HELD, std::errc::operation_not_permitted},
        {ORVIX_INTERNAL_ERROR, std::errc::not_enough_memory}};
    for (const auto& [ours, portable] : kPortable)
      if (code == ours) return portable;
    return {code, *this};
  }
};

template <class T>
struct IsSpan : std::false_type {};
template <class T, std::size_t N>
struct IsSpan<std::span<T, N>> : std::true_type {};

// One argument of Reader::call as the C function takes it: a span becomes
// its pointer and its size (bytes, or ints for int arrays); anything else
// goes through as it is.
template <class T>
auto flatten(T&& arg) {
  if constexpr (IsSpan<std::remove_cvref_t<T>>::value)
    return std::make_tuple(arg.data(), static_cast<std::size_t>(arg.size()));
  else
    return std::tuple<T>(std::forward<T>(arg));
}

}  // namespace detail

/// The category of every code orvix.h defines; messages from orvix_strerror.
inline const std::error_category& category() noexcept {
  static const detail::Category instance;
  return instance;
}

/// A result code of orvix.h as a std::error_code.
inline std::error_code make_error_code(int code) noexcept { return {code, category()}; }

using Bytes = std::span<unsigned char>;
using ConstBytes = std::span<const unsigned char>;

/// One open reader (see orvix.h): closed with its owner, movable, not copyable.
class Reader {
 public:
  /// An empty reader (no port); every call on it gives ORVIX_BAD_ARGUMENT.
  Reader() noexcept = default;

  /// Opens the port as orvix_open ("COM1" … "COM10" or a device path);
  /// throws std::system_error with the code when it fails.
  explicit Reader(const std::string& port, const orvix_options* options = nullptr) {
    if (std::error_code ec = make_error_code(orvix_open(port.c_str(), options, &handle_)))
      throw std::system_error(ec, "orvix_open " + port);
  }

  /// Opens the port as orvix_open, without exceptions: the reader (empty on
  /// failure) and the result.
  static std::pair<Reader, std::error_code> open(const std::string& port,
                                                 const orvix_options* options = nullptr) {
    Reader reader;
    std::error_code ec = make_error_code(orvix_open(port.c_str(), options, &reader.handle_));
    return {std::move(reader), ec};
  }

  Reader(Reader&& other) noexcept
      : handle_(std::exchange(other.handle_, nullptr)), trace_(std::move(other.trace_)) {}
  Reader& operator=(Reader&& other) noexcept {
    if (this != &other) {
      close();
      handle_ = std::exchange(other.handle_, nullptr);
      trace_ = std::move(other.trace_);
    }
    return *this;
  }
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;
  ~Reader() { close(); }

  /// orvix_close now (without a pause); the reader is empty afterwards.
  std::error_code close() noexcept {
    std::error_code ec = make_error_code(orvix_close(std::exchange(handle_, nullptr)));
    trace_.reset();
    return ec;
  }

  orvix_reader* native_handle() const noexcept { return handle_; }
  explicit operator bool() const noexcept { return handle_ != nullptr; }

  /// Any function of orvix.h on this reader: F(reader, args…), each span
  /// argument passed as its pointer and size.
  template <auto F, class... Args>
  std::error_code call(Args&&... args) const {
    return make_error_code(std::apply(
        [this](auto&&... flat) { return F(handle_, std::forward<decltype(flat)>(flat)...); },
        std::tuple_cat(detail::flatten(std::forward<Args>(args))...)));
  }

  /// orvix_cancel: safe from any thread and from a signal handler.
  std::error_code cancel() const noexcept { return make_error_code(orvix_cancel(handle_)); }

  /// Called after each exchange on the calling thread, with the reader held
  /// (it must not call the reader); an empty function stops the trace.
  std::error_code on_exchange(std::function<void(const orvix_exchange&)> callback) {
    if (!callback) {
      trace_.reset();
      return make_error_code(orvix_set_trace_callback(handle_, nullptr, nullptr));
    }
    auto holder = std::make_unique<std::function<void(const orvix_exchange&)>>(std::move(callback));
    std::error_code ec = make_error_code(orvix_set_trace_callback(handle_, &deliver, holder.get()));
    if (!ec) trace_ = std::move(holder);
    return ec;
  }
  std::error_code trace_to(const char* path) const { return call<orvix_set_trace_file>(path); }

  // ----- link and identity -----
  std::string port_name() const {
    const char* name = orvix_port_name(handle_);
    return name ? name : "";
  }
  int baud_rate() const noexcept { return orvix_baud_rate(handle_); }
  std::error_code relink() const { return call<orvix_relink>(); }
  std::error_code device_number(Bytes number) const { return call<orvix_device_number>(number); }
  std::error_code device_version(Bytes version) const {
    return call<orvix_device_version>(version);
  }
  std::error_code alarm(int select, int a, int b, int c) const {
    return call<orvix_alarm>(select, a, b, c);
  }

  // ----- Mifare cards -----
  std::error_code mifare_module(Bytes info) const { return call<orvix_mifare_module>(info); }
  std::error_code mifare_trans_key(int sector, ConstBytes key) const {
    return call<orvix_mifare_trans_key>(sector, key);
  }
  std::error_code mifare_auth_mode(int mode) const { return call<orvix_mifare_auth_mode>(mode); }
  std::error_code mifare_get_type(Bytes type) const { return call<orvix_mifare_get_type>(type); }
  std::error_code mifare_get_serial(Bytes serial) const {
    return call<orvix_mifare_get_serial>(serial);
  }
  std::error_code mifare_read_block(int block, int serial, Bytes data) const {
    return call<orvix_mifare_read_block>(block, serial, data);
  }
  std::error_code mifare_write_block(int block, int serial, Bytes data) const {
    return call<orvix_mifare_write_block>(block, serial, data);
  }
  std::error_code mifare_write_key(int sector, int serial, ConstBytes key, int last) const {
    return call<orvix_mifare_write_key>(sector, serial, key, last);
  }
  std::error_code mifare_read_value(int block, int serial, int& value) const {
    return call<orvix_mifare_read_value>(block, serial, &value);
  }
  std::error_code mifare_write_value(int block, int serial, int& value) const {
    return call<orvix_mifare_write_value>(block, serial, &value);
  }
  std::error_code mifare_increment_value(int block, int serial, int& value) const {
    return call<orvix_mifare_increment_value>(block, serial, &value);
  }
  std::error_code mifare_decrement_value(int block, int serial, int& value) const {
    return call<orvix_mifare_decrement_value>(block, serial, &value);
  }
  std::error_code mifare_load_key(int mode, int sector, ConstBytes key) const {
    return call<orvix_mifare_load_key>(mode, sector, key);
  }
  std::error_code mifare_request(int mode, Bytes type) const {
    return call<orvix_mifare_request>(mode, type);
  }
  std::error_code mifare_anticoll(Bytes serial) const {
    return call<orvix_mifare_anticoll>(serial);
  }
  std::error_code mifare_select(int serial) const { return call<orvix_mifare_select>(serial); }
  std::error_code mifare_authenticate(int key_type, int sector, int block) const {
    return call<orvix_mifare_authenticate>(key_type, sector, block);
  }
  std::error_code mifare_read(int block, Bytes data) const {
    return call<orvix_mifare_read>(block, data);
  }
  std::error_code mifare_write(int block, ConstBytes data) const {
    return call<orvix_mifare_write>(block, data);
  }
  std::error_code mifare_increment(int block, int value) const {
    return call<orvix_mifare_increment>(block, value);
  }
  std::error_code mifare_decrement(int block, int value) const {
    return call<orvix_mifare_decrement>(block, value);
  }
  std::error_code mifare_halt() const { return call<orvix_mifare_halt>(); }

  // ----- contact memory cards -----
  std::error_code power_on() const { return call<orvix_power_on>(); }
  std::error_code power_off() const { return call<orvix_power_off>(); }
  std::error_code select_card(int type) const { return call<orvix_select_card>(type); }
  std::error_code read_card(int area, int page, int address, int length, Bytes buffer) const {
    return call<orvix_read_card>(area, page, address, length, buffer);
  }
  std::error_code write_card(int area, int page, int address, int length, Bytes buffer) const {
    return call<orvix_write_card>(area, page, address, length, buffer);
  }
  std::error_code read_mem_card(int address, int length, Bytes buffer) const {
    return call<orvix_read_mem_card>(address, length, buffer);
  }
  std::error_code write_mem_card(int address, int length, Bytes buffer) const {
    return call<orvix_write_mem_card>(address, length, buffer);
  }
  std::error_code erase_mem_card(int address, int length, Bytes buffer) const {
    return call<orvix_erase_mem_card>(address, length, buffer);
  }

  // ----- CPU card and SAM slots (slot 0 the card, 1 … 4 the SAMs) -----
  int cpu_protocol() const noexcept { return orvix_cpu_protocol(handle_); }
  std::error_code cpu_reset(int slot, Bytes answer, std::size_t& received) const {
    return call<orvix_cpu_reset>(slot, answer, &received);
  }
  std::error_code cpu_command(int slot, ConstBytes command, Bytes response) const {
    return call<orvix_cpu_command>(slot, command, response);
  }
  std::error_code cpu_packed(int slot, Bytes command, Bytes response) const {
    return call<orvix_cpu_packed>(slot, command, response);
  }

  // ----- attendance terminal -----
  std::error_code kq_get_time(std::array<int, 7>& clock) const {
    return call<orvix_kq_get_time>(clock.data());
  }
  std::error_code kq_set_time(const std::array<int, 7>& clock) const {
    return call<orvix_kq_set_time>(clock.data());
  }
  std::error_code kq_current_pos(int& first, Bytes position) const {
    return call<orvix_kq_current_pos>(&first, position);
  }
  std::error_code kq_start_pos(const std::array<int, 3>& date, int& first, Bytes position) const {
    return call<orvix_kq_start_pos>(date.data(), &first, position);
  }
  std::error_code kq_end_pos(const std::array<int, 3>& date, int& first, Bytes position) const {
    return call<orvix_kq_end_pos>(date.data(), &first, position);
  }
  std::error_code kq_read_record(int selector, int number, int count, Bytes buffer,
                                 std::size_t& received) const {
    return call<orvix_kq_read_record>(selector, number, count, buffer, &received);
  }
  std::error_code kq_end_trans() const { return call<orvix_kq_end_trans>(); }

 private:
  static void ORVIX32_CALL deliver(void* user, const orvix_exchange* exchange) {
    try {
      (*static_cast<std::function<void(const orvix_exchange&)>*>(user))(*exchange);
    } catch (...) {  // nothing may cross back into the library
    }
  }

  orvix_reader* handle_ = nullptr;
  std::unique_ptr<std::function<void(const orvix_exchange&)>> trace_;
};

/// Holds the reader (orvix_begin) until the end of the scope (orvix_end):
/// the calling thread's calls on it then run with no other thread's call in
/// between. Throws std::system_error when orvix_begin fails (an empty reader).
class Transaction {
 public:
  explicit Transaction(const Reader& reader) : reader_(reader.native_handle()) {
    if (std::error_code ec = make_error_code(orvix_begin(reader_)))
      throw std::system_error(ec, "orvix_begin");
  }
  ~Transaction() { orvix_end(reader_); }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

 private:
  orvix_reader* reader_;
};

}  // namespace orvix

#endif  // ORVIX_HPP
