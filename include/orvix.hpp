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
 * orvix_strerror. A reader status that means something in the family of the
 * call that returned it is in that family's category(family) instead, whose
 * message names the status (orvix_status_text: "no card", …). The library's
 * own codes also compare equal to the portable std::errc conditions
 * (ORVIX_CANCELLED == std::errc::operation_canceled …).
 *
 * Every function of orvix.h is reachable through Reader::call, which passes
 * the reader first and each span as its pointer and size:
 *
 *   orvix::Reader reader("COM1");                     // throws std::system_error
 *   std::array<unsigned char, 16> block{};
 *   std::error_code ec = reader.mifare_read(4, block);
 *   ec = reader.call<orvix_rf5550_wake, ORVIX_FAMILY_RF5550>(std::span<const unsigned char>(password));
 *
 *   auto [other, error] = orvix::Reader::open("/dev/ttyUSB0");  // no exception
 *   {
 *     orvix::Transaction hold(reader);  // orvix_begin … orvix_end
 *     …
 *   }
 *
 * A Transaction shares the reader's handle: the port is closed when both the
 * Reader and its Transactions are gone, in whatever order (a moved or
 * destroyed Reader leaves the close to its last Transaction). Reader::close()
 * with a Transaction alive refuses with ORVIX_READER_HELD.
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
  explicit Category(int family) : family_(family) {}
  const char* name() const noexcept override { return "orvix"; }
  std::string message(int code) const override { return orvix_status_text(family_, code); }
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

 private:
  int family_;
};

inline const Category& familyCategory(int family) noexcept {
  static const Category instances[] = {
      Category(ORVIX_FAMILY_READER), Category(ORVIX_FAMILY_MIFARE), Category(ORVIX_FAMILY_RF5550),
      Category(ORVIX_FAMILY_MEMORY), Category(ORVIX_FAMILY_CPU),    Category(ORVIX_FAMILY_ATTENDANCE)};
  return instances[family >= ORVIX_FAMILY_READER && family <= ORVIX_FAMILY_ATTENDANCE ? family : 0];
}

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
/// category(family): the category of that family's reader statuses.
inline const std::error_category& category(int family = ORVIX_FAMILY_READER) noexcept {
  return detail::familyCategory(family);
}

/// A result code of orvix.h as a std::error_code: in the family's category
/// when it is a status the reader gives in that family, else in category().
inline std::error_code make_error_code(int code, int family = ORVIX_FAMILY_READER) noexcept {
  const bool status = orvix_status_text(family, code) != orvix_strerror(code);
  return {code, category(status ? family : ORVIX_FAMILY_READER)};
}

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
    if (std::error_code ec = adopt(port, options)) throw std::system_error(ec, "orvix_open " + port);
  }

  /// Opens the port as orvix_open, without exceptions: the reader (empty on
  /// failure) and the result.
  static std::pair<Reader, std::error_code> open(const std::string& port,
                                                 const orvix_options* options = nullptr) {
    Reader reader;
    std::error_code ec = reader.adopt(port, options);
    return {std::move(reader), ec};
  }

  Reader(Reader&& other) noexcept = default;
  Reader& operator=(Reader&& other) noexcept {
    if (this != &other) {
      owner_.reset();  // closed now, or by the last Transaction
      owner_ = std::move(other.owner_);
    }
    return *this;
  }
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;
  ~Reader() = default;  // closed now, or by the last Transaction

  /// orvix_close now (without a pause); the reader is empty afterwards.
  /// ORVIX_READER_HELD, with the reader left as it was, while a Transaction
  /// on it is alive.
  std::error_code close() noexcept {
    if (owner_ && owner_.use_count() > 1) return make_error_code(ORVIX_READER_HELD);
    const int result = owner_ ? orvix_close(std::exchange(owner_->handle, nullptr)) : 0;
    owner_.reset();
    return make_error_code(result);
  }

  orvix_reader* native_handle() const noexcept { return handle(); }
  explicit operator bool() const noexcept { return handle() != nullptr; }

  /// Any function of orvix.h on this reader: F(reader, args…), each span
  /// argument passed as its pointer and size; a reader status in Family's
  /// category (ORVIX_FAMILY_…).
  template <auto F, int Family = ORVIX_FAMILY_READER, class... Args>
  std::error_code call(Args&&... args) const {
    return make_error_code(
        std::apply(
            [this](auto&&... flat) { return F(handle(), std::forward<decltype(flat)>(flat)...); },
            std::tuple_cat(detail::flatten(std::forward<Args>(args))...)),
        Family);
  }

  /// orvix_cancel: safe from any thread and from a signal handler.
  std::error_code cancel() const noexcept { return make_error_code(orvix_cancel(handle())); }

  /// Called after each exchange on the calling thread, with the reader held
  /// (it must not call the reader); an empty function stops the trace.
  std::error_code on_exchange(std::function<void(const orvix_exchange&)> callback) {
    if (!callback) {
      std::error_code ec = make_error_code(orvix_set_trace_callback(handle(), nullptr, nullptr));
      if (owner_) owner_->trace.reset();
      return ec;
    }
    auto holder = std::make_unique<std::function<void(const orvix_exchange&)>>(std::move(callback));
    std::error_code ec = make_error_code(orvix_set_trace_callback(handle(), &deliver, holder.get()));
    if (!ec) owner_->trace = std::move(holder);
    return ec;
  }
  std::error_code trace_to(const char* path) const { return call<orvix_set_trace_file>(path); }

  // ----- link and identity -----
  std::string port_name() const {
    const char* name = orvix_port_name(handle());
    return name ? name : "";
  }
  int baud_rate() const noexcept { return orvix_baud_rate(handle()); }
  /// orvix_may_have_changed: whether the last call may have changed the card
  /// although it failed (read the card back before anything else).
  bool may_have_changed() const noexcept { return orvix_may_have_changed(handle()) == 1; }
  std::error_code relink() const { return call<orvix_relink>(); }
  std::error_code device_number(Bytes number) const { return call<orvix_device_number>(number); }
  std::error_code device_version(Bytes version) const {
    return call<orvix_device_version>(version);
  }
  std::error_code alarm(int select, int a, int b, int c) const {
    return call<orvix_alarm>(select, a, b, c);
  }

  // ----- Mifare cards -----
  std::error_code mifare_module(Bytes info) const { return call<orvix_mifare_module, ORVIX_FAMILY_MIFARE>(info); }
  std::error_code mifare_trans_key(int sector, ConstBytes key) const {
    return call<orvix_mifare_trans_key, ORVIX_FAMILY_MIFARE>(sector, key);
  }
  std::error_code mifare_auth_mode(int mode) const { return call<orvix_mifare_auth_mode, ORVIX_FAMILY_MIFARE>(mode); }
  std::error_code mifare_get_type(Bytes type) const { return call<orvix_mifare_get_type, ORVIX_FAMILY_MIFARE>(type); }
  std::error_code mifare_get_serial(Bytes serial) const {
    return call<orvix_mifare_get_serial, ORVIX_FAMILY_MIFARE>(serial);
  }
  std::error_code mifare_read_block(int block, int serial, Bytes data) const {
    return call<orvix_mifare_read_block, ORVIX_FAMILY_MIFARE>(block, serial, data);
  }
  std::error_code mifare_write_block(int block, int serial, Bytes data) const {
    return call<orvix_mifare_write_block, ORVIX_FAMILY_MIFARE>(block, serial, data);
  }
  std::error_code mifare_write_key(int sector, int serial, ConstBytes key, int last) const {
    return call<orvix_mifare_write_key, ORVIX_FAMILY_MIFARE>(sector, serial, key, last);
  }
  std::error_code mifare_read_value(int block, int serial, int& value) const {
    return call<orvix_mifare_read_value, ORVIX_FAMILY_MIFARE>(block, serial, &value);
  }
  std::error_code mifare_write_value(int block, int serial, int& value) const {
    return call<orvix_mifare_write_value, ORVIX_FAMILY_MIFARE>(block, serial, &value);
  }
  std::error_code mifare_increment_value(int block, int serial, int& value) const {
    return call<orvix_mifare_increment_value, ORVIX_FAMILY_MIFARE>(block, serial, &value);
  }
  std::error_code mifare_decrement_value(int block, int serial, int& value) const {
    return call<orvix_mifare_decrement_value, ORVIX_FAMILY_MIFARE>(block, serial, &value);
  }
  std::error_code mifare_load_key(int mode, int sector, ConstBytes key) const {
    return call<orvix_mifare_load_key, ORVIX_FAMILY_MIFARE>(mode, sector, key);
  }
  std::error_code mifare_request(int mode, Bytes type) const {
    return call<orvix_mifare_request, ORVIX_FAMILY_MIFARE>(mode, type);
  }
  std::error_code mifare_anticoll(Bytes serial) const {
    return call<orvix_mifare_anticoll, ORVIX_FAMILY_MIFARE>(serial);
  }
  std::error_code mifare_select(int serial) const { return call<orvix_mifare_select, ORVIX_FAMILY_MIFARE>(serial); }
  std::error_code mifare_authenticate(int key_type, int sector, int block) const {
    return call<orvix_mifare_authenticate, ORVIX_FAMILY_MIFARE>(key_type, sector, block);
  }
  std::error_code mifare_read(int block, Bytes data) const {
    return call<orvix_mifare_read, ORVIX_FAMILY_MIFARE>(block, data);
  }
  std::error_code mifare_write(int block, ConstBytes data) const {
    return call<orvix_mifare_write, ORVIX_FAMILY_MIFARE>(block, data);
  }
  std::error_code mifare_increment(int block, int value) const {
    return call<orvix_mifare_increment, ORVIX_FAMILY_MIFARE>(block, value);
  }
  std::error_code mifare_decrement(int block, int value) const {
    return call<orvix_mifare_decrement, ORVIX_FAMILY_MIFARE>(block, value);
  }
  std::error_code mifare_halt() const { return call<orvix_mifare_halt, ORVIX_FAMILY_MIFARE>(); }

  // ----- contact memory cards -----
  std::error_code power_on() const { return call<orvix_power_on, ORVIX_FAMILY_MEMORY>(); }
  std::error_code power_off() const { return call<orvix_power_off, ORVIX_FAMILY_MEMORY>(); }
  std::error_code select_card(int type) const { return call<orvix_select_card, ORVIX_FAMILY_MEMORY>(type); }
  std::error_code read_card(int area, int page, int address, int length, Bytes buffer) const {
    return call<orvix_read_card, ORVIX_FAMILY_MEMORY>(area, page, address, length, buffer);
  }
  std::error_code write_card(int area, int page, int address, int length, Bytes buffer) const {
    return call<orvix_write_card, ORVIX_FAMILY_MEMORY>(area, page, address, length, buffer);
  }
  std::error_code read_mem_card(int address, int length, Bytes buffer) const {
    return call<orvix_read_mem_card, ORVIX_FAMILY_MEMORY>(address, length, buffer);
  }
  std::error_code write_mem_card(int address, int length, Bytes buffer) const {
    return call<orvix_write_mem_card, ORVIX_FAMILY_MEMORY>(address, length, buffer);
  }
  std::error_code erase_mem_card(int address, int length, Bytes buffer) const {
    return call<orvix_erase_mem_card, ORVIX_FAMILY_MEMORY>(address, length, buffer);
  }

  // ----- CPU card and SAM slots (slot 0 the card, 1 … 4 the SAMs) -----
  int cpu_protocol() const noexcept { return orvix_cpu_protocol(handle()); }
  std::error_code cpu_reset(int slot, Bytes answer, std::size_t& received) const {
    return call<orvix_cpu_reset, ORVIX_FAMILY_CPU>(slot, answer, &received);
  }
  std::error_code cpu_command(int slot, ConstBytes command, Bytes response) const {
    return call<orvix_cpu_command, ORVIX_FAMILY_CPU>(slot, command, response);
  }
  std::error_code cpu_packed(int slot, Bytes command, Bytes response) const {
    return call<orvix_cpu_packed, ORVIX_FAMILY_CPU>(slot, command, response);
  }

  // ----- attendance terminal -----
  std::error_code kq_get_time(std::array<int, 7>& clock) const {
    return call<orvix_kq_get_time, ORVIX_FAMILY_ATTENDANCE>(clock.data());
  }
  std::error_code kq_set_time(const std::array<int, 7>& clock) const {
    return call<orvix_kq_set_time, ORVIX_FAMILY_ATTENDANCE>(clock.data());
  }
  std::error_code kq_current_pos(int& first, Bytes position) const {
    return call<orvix_kq_current_pos, ORVIX_FAMILY_ATTENDANCE>(&first, position);
  }
  std::error_code kq_start_pos(const std::array<int, 3>& date, int& first, Bytes position) const {
    return call<orvix_kq_start_pos, ORVIX_FAMILY_ATTENDANCE>(date.data(), &first, position);
  }
  std::error_code kq_end_pos(const std::array<int, 3>& date, int& first, Bytes position) const {
    return call<orvix_kq_end_pos, ORVIX_FAMILY_ATTENDANCE>(date.data(), &first, position);
  }
  std::error_code kq_read_record(int selector, int number, int count, Bytes buffer,
                                 std::size_t& received) const {
    return call<orvix_kq_read_record, ORVIX_FAMILY_ATTENDANCE>(selector, number, count, buffer, &received);
  }
  std::error_code kq_end_trans() const { return call<orvix_kq_end_trans, ORVIX_FAMILY_ATTENDANCE>(); }

 private:
  friend class Transaction;
  // The open reader, shared with the Transactions on it: closed when the
  // last of them lets go. The trace callback lives as long as the reader.
  struct Owner {
    orvix_reader* handle = nullptr;
    std::unique_ptr<std::function<void(const orvix_exchange&)>> trace;
    Owner() = default;
    Owner(const Owner&) = delete;
    Owner& operator=(const Owner&) = delete;
    ~Owner() { orvix_close(handle); }
  };

  std::error_code adopt(const std::string& port, const orvix_options* options) {
    auto owner = std::make_shared<Owner>();
    std::error_code ec = make_error_code(orvix_open(port.c_str(), options, &owner->handle));
    if (!ec) owner_ = std::move(owner);
    return ec;
  }
  orvix_reader* handle() const noexcept { return owner_ ? owner_->handle : nullptr; }

  static void ORVIX32_CALL deliver(void* user, const orvix_exchange* exchange) {
    try {
      (*static_cast<std::function<void(const orvix_exchange&)>*>(user))(*exchange);
    } catch (...) {  // nothing may cross back into the library
    }
  }

  std::shared_ptr<Owner> owner_;
};

/// Holds the reader (orvix_begin) until the end of the scope (orvix_end):
/// the calling thread's calls on it then run with no other thread's call in
/// between. It shares the reader: a Reader moved or destroyed meanwhile
/// leaves the port open until the Transaction ends. Throws std::system_error
/// when orvix_begin fails (an empty reader).
class Transaction {
 public:
  explicit Transaction(const Reader& reader) : owner_(reader.owner_) {
    if (std::error_code ec = make_error_code(orvix_begin(reader.handle())))
      throw std::system_error(ec, "orvix_begin");
  }
  ~Transaction() { orvix_end(owner_->handle); }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

 private:
  std::shared_ptr<Reader::Owner> owner_;
};

}  // namespace orvix

#endif  // ORVIX_HPP
